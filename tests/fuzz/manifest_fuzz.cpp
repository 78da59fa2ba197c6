// libFuzzer target: the manifest reader on arbitrary text. It answers with
// fields or a ToolError, and every field it gives is one it knows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/pack/cli/Manifest.h"
#include "tools/pack/ToolError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        Manifest m = ParseManifest(std::string(reinterpret_cast<const char*>(data), size));
        for (const auto& field : m.fields) {
            bool known = false;
            for (const std::string& key : ManifestKeys())
                known = known || key == field.first;
            if (!known)
                std::abort();
        }
    } catch (const ToolError&) {
    }
    return 0;
}
