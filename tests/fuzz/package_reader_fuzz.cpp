// libFuzzer target: the stub's package reader on an arbitrary own file,
// every step in order as the stub runs them (marker with its certificate
// table rule and the record, the bytes the package's digest covers, header,
// shortcut list, copies list, payload), stopping where the stub stops.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "package/ByteSource.h"
#include "package/PackageDigest.h"
#include "package/PackageReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const BufferSource file(data, size); // the reader keeps a view of it
    PackageReader reader(file);
    if (reader.ReadMarker() != StepOutcome::Passed)
        return 0;
    // The record and the marker, then the package, never past the file.
    uint64_t digested = 0;
    auto count = [&](const unsigned char*, size_t n) { digested += n; };
    const PackageMarker& m = reader.Marker();
    if (ReadDigestedBytes(file, m, count) ? digested != 20 + uint64_t(m.PackageSize) - m.StubSize
                                          : digested > 20 + uint64_t(size))
        std::abort();
    if (reader.ReadHeader() != StepOutcome::Passed ||
        reader.ReadShortcutList(4096) != StepOutcome::Passed)
        return 0;
    // The copies list lies between the payload and its trailer, which ends
    // at PackageSize; it passes only with every record complete.
    const StepOutcome copies = reader.ReadCopies();
    const String& list = reader.Copies();
    const uint64_t room = m.PackageSize - (reader.PayloadOffset() + reader.Header().PayloadSize());
    if ((!list.empty() && list.size() + kCopiesTrailerSize > room) ||
        (copies == StepOutcome::Passed && !list.empty() && list[list.size() - 1] != '\r'))
        std::abort();
    uint64_t delivered = 0;
    auto take = [&](const unsigned char*, size_t n) { delivered += n; };
    const StepOutcome payload = reader.ReadPayload(take);
    // A payload passes only whole: never more than PayloadSize, never read
    // past the file.
    if (delivered > reader.Header().PayloadSize() ||
        (payload == StepOutcome::Passed && delivered != reader.Header().PayloadSize()) ||
        reader.PayloadOffset() + delivered > size)
        std::abort();
    return 0;
}
