#include "package/Package.h"

#include <cstring>

#include "package/CRC32.h"

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

uint16_t RecordCheck(const unsigned char bytes[kRecordSize])
{
    return static_cast<uint16_t>(Crc32Of(bytes, 6) & 0xFFFF);
}

} // namespace

PackageRecord PackageRecord::Decode(const unsigned char bytes[kRecordSize])
{
    PackageRecord r;
    if (GetU16(bytes) != kRecordMagic || GetU16(bytes + 6) != RecordCheck(bytes))
        return r;
    r.present = true;
    r.codePage = GetU16(bytes + 2);
    r.asks = GetU16(bytes + 4);
    return r;
}

void PackageRecord::Encode(unsigned char bytes[kRecordSize]) const
{
    PutU16(bytes, kRecordMagic);
    PutU16(bytes + 2, codePage);
    PutU16(bytes + 4, asks);
    PutU16(bytes + 6, RecordCheck(bytes));
}

CopiesTrailer CopiesTrailer::Decode(const unsigned char bytes[kCopiesTrailerSize])
{
    CopiesTrailer t;
    t.listSize = GetU32(bytes);
    t.listCrc = GetU32(bytes + 4);
    t.magic = GetU32(bytes + 8);
    return t;
}

void CopiesTrailer::Encode(unsigned char bytes[kCopiesTrailerSize]) const
{
    PutU32(bytes, listSize);
    PutU32(bytes + 4, listCrc);
    PutU32(bytes + 8, magic);
}

const HeaderField* FindHeaderField(const std::string& key)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (const HeaderField& field : kHeaderFields) {
        size_t i = 0;
        while (field.key[i] && i < key.size() && lower(field.key[i]) == lower(key[i]))
            ++i;
        if (!field.key[i] && i == key.size())
            return &field;
    }
    return nullptr;
}

std::string FieldOption(const HeaderField& field)
{
    std::string option = "-";
    for (const char* p = field.key; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            option += '-';
        option += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
    }
    return option;
}

PackageHeader PackageHeader::Blank()
{
    PackageHeader h;
    h.Set32<Field::Magic>(kHeaderMagic);
    h.Set32<Field::Size>(kHeaderSize);
    return h;
}

uint32_t PackageHeader::Number(const HeaderField& field) const
{
    return field.kind == FieldKind::U8 ? bytes_[field.offset] : GetU32(&bytes_[field.offset]);
}

void PackageHeader::SetNumber(const HeaderField& field, uint32_t value)
{
    if (field.kind == FieldKind::U8)
        bytes_[field.offset] = static_cast<unsigned char>(value);
    else
        PutU32(&bytes_[field.offset], value);
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

String HeaderString(const PackageHeader& header, HeaderText field)
{
    unsigned length;
    const char* text = header.TextData(field, length);
    return String(text, length);
}

String UninstallLinkName(const PackageHeader& header)
{
    switch (header.UninstallLinkStyle()) {
    case 1:
        return "Uninstall " + HeaderString(header, HeaderText::ShortName);
    case 2:
        return "Uninstall " + HeaderString(header, HeaderText::ProductName);
    default:
        return "Uninstall";
    }
}

template <class Char>
BasicString<Char> UninstallKeyName(const BasicString<Char>& company, const BasicString<Char>& folder)
{
    BasicString<Char> key = company;
    if (!key.empty())
        key += Char(' ');
    key += folder;
    Char* c = key.data();
    for (std::size_t i = 0; i < key.size(); ++i)
        if (c[i] == Char('\\'))
            c[i] = Char(' ');
    return key;
}
template String UninstallKeyName(const String&, const String&);
template WString UninstallKeyName(const WString&, const WString&);

PackageHeader UninstallerHeader(const PackageHeader& installer, const String& fileList)
{
    PackageHeader h = installer;
    h.SetUninstallMode(1);
    h.SetPayloadSize(static_cast<uint32_t>(fileList.size()));
    h.SetPayloadCrc(Crc32Of(fileList.c_str(), fileList.size()));
    return h;
}
