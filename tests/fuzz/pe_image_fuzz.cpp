// libFuzzer target: the PE reader on arbitrary headers, and the stub-kind
// check on what it reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "package/ByteSource.h"
#include "package/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PeImage image;
    if (ReadPeImage(data, size, image) == PeStatus::Ok) {
        CheckStubImage(image, size);
        PeMachineName(image.machine);
    }
    PeSignatureFields fields;
    FindSignatureFields(BufferSource(data, size), fields);
    return 0;
}
