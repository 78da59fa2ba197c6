// libFuzzer target: the PE reader on arbitrary headers, from memory and
// from a source, and the stub-kind check on what it reads.
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
    // The same headers read on their own from a source, as the packer and
    // inspect read them.
    ReadPeHeaders(BufferSource(data, size), image);
    PeSignatureFields fields;
    FindSignatureFields(BufferSource(data, size), fields);
    return 0;
}
