#include "package/PackageDigest.h"

namespace {
constexpr unsigned char kDigestMagic[8] = {'c', 'S', 'S', 'H', 'A', '2', '5', '6'};

bool HasMagic(const unsigned char* slot)
{
    for (unsigned i = 0; i < sizeof kDigestMagic; ++i)
        if (slot[i] != kDigestMagic[i])
            return false;
    return true;
}
} // namespace

PackageDigest PackageDigest::Decode(const unsigned char slot[kDigestSlotSize])
{
    PackageDigest d;
    d.present = HasMagic(slot);
    if (d.present)
        for (unsigned i = 0; i < kDigestSize; ++i)
            d.bytes[i] = slot[sizeof kDigestMagic + i];
    return d;
}

void PackageDigest::Encode(unsigned char slot[kDigestSlotSize]) const
{
    for (unsigned i = 0; i < kDigestSlotSize; ++i)
        slot[i] = !present ? 0 : i < sizeof kDigestMagic ? kDigestMagic[i] : bytes[i - sizeof kDigestMagic];
}

bool PackageDigest::Same(const unsigned char other[kDigestSize]) const
{
    unsigned char differ = 0;
    for (unsigned i = 0; i < kDigestSize; ++i)
        differ |= static_cast<unsigned char>(bytes[i] ^ other[i]);
    return differ == 0;
}

bool DigestSlotFree(const unsigned char slot[kDigestSlotSize])
{
    if (HasMagic(slot))
        return true;
    for (unsigned i = 0; i < kDigestSlotSize; ++i)
        if (slot[i])
            return false;
    return true;
}

bool ReadDigestedBytes(ByteSource file, const PackageMarker& marker, PieceSink sink)
{
    if (marker.PackageSize < marker.StubSize || marker.StubSize < kMarkerOffset + kMarkerSize)
        return false;
    const uint64_t ranges[2][2] = {{kRecordOffset, kMarkerOffset + kMarkerSize},
                                   {marker.StubSize, marker.PackageSize}};
    unsigned char piece[16384];
    for (const auto& range : ranges)
        for (uint64_t at = range[0]; at < range[1];) {
            const size_t want = range[1] - at < sizeof piece ? static_cast<size_t>(range[1] - at) : sizeof piece;
            if (file.ReadAt(at, piece, want) != want)
                return false;
            sink(piece, want);
            at += want;
        }
    return true;
}
