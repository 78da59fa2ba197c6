// libFuzzer target: reading who signed an installer from an arbitrary
// certificate table (the whole input is the table).
#include <cstddef>
#include <cstdint>

#include "package/ByteSource.h"
#include "tools/pack/pe/Signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PeDirectory table;
    table.address = 0;
    table.size = static_cast<uint32_t>(size);
    ReadSignature(BufferSource(data, size), table);
    return 0;
}
