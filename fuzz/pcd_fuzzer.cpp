// libFuzzer entry for the PCD reader.

#include "fuzz/PcdCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fault = checkPcdInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "pcd fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
