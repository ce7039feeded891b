// libFuzzer entry for the PLY reader and the normal estimation after it.

#include "fuzz/PlyCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fault = checkPlyInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "ply fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
