#include "package/Package.h"
#include "package/CRC32.h"
#include "package/PathRules.h"
#include "package/TextLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> FakeStub(size_t size)
{
    std::vector<unsigned char> stub(size);
    for (size_t i = 0; i < size; ++i)
        stub[i] = static_cast<unsigned char>(i * 7 + 1);
    for (uint32_t i = kMarkerOffset; i < kMarkerOffset + kMarkerSize; ++i)
        stub[i] = 0;
    return stub;
}

PackageHeader SampleHeader()
{
    PackageHeader h = PackageHeader::Blank();
    h.SetText(HeaderText::ProductName, "Example Viewer 2.0");
    h.SetText(HeaderText::ShortName, "Viewer");
    h.SetText(HeaderText::InstallFolder, "Example\\Viewer");
    h.SetFileCount(3);
    h.SetMakeUninstaller(1);
    h.SetUninstallLinkStyle(1);
    return h;
}

} // namespace

TEST(PackageHeader, FieldsSitAtTheirByteOffsets)
{
    PackageHeader h = PackageHeader::Blank();
    h.SetFileCount(0x01020304);
    h.SetPayloadSize(0x05060708);
    h.SetPayloadCrc(0x090A0B0C);
    h.SetShortcutListSize(0x0D0E0F10);
    h.SetShortcutListCrc(0x11121314);
    h.SetUninstallMode(1);
    h.SetMakeUninstaller(2);
    h.SetUninstallLinkStyle(3);
    ASSERT_TRUE(h.SetText(HeaderText::GuiLibrary, "gui.dll"));
    const unsigned char* b = h.Bytes();
    EXPECT_EQ(std::vector<unsigned char>(b, b + 8),
              (std::vector<unsigned char>{0x33, 0x40, 0x80, 0x11, 0xE2, 0x02, 0, 0}));
    EXPECT_EQ(b[715], 0x04);
    EXPECT_EQ(b[718], 0x01);
    EXPECT_EQ(b[719], 0x08);
    EXPECT_EQ(b[723], 0x0C);
    EXPECT_EQ(b[727], 0x10);
    EXPECT_EQ(b[731], 0x14);
    EXPECT_EQ(b[734], 0x11);
    EXPECT_EQ(b[735], 1);
    EXPECT_EQ(b[736], 2);
    EXPECT_EQ(b[737], 3);
    EXPECT_EQ(b[614], 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 615), 7), "gui.dll");
}

TEST(PackageHeader, TextsKeepTheBytesAfterTheirLength)
{
    PackageHeader h = PackageHeader::Blank();
    for (int i = 0; i < 101; ++i)
        h.Bytes()[109 + i] = static_cast<unsigned char>(0xA0 + i % 16);
    h.Bytes()[109] = 3;
    EXPECT_EQ(h.CompanyFolder(), std::string("\xA1\xA2\xA3"));
    ASSERT_TRUE(h.SetText(HeaderText::CompanyFolder, "Acme"));
    EXPECT_EQ(h.CompanyFolder(), "Acme");
    EXPECT_EQ(h.Bytes()[109 + 5], 0xA0 + 5 % 16); // leftover byte untouched
    EXPECT_EQ(h.Bytes()[109 + 100], 0xA0 + 100 % 16);

    EXPECT_FALSE(h.SetText(HeaderText::ShortName, std::string(101, 'x')));
    EXPECT_TRUE(h.SetText(HeaderText::ShortName, std::string(100, 'x')));
    EXPECT_EQ(h.ShortName().size(), 100u);
}

TEST(PackageChecks, MarkerOutcomes)
{
    PackageMarker m;
    EXPECT_EQ(CheckMarker(m, 5000), PackageState::Bare);
    m.PackageSize = 77; // not looked at for a bare stub
    EXPECT_EQ(CheckMarker(m, 5000), PackageState::Bare);
    m.StubSize = 4096; // magic 0 with a stub size: damaged
    EXPECT_EQ(CheckMarker(m, 77), PackageState::Damaged);
    m.magic = kMarkerMagic;
    EXPECT_EQ(CheckMarker(m, 77), PackageState::Sound);
    EXPECT_EQ(CheckMarker(m, 78), PackageState::Damaged);
    EXPECT_EQ(CheckMarker(m, 76), PackageState::Damaged);
    m.magic = 0x6E6F6E51;
    EXPECT_EQ(CheckMarker(m, 77), PackageState::Damaged);
}

TEST(PackageChecks, HeaderOutcomes)
{
    PackageMarker m{kMarkerMagic, 4096, 4096 + kHeaderSize + 10 + 20};
    PackageHeader h = SampleHeader();
    h.SetShortcutListSize(10);
    h.SetPayloadSize(20);
    EXPECT_TRUE(HeaderSound(h, m));

    PackageHeader wrongMagic = h;
    PutU32(wrongMagic.Bytes(), kHeaderMagic + 1);
    EXPECT_FALSE(HeaderSound(wrongMagic, m));
    PackageHeader wrongSize = h;
    PutU32(wrongSize.Bytes() + 4, 737);
    EXPECT_FALSE(HeaderSound(wrongSize, m));

    // A length byte the format never holds.
    PackageHeader longText = h;
    longText.Bytes()[412] = 101;
    EXPECT_FALSE(HeaderSound(longText, m));
    EXPECT_EQ(longText.InstallFolder().size(), 100u);

    // Blocks reaching past the file, also where a 32-bit sum would wrap.
    PackageHeader tooLong = h;
    tooLong.SetPayloadSize(21);
    EXPECT_FALSE(HeaderSound(tooLong, m));
    PackageHeader wraps = h;
    wraps.SetPayloadSize(0xFFFFFFF0u);
    EXPECT_FALSE(HeaderSound(wraps, m));
    // Room left after the payload is the later checks' business.
    PackageHeader shorter = h;
    shorter.SetPayloadSize(5);
    EXPECT_TRUE(HeaderSound(shorter, m));
}

TEST(PackageWriter, ComposesInFileOrderWithMarker)
{
    std::vector<unsigned char> stub = FakeStub(1536);
    std::string shortcuts = "viewer.exe|Viewer\rreadme.txt|Read me\r";
    std::vector<unsigned char> cab = {'M', 'S', 'C', 'F', 1, 2, 3};
    std::vector<unsigned char> pkg = ComposePackage(stub, SampleHeader(), shortcuts, cab);

    ASSERT_EQ(pkg.size(), stub.size() + kHeaderSize + shortcuts.size() + cab.size());
    PackageMarker m = PackageMarker::Decode(&pkg[kMarkerOffset]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pkg[kMarkerOffset]), 4), "Pnon");
    EXPECT_EQ(m.StubSize, stub.size());
    EXPECT_EQ(m.PackageSize, pkg.size());
    EXPECT_EQ(CheckMarker(m, pkg.size()), PackageState::Sound);
    // Only the marker differs from the stub.
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + kMarkerOffset, pkg.begin()));
    EXPECT_TRUE(std::equal(stub.begin() + 60, stub.end(), pkg.begin() + 60));

    PackageHeader h;
    std::copy(pkg.begin() + stub.size(), pkg.begin() + stub.size() + kHeaderSize, h.Bytes());
    EXPECT_TRUE(HeaderSound(h, m));
    EXPECT_EQ(h.ShortcutListSize(), shortcuts.size());
    EXPECT_EQ(h.ShortcutListCrc(), Crc32Of(shortcuts.data(), shortcuts.size()));
    EXPECT_EQ(h.PayloadSize(), cab.size());
    EXPECT_EQ(h.PayloadCrc(), Crc32Of(cab.data(), cab.size()));
    EXPECT_EQ(h.ProductName(), "Example Viewer 2.0");
}

TEST(PackageWriter, EmptyListHasZeroSizeAndCrc)
{
    std::vector<unsigned char> pkg = ComposePackage(FakeStub(512), SampleHeader(), "", {});
    PackageHeader h;
    std::copy(pkg.begin() + 512, pkg.begin() + 512 + kHeaderSize, h.Bytes());
    EXPECT_EQ(h.ShortcutListSize(), 0u);
    EXPECT_EQ(h.ShortcutListCrc(), 0u);
    EXPECT_EQ(h.PayloadCrc(), 0u);
}

TEST(PackageWriter, UninstallerHeaderChangesOnlyThreeFields)
{
    PackageHeader in = SampleHeader();
    in.Bytes()[8 + 50] = 0xEE; // leftover byte in ProductName
    in.SetShortcutListSize(12);
    in.SetShortcutListCrc(0xABCDEF01);
    std::string list = "C:\\Program Files\\Example\\a.txt\r";
    PackageHeader out = UninstallerHeader(in, list);
    EXPECT_EQ(out.UninstallMode(), 1);
    EXPECT_EQ(out.PayloadSize(), list.size());
    EXPECT_EQ(out.PayloadCrc(), Crc32Of(list.data(), list.size()));
    for (unsigned i = 0; i < kHeaderSize; ++i) {
        bool changed = i == 735 || (i >= 719 && i < 727);
        if (!changed) {
            EXPECT_EQ(out.Bytes()[i], in.Bytes()[i]) << "offset " << i;
        }
    }
}

TEST(TextLists, ShortcutRecords)
{
    struct Case {
        std::string list;
        std::vector<std::string> pairs; // target, name, target, name...
        std::string left;
    };
    const Case cases[] = {
        {"a.exe|App\rdocs\\b.txt|Read me\r", {"a.exe", "App", "docs\\b.txt", "Read me"}, ""},
        {"a.exe|App\rb.txt|Read me", {"a.exe", "App"}, "Read me"},
        {"no bar at all\r", {}, "no bar at all\r"},
        {"", {}, ""},
        {"x|", {}, ""},
        {"|\r", {"", ""}, ""},
        {"a|b\r\nc|d\r", {"a", "b", "\nc", "d"}, ""},
        {"a|b|c\r", {"a", "b|c"}, ""},
    };
    for (const Case& c : cases) {
        std::string list = c.list;
        std::vector<std::string> got;
        ShortcutRecord r;
        while (!list.empty() && TakeShortcut(list, r)) {
            got.push_back(r.target);
            got.push_back(r.name);
        }
        EXPECT_EQ(got, c.pairs) << c.list;
        EXPECT_EQ(list, c.left) << c.list;
    }
}

TEST(TextLists, InstalledFileEntries)
{
    std::string list = "C:\\P\\a.txt\rC:\\P\\b.dll\rC:\\P\\a.txt\rtrailing";
    std::vector<std::string> got;
    std::string e;
    while (TakeListEntry(list, e))
        got.push_back(e);
    EXPECT_EQ(got, (std::vector<std::string>{"C:\\P\\a.txt", "C:\\P\\b.dll", "C:\\P\\a.txt"}));
    EXPECT_EQ(list, "trailing");
    std::string lf = "a\nb\r";
    ASSERT_TRUE(TakeListEntry(lf, e));
    EXPECT_EQ(e, "a\nb");
}

TEST(PathRules, NamesAndRelativePaths)
{
    struct Case {
        std::string text;
        NameRule path; // as a relative path
        NameRule name; // as a single name
    };
    const NameRule ok = NameRule::Allowed;
    const Case cases[] = {
        {"Viewer", ok, ok},
        {"Acme\\Tools\\Viewer 2.0", ok, NameRule::Folders},
        {"read me.txt", ok, ok},
        {"caf\xE9 \x95\x5Cx", ok, NameRule::Folders}, // a trail byte 0x5C splits: only ever stricter
        {"", NameRule::Empty, NameRule::Empty},
        {"a\\\\b", NameRule::EmptyComponent, NameRule::EmptyComponent},
        {"a\\", NameRule::EmptyComponent, NameRule::EmptyComponent},
        {"..", NameRule::DotComponent, NameRule::DotComponent},
        {"..\\windows", NameRule::DotComponent, NameRule::DotComponent},
        {"x\\..\\..\\windows\\evilun", NameRule::DotComponent, NameRule::DotComponent},
        {"a\\.\\b", NameRule::DotComponent, NameRule::DotComponent},
        {"a\\...\\b", NameRule::DotComponent, NameRule::DotComponent},
        {"a\\. .\\b", NameRule::DotComponent, NameRule::DotComponent},
        {"   ", NameRule::DotComponent, NameRule::DotComponent},
        {"C:\\windows", NameRule::Absolute, NameRule::Absolute},
        {"c:rel", NameRule::Absolute, NameRule::Absolute},
        {"\\windows", NameRule::Absolute, NameRule::Absolute},
        {"\\\\srv\\share", NameRule::Absolute, NameRule::Absolute},
        {"/etc", NameRule::Absolute, NameRule::Absolute},
        {"file.txt:stream", NameRule::Colon, NameRule::Colon},
        {"a/b", NameRule::BadCharacter, NameRule::BadCharacter},
        {"a<b", NameRule::BadCharacter, NameRule::BadCharacter},
        {"a|b", NameRule::BadCharacter, NameRule::BadCharacter},
        {"a\"b", NameRule::BadCharacter, NameRule::BadCharacter},
        {"*.*", NameRule::BadCharacter, NameRule::BadCharacter},
        {"tab\there", NameRule::BadCharacter, NameRule::BadCharacter},
        {"nul.txt", NameRule::DeviceName, NameRule::DeviceName},
        {"docs\\aux.txt", NameRule::DeviceName, NameRule::DeviceName},
        {"CON", NameRule::DeviceName, NameRule::DeviceName},
        {"Com1.txt.bak", NameRule::DeviceName, NameRule::DeviceName},
        {"lpt9", NameRule::DeviceName, NameRule::DeviceName},
        {"prn. .txt", NameRule::DeviceName, NameRule::DeviceName},
        {"NUL ", NameRule::DeviceName, NameRule::DeviceName},
        {"aux...", NameRule::DeviceName, NameRule::DeviceName},
        {"com\xB9.log", NameRule::DeviceName, NameRule::DeviceName},
        {"CONOUT$", NameRule::DeviceName, NameRule::DeviceName},
        {"nul-not.txt", ok, ok},
        {"com10.txt", ok, ok},
        {"com0.txt", ok, ok},
        {"console.txt", ok, ok},
        {"x.nul", ok, ok},
        {"trailing dot.", ok, ok},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckRelativePath(c.text), c.path) << c.text;
        EXPECT_EQ(CheckPlainName(c.text), c.name) << c.text;
    }
}

TEST(PathRules, HeaderTextsStayInTheirPlaces)
{
    struct Case {
        HeaderText field;
        std::string text;
        NameRule rule;
    };
    const Case cases[] = {
        {HeaderText::CompanyFolder, "", NameRule::Allowed},
        {HeaderText::CompanyFolder, "..", NameRule::DotComponent},
        {HeaderText::InstallFolder, "", NameRule::Empty},
        {HeaderText::InstallFolder, "..\\windows", NameRule::DotComponent},
        {HeaderText::InstallFolder, "C:\\x", NameRule::Absolute},
        {HeaderText::StartMenuFolder, "", NameRule::Empty}, // the sample has shortcuts
        {HeaderText::StartMenuFolder, "Startup", NameRule::StartupFolder},
        {HeaderText::StartMenuFolder, "startup. \\Tools", NameRule::StartupFolder},
        {HeaderText::StartMenuFolder, "Startup Tools", NameRule::Allowed},
        {HeaderText::StartMenuFolder, "Acme\\Startup", NameRule::Allowed},
        {HeaderText::ShortName, "", NameRule::Allowed},
        {HeaderText::ShortName, "x\\..\\..\\windows\\evilun", NameRule::DotComponent},
        {HeaderText::ShortName, "Sub\\Name", NameRule::Folders},
        {HeaderText::LicenseFile, "", NameRule::Allowed},
        {HeaderText::LicenseFile, "*.*", NameRule::Wildcard},
        {HeaderText::LicenseFile, "licen[cs]e.txt", NameRule::Wildcard},
        {HeaderText::LicenseFile, "..\\win.ini", NameRule::DotComponent},
        {HeaderText::LicenseFile, "docs\\license.txt", NameRule::Folders},
        {HeaderText::LicenseFile, "con.txt", NameRule::DeviceName},
        // Link style 2 names the uninstaller after the product.
        {HeaderText::ProductName, "AC/DC Player", NameRule::BadCharacter},
        {HeaderText::GuiLibrary, "..\\never\\loaded.dll", NameRule::Allowed},
    };
    for (const Case& c : cases) {
        PackageHeader h = SampleHeader();
        h.SetText(HeaderText::CompanyFolder, "Acme");
        h.SetText(HeaderText::StartMenuFolder, "Acme Viewer");
        h.SetText(HeaderText::LicenseFile, "license.txt");
        h.SetShortcutListSize(12);
        h.SetUninstallLinkStyle(2);
        ASSERT_EQ(CheckHeaderNames(h).rule, NameRule::Allowed);
        h.SetText(c.field, c.text);
        HeaderNameFault fault = CheckHeaderNames(h);
        EXPECT_EQ(fault.rule, c.rule) << HeaderTextName(c.field) << " " << c.text;
        if (c.rule != NameRule::Allowed) {
            EXPECT_EQ(fault.field, c.field) << c.text;
        }
    }

    // Without shortcuts there is no group to make: an empty StartMenuFolder
    // passes. Without an uninstaller named after it, ProductName is free text.
    PackageHeader h = SampleHeader();
    h.SetText(HeaderText::ProductName, "AC/DC Player: \"Live\"");
    EXPECT_EQ(CheckHeaderNames(h).rule, NameRule::Allowed);
    h.SetMakeUninstaller(0);
    h.SetUninstallLinkStyle(2);
    EXPECT_EQ(CheckHeaderNames(h).rule, NameRule::Allowed);
}

TEST(PathRules, ShortcutRecords)
{
    struct Case {
        ShortcutRecord record;
        NameRule rule;
        bool target;
    };
    const Case cases[] = {
        {{"bin\\viewer.exe", "Viewer"}, NameRule::Allowed, true},
        {{"viewer.exe", "..\\..\\..\\..\\..\\..\\..\\Desktop\\UserApp"}, NameRule::DotComponent, false},
        {{"viewer.exe", "Sub\\Viewer"}, NameRule::Folders, false},
        {{"viewer.exe", ""}, NameRule::Empty, false},
        {{"viewer.exe", "LPT1"}, NameRule::DeviceName, false},
        {{"..\\..\\windows\\system32\\cmd.exe", "Shell"}, NameRule::DotComponent, true},
        {{"C:\\windows\\notepad.exe", "Notes"}, NameRule::Absolute, true},
        {{"", "Nothing"}, NameRule::Empty, true},
    };
    for (const Case& c : cases) {
        bool target = false;
        EXPECT_EQ(CheckShortcutRecord(c.record, target), c.rule) << c.record.name << "|" << c.record.target;
        if (c.rule != NameRule::Allowed) {
            EXPECT_EQ(target, c.target) << c.record.name << "|" << c.record.target;
        }
    }
}
