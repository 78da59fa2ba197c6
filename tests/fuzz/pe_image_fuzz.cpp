// libFuzzer target: the PE reader on arbitrary headers, from memory and
// from a source, the stub-kind check on what it reads, and the same bytes
// as the version resource the installation reads its texts from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "package/ByteSource.h"
#include "package/PeImage.h"
#include "package/VersionInfo.h"

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
    if (VersionText(data, size, "ProductVersion").size() > size / 2)
        abort();
    return 0;
}
