// Byte layout of the package appended to the setup stub:
//   stub (StubSize bytes, marker at offset 48) | header (738) | ShortcutList | payload
//   [| copies list | copies trailer (12)]   only in a package that asks kAskCopies
// All integers little-endian. The header's u32 fields from offset 715 on sit
// at odd offsets, so the header is kept as raw bytes with accessors rather
// than as an aligned structure. Reading and writing whole packages:
// package/PackageReader.h, package/PackageWriter.h.
#pragma once
#include <cstdint>
#include <string>

#include "package/LittleEndian.h"
#include "package/String.h"

constexpr uint32_t kMarkerOffset = 48;
constexpr uint32_t kMarkerSize = 12;
constexpr uint32_t kMarkerMagic = 0x6E6F6E50; // "Pnon"
constexpr uint32_t kHeaderSize = 738;
constexpr uint32_t kHeaderMagic = 0x11804033;
constexpr unsigned kTextCapacity = 100;

struct PackageMarker {
    uint32_t magic = 0;
    uint32_t StubSize = 0;
    uint32_t PackageSize = 0;

    static PackageMarker Decode(const unsigned char bytes[kMarkerSize]);
    void Encode(unsigned char bytes[kMarkerSize]) const;
    bool IsBare() const { return magic == 0 && StubSize == 0; }
};

// The package's record, in the DOS header's reserved words just before the
// marker: what the package says of itself beyond the header. A package
// without one (every package made before it existed) reads as it always
// did: texts and names in the system's ANSI code page, nothing asked for.
//   40: "cS"   42: code page (u16)   44: asks (u16)   46: check (u16)
// The check is the low half of the CRC-32 of bytes 40..45, so that stray
// bytes in a stub's header are never taken for a record.
constexpr uint32_t kRecordOffset = 40;
constexpr uint32_t kRecordSize = 8;
constexpr uint16_t kRecordMagic = 0x5363; // "cS"
constexpr uint16_t kCodePageUtf8 = 65001;

// What a package asks for beyond the described behaviour, one bit each.
enum PackageAsk : uint16_t {
    // The payload of an uninstaller, the installed-file list, is UTF-8
    // whatever the code page of the texts.
    kAskUtf8FileList = 0x0001,
    // Stored names keep their folders, which the installation makes below
    // the install folder; names without "." are installed too. The
    // installed-file list then holds names relative to the install folder.
    kAskSubFolders = 0x0002,
    // The installation registers the product in Apps & features (the
    // Uninstall key named by UninstallKeyName) and writes its uninstaller
    // also without shortcuts; the uninstallation removes the key.
    kAskAppsEntry = 0x0004,
    // The shortcuts go to the all-users Programs folder, for everyone who
    // uses the machine, and are removed from there.
    kAskAllUsers = 0x0008,
    // "/QUIET" runs it unattended: no window, no box, no wait.
    kAskUnattended = 0x0010,
    // Identical files are stored once: the copies list at the package's end
    // names each further place one of them is installed to.
    kAskCopies = 0x0020,
    // An installation into a folder that holds an earlier one of the
    // product (its uninstaller is there) replaces it: the files and
    // shortcuts that only the earlier one had are removed.
    kAskUpgrade = 0x0040,
};
// The bits this stub knows: a package that asks for more is refused, not
// half served.
constexpr uint16_t kKnownAsks =
    kAskUtf8FileList | kAskSubFolders | kAskAppsEntry | kAskAllUsers | kAskUnattended | kAskCopies | kAskUpgrade;
// What an uninstaller keeps of its installer's asks.
constexpr uint16_t kInheritedAsks = kAskSubFolders | kAskAppsEntry | kAskAllUsers | kAskUnattended | kAskUpgrade;

struct PackageRecord {
    bool present = false;
    uint16_t codePage = 0; // of the header texts, ShortcutList and cabinet names
    uint16_t asks = 0;

    static PackageRecord Decode(const unsigned char bytes[kRecordSize]);
    // Writes signature, fields and check.
    void Encode(unsigned char bytes[kRecordSize]) const;
    bool Asks(PackageAsk ask) const { return (asks & ask) != 0; }
};

// The copies list: "stored|copy\r" per copy, in the code page of the
// cabinet names, the ShortcutList's form; a reader finds it from
// PackageSize backwards through the trailer that ends the package:
//   list size (u32) | CRC-32 of the list (u32) | "cCpy"
// Both lie between the payload and PackageSize, so the package's digest
// covers them. The installation copies the stored file's extracted bytes,
// time and attributes to each copy.
constexpr uint32_t kCopiesTrailerSize = 12;
constexpr uint32_t kCopiesMagic = 0x79704363; // "cCpy"

struct CopiesTrailer {
    uint32_t listSize = 0;
    uint32_t listCrc = 0;
    uint32_t magic = 0;

    static CopiesTrailer Decode(const unsigned char bytes[kCopiesTrailerSize]);
    void Encode(unsigned char bytes[kCopiesTrailerSize]) const;
};

// The header's fields, the one list of them: the stub's accessors, the
// packer's manifest and options, inspect and the help all take their names,
// places and limits from here.
enum class FieldKind : uint8_t { Text, U32, U8 };

struct HeaderField {
    const char* key; // the name people see and set it by
    uint16_t offset;
    FieldKind kind;
    uint32_t limit; // a text's most bytes; a number's largest value
    // The package's maker sets it; the others belong to the format, or are
    // counted and checksummed by whoever writes the package.
    bool makerSets;
};

// kHeaderFields in header order.
enum class Field : uint8_t {
    Magic, Size,
    ProductName, CompanyFolder, ShortName, LicenseFile, InstallFolder, StartMenuFolder, GuiLibrary,
    FileCount, PayloadSize, PayloadCrc, ShortcutListSize, ShortcutListCrc,
    UninstallMode, MakeUninstaller, UninstallLinkStyle,
};

inline constexpr HeaderField kHeaderFields[] = {
    {"magic", 0, FieldKind::U32, 0xFFFFFFFF, false},
    {"size", 4, FieldKind::U32, 0xFFFFFFFF, false},
    {"ProductName", 8, FieldKind::Text, kTextCapacity, true},
    {"CompanyFolder", 109, FieldKind::Text, kTextCapacity, true},
    {"ShortName", 210, FieldKind::Text, kTextCapacity, true},
    {"LicenseFile", 311, FieldKind::Text, kTextCapacity, true},
    {"InstallFolder", 412, FieldKind::Text, kTextCapacity, true},
    {"StartMenuFolder", 513, FieldKind::Text, kTextCapacity, true},
    {"GuiLibrary", 614, FieldKind::Text, kTextCapacity, true},
    {"FileCount", 715, FieldKind::U32, 0xFFFFFFFF, false},
    {"PayloadSize", 719, FieldKind::U32, 0xFFFFFFFF, false},
    {"PayloadCrc", 723, FieldKind::U32, 0xFFFFFFFF, false},
    {"ShortcutListSize", 727, FieldKind::U32, 0xFFFFFFFF, false},
    {"ShortcutListCrc", 731, FieldKind::U32, 0xFFFFFFFF, false},
    {"UninstallMode", 735, FieldKind::U8, 1, false},
    {"MakeUninstaller", 736, FieldKind::U8, 1, true},
    {"UninstallLinkStyle", 737, FieldKind::U8, 255, true},
};

constexpr const HeaderField& FieldOf(Field field) { return kHeaderFields[static_cast<int>(field)]; }

// The seven short-string fields, in header order.
enum class HeaderText { ProductName, CompanyFolder, ShortName, LicenseFile, InstallFolder, StartMenuFolder, GuiLibrary };
constexpr int kHeaderTextCount = 7;

constexpr const HeaderField& FieldOf(HeaderText text)
{
    return kHeaderFields[static_cast<int>(Field::ProductName) + static_cast<int>(text)];
}

// Where a text field starts, worked out rather than looked up: the texts
// follow one another, and code that picks one at run time then needs no
// copy of the table.
constexpr unsigned TextOffset(HeaderText text) { return 8 + (1 + kTextCapacity) * static_cast<unsigned>(text); }
static_assert(TextOffset(HeaderText::GuiLibrary) == FieldOf(HeaderText::GuiLibrary).offset &&
                  TextOffset(HeaderText::CompanyFolder) == FieldOf(HeaderText::CompanyFolder).offset,
              "the texts follow one another");

// The text of a text field.
inline HeaderText TextOf(const HeaderField& field)
{
    return static_cast<HeaderText>(&field - &FieldOf(HeaderText::ProductName));
}

// The field whose key is `key`, compared without regard to ASCII case, or
// nullptr.
const HeaderField* FindHeaderField(const std::string& key);
// The command-line option named after the key: "--product-name" for
// ProductName.
std::string FieldOption(const HeaderField& field);

class PackageHeader {
public:
    PackageHeader() = default;
    // A fresh installer header: magic and size set, everything else zero.
    static PackageHeader Blank();

    unsigned char* Bytes() { return bytes_; }
    const unsigned char* Bytes() const { return bytes_; }

    // A number field of either width.
    uint32_t Number(const HeaderField& field) const;
    void SetNumber(const HeaderField& field, uint32_t value);

    uint32_t Magic() const { return Get32<Field::Magic>(); }
    uint32_t SizeField() const { return Get32<Field::Size>(); }

    // Only the first length-byte characters count; the bytes after them are
    // carried along untouched. A length byte above 100 reads as the 100 bytes
    // the field has (TextsValid tells such a header apart).
    std::string Text(HeaderText field) const;
    // The same characters in place, without a copy.
    const char* TextData(HeaderText field, unsigned& length) const;
    // Writes length byte and characters; bytes past the new length stay.
    // Returns false (and changes nothing) for a text over 100 bytes.
    bool SetText(HeaderText field, const std::string& text);
    bool TextsValid() const;

    std::string ProductName() const { return Text(HeaderText::ProductName); }
    std::string CompanyFolder() const { return Text(HeaderText::CompanyFolder); }
    std::string ShortName() const { return Text(HeaderText::ShortName); }
    std::string LicenseFile() const { return Text(HeaderText::LicenseFile); }
    std::string InstallFolder() const { return Text(HeaderText::InstallFolder); }
    std::string StartMenuFolder() const { return Text(HeaderText::StartMenuFolder); }
    std::string GuiLibrary() const { return Text(HeaderText::GuiLibrary); }

    uint32_t FileCount() const { return Get32<Field::FileCount>(); }
    uint32_t PayloadSize() const { return Get32<Field::PayloadSize>(); }
    uint32_t PayloadCrc() const { return Get32<Field::PayloadCrc>(); }
    uint32_t ShortcutListSize() const { return Get32<Field::ShortcutListSize>(); }
    uint32_t ShortcutListCrc() const { return Get32<Field::ShortcutListCrc>(); }
    uint8_t UninstallMode() const { return Get8<Field::UninstallMode>(); }
    uint8_t MakeUninstaller() const { return Get8<Field::MakeUninstaller>(); }
    uint8_t UninstallLinkStyle() const { return Get8<Field::UninstallLinkStyle>(); }

    void SetFileCount(uint32_t v) { Set32<Field::FileCount>(v); }
    void SetPayloadSize(uint32_t v) { Set32<Field::PayloadSize>(v); }
    void SetPayloadCrc(uint32_t v) { Set32<Field::PayloadCrc>(v); }
    void SetShortcutListSize(uint32_t v) { Set32<Field::ShortcutListSize>(v); }
    void SetShortcutListCrc(uint32_t v) { Set32<Field::ShortcutListCrc>(v); }
    void SetUninstallMode(uint8_t v) { Set8<Field::UninstallMode>(v); }
    void SetMakeUninstaller(uint8_t v) { Set8<Field::MakeUninstaller>(v); }
    void SetUninstallLinkStyle(uint8_t v) { Set8<Field::UninstallLinkStyle>(v); }

private:
    // The offsets are constants: no copy of the table is needed at run time.
    template <Field F>
    uint32_t Get32() const
    {
        constexpr unsigned at = FieldOf(F).offset;
        return GetU32(&bytes_[at]);
    }
    template <Field F>
    uint8_t Get8() const
    {
        constexpr unsigned at = FieldOf(F).offset;
        return bytes_[at];
    }
    template <Field F>
    void Set32(uint32_t v)
    {
        constexpr unsigned at = FieldOf(F).offset;
        PutU32(&bytes_[at], v);
    }
    template <Field F>
    void Set8(uint8_t v)
    {
        constexpr unsigned at = FieldOf(F).offset;
        bytes_[at] = v;
    }

    // In place: a header is small, and copying one is then a plain copy.
    unsigned char bytes_[kHeaderSize] = {};
};

// A header text as the stub holds its texts (Text gives the packer's).
String HeaderString(const PackageHeader& header, HeaderText field);

// The name of the uninstaller file and of its shortcut, by
// UninstallLinkStyle: "Uninstall %s" with ShortName (1) or ProductName (2),
// else "Uninstall".
String UninstallLinkName(const PackageHeader& header);

// The name of the product's key under Windows' Uninstall key: its place
// under Program Files, CompanyFolder and InstallFolder joined by a space
// (a key name has no "\\": each one becomes a space too), so that every
// version installed to one place has the one key.
template <class Char>
BasicString<Char> UninstallKeyName(const BasicString<Char>& company, const BasicString<Char>& folder);

// The header of the uninstaller written from an installer's header: only
// UninstallMode, PayloadSize and PayloadCrc change.
PackageHeader UninstallerHeader(const PackageHeader& installer, const String& fileList);
