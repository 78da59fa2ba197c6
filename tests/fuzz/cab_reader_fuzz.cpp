// libFuzzer target: the cabinet reader on arbitrary bytes: the directory,
// the name rules the packer applies to its entries, and the full decode.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/pack/InstallRules.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/ToolError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<unsigned char> cab(data, data + size);
    try {
        CabInfo info = ReadCabinetDirectory(cab);
        std::vector<std::string> names;
        CabinetNamesProblem(info, 932, names);
        CabinetNamesProblem(info, 65001, names);
        VerifyCabinet(cab, false);
    } catch (const ToolError&) {
    }
    return 0;
}
