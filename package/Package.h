// Byte layout of the package appended to the setup stub:
//   stub (StubSize bytes, marker at offset 48) | header (738) | ShortcutList | payload
// All integers little-endian. The header's u32 fields from offset 715 on sit
// at odd offsets, so the header is kept as raw bytes with accessors rather
// than as an aligned structure.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kMarkerOffset = 48;
constexpr uint32_t kMarkerSize = 12;
constexpr uint32_t kMarkerMagic = 0x6E6F6E50; // "Pnon"
constexpr uint32_t kHeaderSize = 738;
constexpr uint32_t kHeaderMagic = 0x11804033;
constexpr unsigned kTextCapacity = 100;

uint32_t GetU32(const unsigned char* p);
void PutU32(unsigned char* p, uint32_t value);

struct PackageMarker {
    uint32_t magic = 0;
    uint32_t StubSize = 0;
    uint32_t PackageSize = 0;

    static PackageMarker Decode(const unsigned char bytes[kMarkerSize]);
    void Encode(unsigned char bytes[kMarkerSize]) const;
    bool IsBare() const { return magic == 0 && StubSize == 0; }
};

// The seven short-string fields, in header order.
enum class HeaderText { ProductName, CompanyFolder, ShortName, LicenseFile, InstallFolder, StartMenuFolder, GuiLibrary };

class PackageHeader {
public:
    PackageHeader() : bytes_(kHeaderSize, 0) {}
    // A fresh installer header: magic and size set, everything else zero.
    static PackageHeader Blank();

    unsigned char* Bytes() { return bytes_.data(); }
    const unsigned char* Bytes() const { return bytes_.data(); }

    uint32_t Magic() const { return GetU32(&bytes_[0]); }
    uint32_t SizeField() const { return GetU32(&bytes_[4]); }

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

    uint32_t FileCount() const { return GetU32(&bytes_[715]); }
    uint32_t PayloadSize() const { return GetU32(&bytes_[719]); }
    uint32_t PayloadCrc() const { return GetU32(&bytes_[723]); }
    uint32_t ShortcutListSize() const { return GetU32(&bytes_[727]); }
    uint32_t ShortcutListCrc() const { return GetU32(&bytes_[731]); }
    uint8_t UninstallMode() const { return bytes_[735]; }
    uint8_t MakeUninstaller() const { return bytes_[736]; }
    uint8_t UninstallLinkStyle() const { return bytes_[737]; }

    void SetFileCount(uint32_t v) { PutU32(&bytes_[715], v); }
    void SetPayloadSize(uint32_t v) { PutU32(&bytes_[719], v); }
    void SetPayloadCrc(uint32_t v) { PutU32(&bytes_[723], v); }
    void SetShortcutListSize(uint32_t v) { PutU32(&bytes_[727], v); }
    void SetShortcutListCrc(uint32_t v) { PutU32(&bytes_[731], v); }
    void SetUninstallMode(uint8_t v) { bytes_[735] = v; }
    void SetMakeUninstaller(uint8_t v) { bytes_[736] = v; }
    void SetUninstallLinkStyle(uint8_t v) { bytes_[737] = v; }

private:
    std::vector<unsigned char> bytes_;
};

// What the marker and the header say about the file, decided before any
// window is shown.
enum class PackageState { Bare, Damaged, Sound };

// Checks 1 to 3: marker against the file's size.
PackageState CheckMarker(const PackageMarker& marker, uint64_t fileSize);
// Check 4: header magic and size field. Also refuses what the format never
// holds and a reader must not trust: a text length over 100, and blocks that
// together reach past PackageSize (summed in 64 bits, so nothing wraps).
bool HeaderSound(const PackageHeader& header, const PackageMarker& marker);

// The header of the uninstaller written from an installer's header: only
// UninstallMode, PayloadSize and PayloadCrc change.
PackageHeader UninstallerHeader(const PackageHeader& installer, const std::string& fileList);

// Whole package in memory, in file order, marker patched into the stub's
// copy of the DOS header. Used by the packaging tool and the tests; the stub
// streams instead. The stub's marker bytes must be zero.
std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub, PackageHeader header,
                                          const std::string& shortcutList,
                                          const std::vector<unsigned char>& payload);
