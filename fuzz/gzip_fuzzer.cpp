// libFuzzer entry for the gzip wrapper around every point-file layout.

#include "fuzz/GzipCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fault = checkGzipInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "gzip fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
