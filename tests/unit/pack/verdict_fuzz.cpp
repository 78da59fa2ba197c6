// libFuzzer target: `cabsetup inspect` on arbitrary files, cabinets and
// packages alike (header parsing, the libmspack decode, both renderings).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/pack/verdict/Verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> file(data, data + size);
    InspectReport r = InspectFile(file);
    RenderText(r, 1252);
    RenderJson(r, 1250);
    InspectExitStatus(r);
    return 0;
}
