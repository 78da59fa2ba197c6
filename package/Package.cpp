#include "package/Package.h"

#include <cstring>

#include "package/CRC32.h"

uint32_t GetU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(unsigned char* p, uint32_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

PackageMarker PackageMarker::Decode(const unsigned char bytes[kMarkerSize])
{
    PackageMarker m;
    m.magic = GetU32(bytes);
    m.StubSize = GetU32(bytes + 4);
    m.PackageSize = GetU32(bytes + 8);
    return m;
}

void PackageMarker::Encode(unsigned char bytes[kMarkerSize]) const
{
    PutU32(bytes, magic);
    PutU32(bytes + 4, StubSize);
    PutU32(bytes + 8, PackageSize);
}

namespace {

unsigned TextOffset(HeaderText field) { return 8 + 101 * static_cast<unsigned>(field); }

} // namespace

PackageHeader PackageHeader::Blank()
{
    PackageHeader h;
    PutU32(h.Bytes(), kHeaderMagic);
    PutU32(h.Bytes() + 4, kHeaderSize);
    return h;
}

std::string PackageHeader::Text(HeaderText field) const
{
    unsigned len;
    const char* text = TextData(field, len);
    return std::string(text, len);
}

const char* PackageHeader::TextData(HeaderText field, unsigned& length) const
{
    const unsigned char* p = &bytes_[TextOffset(field)];
    length = p[0] > kTextCapacity ? kTextCapacity : p[0];
    return reinterpret_cast<const char*>(p + 1);
}

bool PackageHeader::SetText(HeaderText field, const std::string& text)
{
    if (text.size() > kTextCapacity)
        return false;
    unsigned char* p = &bytes_[TextOffset(field)];
    p[0] = static_cast<unsigned char>(text.size());
    std::memcpy(p + 1, text.data(), text.size());
    return true;
}

bool PackageHeader::TextsValid() const
{
    for (int f = 0; f <= static_cast<int>(HeaderText::GuiLibrary); ++f)
        if (bytes_[TextOffset(static_cast<HeaderText>(f))] > kTextCapacity)
            return false;
    return true;
}

PackageState CheckMarker(const PackageMarker& marker, uint64_t fileSize)
{
    if (marker.IsBare())
        return PackageState::Bare;
    if (marker.magic != kMarkerMagic || fileSize != marker.PackageSize)
        return PackageState::Damaged;
    return PackageState::Sound;
}

bool HeaderSound(const PackageHeader& header, const PackageMarker& marker)
{
    if (header.Magic() != kHeaderMagic || header.SizeField() != kHeaderSize)
        return false;
    if (!header.TextsValid())
        return false;
    uint64_t end = uint64_t(marker.StubSize) + kHeaderSize + header.ShortcutListSize() + header.PayloadSize();
    return end <= marker.PackageSize;
}

PackageHeader UninstallerHeader(const PackageHeader& installer, const std::string& fileList)
{
    PackageHeader h = installer;
    h.SetUninstallMode(1);
    h.SetPayloadSize(static_cast<uint32_t>(fileList.size()));
    h.SetPayloadCrc(Crc32Of(fileList.data(), fileList.size()));
    return h;
}

std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub, PackageHeader header,
                                          const std::string& shortcutList,
                                          const std::vector<unsigned char>& payload)
{
    header.SetShortcutListSize(static_cast<uint32_t>(shortcutList.size()));
    header.SetShortcutListCrc(Crc32Of(shortcutList.data(), shortcutList.size()));
    header.SetPayloadSize(static_cast<uint32_t>(payload.size()));
    header.SetPayloadCrc(Crc32Of(payload.data(), payload.size()));

    std::vector<unsigned char> out(stub);
    out.insert(out.end(), header.Bytes(), header.Bytes() + kHeaderSize);
    out.insert(out.end(), shortcutList.begin(), shortcutList.end());
    out.insert(out.end(), payload.begin(), payload.end());

    PackageMarker marker;
    marker.magic = kMarkerMagic;
    marker.StubSize = static_cast<uint32_t>(stub.size());
    marker.PackageSize = static_cast<uint32_t>(out.size());
    if (out.size() >= kMarkerOffset + kMarkerSize)
        marker.Encode(&out[kMarkerOffset]);
    return out;
}
