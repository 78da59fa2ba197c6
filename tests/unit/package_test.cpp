#include "package/Package.h"
#include "package/CRC32.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package/PathRules.h"
#include "package/TextLists.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    h.SetText(HeaderText::StartMenuFolder, "Example Viewer");
    h.SetFileCount(3);
    h.SetMakeUninstaller(1);
    h.SetUninstallLinkStyle(1);
    return h;
}

} // namespace

void PrintTo(StepOutcome outcome, std::ostream* out) { *out << OutcomeText(outcome); }

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

namespace {

// A file that can be read only up to `readable` bytes, as a medium that
// goes away: its size still says more.
class FailingSource {
public:
    FailingSource(const std::vector<unsigned char>& bytes, size_t readable) : bytes_(bytes), readable_(readable) {}
    uint64_t Size() const { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const
    {
        if (offset >= readable_)
            return 0;
        return BufferSource(bytes_.data(), readable_).ReadAt(offset, buffer, count);
    }

private:
    const std::vector<unsigned char>& bytes_;
    size_t readable_;
};

const std::string kShortcuts = "viewer.exe|Viewer\rreadme.txt|Read me\r";

std::vector<unsigned char> SamplePackage(const PackageHeader& header = SampleHeader(),
                                         const std::string& shortcuts = kShortcuts)
{
    std::vector<unsigned char> payload(40000);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<unsigned char>(i * 13 + i / 7);
    return ComposePackage(FakeStub(1536), header, shortcuts, payload);
}

// Every step a reader takes on the bytes, up to the first that does not
// pass; the payload is kept.
std::vector<StepOutcome> ReadAll(const ByteSource& file, std::string* payload = nullptr)
{
    PackageReader reader(file);
    std::string kept;
    KeepText sink(kept);
    std::vector<StepOutcome> steps = {reader.ReadMarker()};
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadHeader());
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadShortcutList());
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadPayload(sink));
    if (payload)
        *payload = kept;
    return steps;
}

std::vector<StepOutcome> ReadAll(const std::vector<unsigned char>& bytes) { return ReadAll(BufferSource(bytes)); }

std::vector<unsigned char> Patched(std::vector<unsigned char> bytes, size_t at, uint32_t value)
{
    PutU32(&bytes[at], value);
    return bytes;
}

constexpr StepOutcome kPassed = StepOutcome::Passed;
constexpr size_t kHeaderAt = 1536;

} // namespace

TEST(PackageFields, TheTableCoversTheHeaderWithoutGapsOrOverlaps)
{
    unsigned offset = 0;
    for (const HeaderField& f : kHeaderFields) {
        EXPECT_EQ(f.offset, offset) << f.key;
        offset += f.kind == FieldKind::Text ? 1 + f.limit : f.kind == FieldKind::U32 ? 4 : 1;
        EXPECT_EQ(FindHeaderField(f.key), &f);
    }
    EXPECT_EQ(offset, kHeaderSize);
    EXPECT_EQ(FindHeaderField("installfolder"), &FieldOf(HeaderText::InstallFolder));
    EXPECT_EQ(FindHeaderField("InstallFolde"), nullptr);
    EXPECT_EQ(FindHeaderField("InstallFolders"), nullptr);

    PackageHeader h = PackageHeader::Blank();
    h.SetNumber(FieldOf(Field::UninstallLinkStyle), 2);
    h.SetNumber(FieldOf(Field::FileCount), 0x01020304);
    EXPECT_EQ(h.UninstallLinkStyle(), 2);
    EXPECT_EQ(h.Number(FieldOf(Field::FileCount)), 0x01020304u);
    EXPECT_EQ(h.Number(FieldOf(Field::Size)), kHeaderSize);
}

TEST(PackageFields, UninstallLinkNameFollowsTheStyle)
{
    PackageHeader h = SampleHeader();
    const std::pair<int, const char*> cases[] = {
        {0, "Uninstall"}, {1, "Uninstall Viewer"}, {2, "Uninstall Example Viewer 2.0"}, {3, "Uninstall"}, {255, "Uninstall"}};
    for (const auto& c : cases) {
        h.SetUninstallLinkStyle(static_cast<uint8_t>(c.first));
        EXPECT_EQ(UninstallLinkName(h), c.second) << c.first;
    }
}

TEST(PackageReader, MarkerOutcomes)
{
    const std::vector<unsigned char> sound = SamplePackage();
    std::vector<unsigned char> bare = FakeStub(5000);
    std::vector<unsigned char> bareWithSize = Patched(bare, kMarkerOffset + 8, 77); // not looked at
    std::vector<unsigned char> appended = sound;
    appended.push_back(0); // a signature block, say
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        StepOutcome outcome;
    };
    const Case cases[] = {
        {"sound", sound, kPassed},
        {"bare stub", bare, StepOutcome::BareStub},
        {"bare stub with a PackageSize", bareWithSize, StepOutcome::BareStub},
        {"magic 0 with a StubSize", Patched(sound, kMarkerOffset, 0), StepOutcome::MarkerMagic},
        {"wrong magic", Patched(sound, kMarkerOffset, kMarkerMagic + 1), StepOutcome::MarkerMagic},
        {"a byte appended", appended, StepOutcome::SizeDiffers},
        {"a byte short", std::vector<unsigned char>(sound.begin(), sound.end() - 1), StepOutcome::SizeDiffers},
        {"cut inside the marker", std::vector<unsigned char>(sound.begin(), sound.begin() + 54),
         StepOutcome::MarkerCutShort},
        {"cut before the marker", std::vector<unsigned char>(sound.begin(), sound.begin() + 40), StepOutcome::BareStub},
    };
    for (const Case& c : cases) {
        BufferSource readerFile(c.bytes);
        PackageReader reader(readerFile);
        EXPECT_EQ(reader.ReadMarker(), c.outcome) << c.what;
        EXPECT_EQ(reader.Step(), PackageStep::Marker);
    }
}

TEST(PackageReader, HeaderOutcomes)
{
    const std::vector<unsigned char> sound = SamplePackage();
    const uint32_t size = static_cast<uint32_t>(sound.size());
    auto withHeader = [&](void (*change)(PackageHeader&)) {
        PackageHeader h;
        std::copy(sound.begin() + kHeaderAt, sound.begin() + kHeaderAt + kHeaderSize, h.Bytes());
        change(h);
        std::vector<unsigned char> bytes = sound;
        std::copy(h.Bytes(), h.Bytes() + kHeaderSize, bytes.begin() + kHeaderAt);
        return bytes;
    };
    // A package whose file ends inside the header: StubSize points near the end.
    std::vector<unsigned char> cut = Patched(sound, kMarkerOffset + 4, size - 100);
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        StepOutcome outcome;
    };
    const Case cases[] = {
        {"wrong magic", withHeader([](PackageHeader& h) { PutU32(h.Bytes(), kHeaderMagic + 1); }),
         StepOutcome::HeaderMagic},
        {"wrong size field", withHeader([](PackageHeader& h) { PutU32(h.Bytes() + 4, 737); }),
         StepOutcome::HeaderMagic},
        {"a length byte the format never holds", withHeader([](PackageHeader& h) { h.Bytes()[412] = 101; }),
         StepOutcome::TextTooLong},
        {"payload past the file", withHeader([](PackageHeader& h) { h.SetPayloadSize(h.PayloadSize() + 1); }),
         StepOutcome::BlocksPastEnd},
        {"a 32-bit sum that wraps", withHeader([](PackageHeader& h) { h.SetPayloadSize(0xFFFFFFF0u); }),
         StepOutcome::BlocksPastEnd},
        // Room left after the payload is the later steps' business.
        {"payload ends early", withHeader([](PackageHeader& h) { h.SetPayloadSize(h.PayloadSize() - 5); }), kPassed},
        {"a text out of its place", withHeader([](PackageHeader& h) { h.SetText(HeaderText::InstallFolder, ".."); }),
         StepOutcome::TextLeavesPlace},
        {"file ends inside the header", cut, StepOutcome::HeaderCutShort},
    };
    for (const Case& c : cases) {
        BufferSource readerFile(c.bytes);
        PackageReader reader(readerFile);
        ASSERT_EQ(reader.ReadMarker(), kPassed) << c.what;
        EXPECT_EQ(reader.ReadHeader(), c.outcome) << c.what;
        EXPECT_EQ(reader.Step(), PackageStep::Header);
    }
    BufferSource readerFile(cases[6].bytes);
    PackageReader reader(readerFile);
    reader.ReadMarker();
    reader.ReadHeader();
    EXPECT_EQ(reader.TextFault().field, HeaderText::InstallFolder);
    EXPECT_EQ(reader.TextFault().rule, NameRule::DotComponent);
    EXPECT_EQ(reader.Header().InstallFolder(), "..");
}

TEST(PackageReader, ShortcutListAndPayloadOutcomes)
{
    std::string payload;
    const std::vector<unsigned char> sound = SamplePackage();
    EXPECT_EQ(ReadAll(BufferSource(sound), &payload), (std::vector<StepOutcome>(4, kPassed)));
    EXPECT_EQ(payload, std::string(sound.end() - 40000, sound.end()));

    const size_t listAt = kHeaderAt + kHeaderSize;
    std::vector<unsigned char> listByte = sound;
    listByte[listAt + 3] ^= 1;
    std::vector<unsigned char> payloadByte = sound;
    payloadByte[sound.size() - 20000] ^= 1;
    const std::vector<StepOutcome> listCrc = {kPassed, kPassed, StepOutcome::CrcDiffers};
    const std::vector<StepOutcome> outside = {kPassed, kPassed, StepOutcome::RecordLeavesPlace};
    const std::vector<StepOutcome> payloadCrc = {kPassed, kPassed, kPassed, StepOutcome::CrcDiffers};
    EXPECT_EQ(ReadAll(listByte), listCrc);
    EXPECT_EQ(ReadAll(payloadByte), payloadCrc);
    EXPECT_EQ(ReadAll(SamplePackage(SampleHeader(), "viewer.exe|..\\Viewer\r")), outside);
    // An empty list has size 0 and CRC 0; an unfinished record is no record.
    EXPECT_EQ(ReadAll(SamplePackage(SampleHeader(), "")), (std::vector<StepOutcome>(4, kPassed)));
    EXPECT_EQ(ReadAll(SamplePackage(SampleHeader(), "viewer.exe|..\\Viewer")), (std::vector<StepOutcome>(4, kPassed)));

    // A medium that goes away in the middle of the payload: the reading
    // ends with what came, no hang, and the pieces are never longer than 16 KB.
    EXPECT_EQ(ReadAll(FailingSource(sound, sound.size() - 1), &payload),
              (std::vector<StepOutcome>{kPassed, kPassed, kPassed, StepOutcome::CutShort}));
    EXPECT_EQ(payload.size(), 39999u);
    EXPECT_EQ(ReadAll(FailingSource(sound, listAt + 5)),
              (std::vector<StepOutcome>{kPassed, kPassed, StepOutcome::CutShort}));

    // Places are checked past what is kept, but for a record that runs on
    // past a piece and what is kept: the checks end there.
    struct KeepCase {
        std::string list;
        uint32_t keep;
        StepOutcome outcome;
        bool unchecked;
    };
    const std::string bad = "c|..\\d\r";
    const std::string longRecord = std::string(20000, 'a') + "|b\r";
    const KeepCase keeps[] = {
        {"a|b\r" + bad, 4, StepOutcome::RecordLeavesPlace, false},
        {"a|b\r" + longRecord + bad, 0xFFFFFFFF, StepOutcome::RecordLeavesPlace, false},
        {"a|b\r" + longRecord + bad, 1000, kPassed, true},
    };
    for (const KeepCase& c : keeps) {
        const std::vector<unsigned char> bytes = SamplePackage(SampleHeader(), c.list);
        BufferSource file(bytes);
        PackageReader reader(file);
        reader.ReadMarker();
        reader.ReadHeader();
        EXPECT_EQ(reader.ReadShortcutList(c.keep), c.outcome) << c.keep;
        EXPECT_EQ(reader.ShortcutList(), c.list.substr(0, c.keep));
        EXPECT_EQ(reader.RecordsUnchecked(), c.unchecked) << c.keep;
        EXPECT_EQ(reader.UncheckedFrom(), c.unchecked ? 4u : 0u);
    }

    BufferSource readerFile(SamplePackage(SampleHeader(), "x|..\\y\r"));
    PackageReader reader(readerFile);
    reader.ReadMarker();
    reader.ReadHeader();
    EXPECT_EQ(reader.ReadShortcutList(), StepOutcome::RecordLeavesPlace);
    EXPECT_EQ(reader.BrokenRecord().record.name, "..\\y");
    EXPECT_FALSE(reader.BrokenRecord().target);
    EXPECT_EQ(reader.BrokenRecord().rule, NameRule::DotComponent);
}

TEST(PackageWriter, ComposesInFileOrderWithMarker)
{
    std::vector<unsigned char> stub = FakeStub(1536);
    std::string shortcuts = "viewer.exe|Viewer\rreadme.txt|Read me\r";
    std::vector<unsigned char> cab = {'M', 'S', 'C', 'F', 1, 2, 3};
    std::vector<unsigned char> pkg = ComposePackage(stub, SampleHeader(), shortcuts, cab);

    ASSERT_EQ(pkg.size(), stub.size() + kHeaderSize + shortcuts.size() + cab.size());
    BufferSource readerFile(pkg);
    PackageReader reader(readerFile);
    ASSERT_EQ(reader.ReadMarker(), kPassed);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pkg[kMarkerOffset]), 4), "Pnon");
    EXPECT_EQ(reader.Marker().StubSize, stub.size());
    EXPECT_EQ(reader.Marker().PackageSize, pkg.size());
    // Only the marker differs from the stub.
    EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + kMarkerOffset, pkg.begin()));
    EXPECT_TRUE(std::equal(stub.begin() + 60, stub.end(), pkg.begin() + 60));

    ASSERT_EQ(reader.ReadHeader(), kPassed);
    const PackageHeader& h = reader.Header();
    EXPECT_EQ(h.ShortcutListSize(), shortcuts.size());
    EXPECT_EQ(h.ShortcutListCrc(), Crc32Of(shortcuts.data(), shortcuts.size()));
    EXPECT_EQ(h.PayloadSize(), cab.size());
    EXPECT_EQ(h.PayloadCrc(), Crc32Of(cab.data(), cab.size()));
    EXPECT_EQ(h.ProductName(), "Example Viewer 2.0");
    EXPECT_EQ(reader.ReadShortcutList(), kPassed);
    EXPECT_EQ(reader.ShortcutList(), shortcuts);

    std::vector<unsigned char> empty = ComposePackage(FakeStub(512), SampleHeader(), "", {});
    BufferSource emptyReaderFile(empty);
    PackageReader emptyReader(emptyReaderFile);
    emptyReader.ReadMarker();
    ASSERT_EQ(emptyReader.ReadHeader(), kPassed);
    EXPECT_EQ(emptyReader.Header().ShortcutListSize(), 0u);
    EXPECT_EQ(emptyReader.Header().ShortcutListCrc(), 0u);
    EXPECT_EQ(emptyReader.Header().PayloadCrc(), 0u);
}

TEST(PackageWriter, UninstallerFromTheRunningInstaller)
{
    PackageHeader in = SampleHeader();
    in.Bytes()[8 + 50] = 0xEE; // leftover byte in ProductName
    const std::vector<unsigned char> installer = SamplePackage(in);
    BufferSource readerFile(installer);
    PackageReader reader(readerFile);
    reader.ReadMarker();
    reader.ReadHeader();
    reader.ReadShortcutList();
    const std::string list = "C:\\Program Files\\Example\\a.txt\r";

    BufferSink out;
    ASSERT_EQ(WriteUninstaller(out, BufferSource(installer), reader.Marker().StubSize, reader.Header(),
                               reader.ShortcutList(), list),
              WriteResult::Written);
    // The same stub, StubSize + 738 + list + file list bytes, marker last.
    EXPECT_EQ(out.bytes.size(), 1536 + kHeaderSize + kShortcuts.size() + list.size());
    EXPECT_TRUE(std::equal(installer.begin(), installer.begin() + kMarkerOffset, out.bytes.begin()));
    EXPECT_TRUE(std::equal(installer.begin() + 60, installer.begin() + 1536, out.bytes.begin() + 60));
    std::string payload;
    EXPECT_EQ(ReadAll(BufferSource(out.bytes), &payload), (std::vector<StepOutcome>(4, kPassed)));
    EXPECT_EQ(payload, list);
    // The header differs from the installer's only in UninstallMode,
    // PayloadSize and PayloadCrc.
    for (unsigned i = 0; i < kHeaderSize; ++i) {
        bool changed = i == 735 || (i >= 719 && i < 727);
        if (!changed) {
            EXPECT_EQ(out.bytes[kHeaderAt + i], installer[kHeaderAt + i]) << "offset " << i;
        }
    }
    EXPECT_EQ(out.bytes[kHeaderAt + 735], 1);

    // Without shortcuts and installed files it is still a valid
    // uninstaller; a stub that cannot be read writes nothing more.
    const std::vector<unsigned char> bareInstaller = SamplePackage(SampleHeader(), "");
    BufferSource bareReaderFile(bareInstaller);
    PackageReader bareReader(bareReaderFile);
    bareReader.ReadMarker();
    bareReader.ReadHeader();
    BufferSink empty;
    ASSERT_EQ(WriteUninstaller(empty, BufferSource(bareInstaller), 1536, bareReader.Header(), "", ""),
              WriteResult::Written);
    EXPECT_EQ(ReadAll(empty.bytes), (std::vector<StepOutcome>(4, kPassed)));
    BufferSink none;
    EXPECT_EQ(WriteUninstaller(none, FailingSource(installer, 1000), 1536, reader.Header(), "", list),
              WriteResult::ReadFailed);
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
