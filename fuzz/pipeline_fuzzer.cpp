// libFuzzer entry for loading and triangulating small inputs.

#include "fuzz/PipelineCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string fault = checkPipelineInput(data, size);
    if (!fault.empty()) {
        std::fprintf(stderr, "pipeline fault: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
