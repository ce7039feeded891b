// libFuzzer entry for the point-file reader.

#include "fuzz/ReaderCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fault = checkReaderInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "reader fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
