#include "package/Package.h"
#include "package/CRC32.h"
#include "package/PackageDigest.h"
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
    String kept;
    KeepText sink(kept);
    std::vector<StepOutcome> steps = {reader.ReadMarker()};
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadHeader());
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadShortcutList());
    if (steps.back() == StepOutcome::Passed)
        steps.push_back(reader.ReadPayload(sink));
    if (steps.back() == StepOutcome::Passed && reader.Record().Asks(kAskCopies))
        steps.push_back(reader.ReadCopies());
    if (payload)
        *payload = std::string(kept.c_str(), kept.size());
    return steps;
}

std::vector<StepOutcome> ReadAll(const std::vector<unsigned char>& bytes) { return ReadAll(BufferSource(bytes)); }

PackageHeader HeaderOf(const std::vector<unsigned char>& package)
{
    PackageHeader h;
    std::copy(package.begin() + 1536, package.begin() + 1536 + kHeaderSize, h.Bytes());
    return h;
}

std::vector<unsigned char> Patched(std::vector<unsigned char> bytes, size_t at, uint32_t value)
{
    PutU32(&bytes[at], value);
    return bytes;
}

constexpr StepOutcome kPassed = StepOutcome::Passed;
constexpr size_t kHeaderAt = 1536;

// The package with a copies list and its trailer at its end, asking what
// asks says.
std::vector<unsigned char> WithCopies(const std::string& list, uint16_t asks = kAskSubFolders | kAskCopies,
                                      std::vector<unsigned char> package = SamplePackage())
{
    BufferSink out;
    out.bytes = std::move(package);
    PackageRecord record;
    record.asks = asks;
    EXPECT_TRUE(WriteCopies(out, String(list.data(), list.size())));
    EXPECT_TRUE(WriteMarker(out, kHeaderAt, static_cast<uint32_t>(out.bytes.size())));
    EXPECT_TRUE(WriteRecord(out, record));
    return out.bytes;
}

} // namespace

TEST(PackageFields, TheTableLaysTheHeaderOutWithoutGaps)
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

    // The accessors write where the table says, little-endian.
    PackageHeader h = PackageHeader::Blank();
    h.SetFileCount(0x01020304);
    h.SetNumber(FieldOf(Field::UninstallLinkStyle), 3);
    ASSERT_TRUE(h.SetText(HeaderText::GuiLibrary, "gui.dll"));
    const unsigned char* b = h.Bytes();
    EXPECT_EQ(std::vector<unsigned char>(b, b + 8), (std::vector<unsigned char>{0x33, 0x40, 0x80, 0x11, 0xE2, 0x02, 0, 0}));
    EXPECT_EQ(std::vector<unsigned char>(b + 715, b + 719), (std::vector<unsigned char>{4, 3, 2, 1}));
    EXPECT_EQ(b[737], 3);
    EXPECT_EQ(std::string(b + 614, b + 622), "\x07gui.dll");
    EXPECT_EQ(h.Number(FieldOf(Field::FileCount)), 0x01020304u);
    EXPECT_EQ(h.UninstallLinkStyle(), 3);
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
    // The key in Apps & features: the install place, every "\\" a space.
    const char* const keys[][3] = {{"", "Viewer", "Viewer"},
                                   {"Example", "Viewer", "Example Viewer"},
                                   {"Example\\Tools", "Viewer\\2", "Example Tools Viewer 2"}};
    for (const auto& k : keys)
        EXPECT_EQ(std::string(UninstallKeyName(String(k[0]), String(k[1])).c_str()), k[2]);
}

// The inspect table (tests/unit/pack/packer_test.cpp) takes the damage a
// download shows through this same reader; here the rest of its outcomes.
TEST(PackageReader, StepOutcomes)
{
    const std::vector<unsigned char> sound = SamplePackage();
    auto withHeader = [&](void (*change)(PackageHeader&)) {
        PackageHeader h = HeaderOf(sound);
        change(h);
        std::vector<unsigned char> bytes = sound;
        std::copy(h.Bytes(), h.Bytes() + kHeaderSize, bytes.begin() + kHeaderAt);
        return bytes;
    };
    auto askingCopies = [&] {
        BufferSink out;
        out.bytes = sound;
        PackageRecord record;
        record.asks = kAskCopies;
        EXPECT_TRUE(WriteRecord(out, record));
        return out.bytes;
    };
    using O = StepOutcome;
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        std::vector<StepOutcome> steps;
    };
    const Case cases[] = {
        {"sound", sound, {kPassed, kPassed, kPassed, kPassed}},
        {"bare stub with a PackageSize", Patched(FakeStub(5000), kMarkerOffset + 8, 77), {O::BareStub}},
        {"cut before the marker", std::vector<unsigned char>(sound.begin(), sound.begin() + 40), {O::BareStub}},
        {"a byte short", std::vector<unsigned char>(sound.begin(), sound.end() - 1), {O::SizeDiffers}},
        {"file ends inside the header", Patched(sound, kMarkerOffset + 4, static_cast<uint32_t>(sound.size() - 100)),
         {kPassed, O::HeaderCutShort}},
        {"payload past the file", withHeader([](PackageHeader& h) { h.SetPayloadSize(h.PayloadSize() + 1); }),
         {kPassed, O::BlocksPastEnd}},
        {"a 32-bit sum that wraps", withHeader([](PackageHeader& h) { h.SetPayloadSize(0xFFFFFFF0u); }),
         {kPassed, O::BlocksPastEnd}},
        // Room left after the payload is no header damage; the payload's CRC
        // then fails.
        {"payload ends early", withHeader([](PackageHeader& h) { h.SetPayloadSize(h.PayloadSize() - 5); }),
         {kPassed, kPassed, kPassed, O::CrcDiffers}},
        // An empty list has size 0 and CRC 0; an unfinished record is no record.
        {"empty list", SamplePackage(SampleHeader(), ""), {kPassed, kPassed, kPassed, kPassed}},
        {"unfinished record", SamplePackage(SampleHeader(), "viewer.exe|..\\Viewer"), {kPassed, kPassed, kPassed, kPassed}},
        // The copies list, read from the end of the package backwards.
        {"copies into sub-folders", WithCopies("a.dll|sub\\a.dll\rb.txt|c.txt\r"),
         {kPassed, kPassed, kPassed, kPassed, kPassed}},
        {"an empty copies list", WithCopies(""), {kPassed, kPassed, kPassed, kPassed, kPassed}},
        {"a copy that leaves the install folder", WithCopies("a.dll|..\\a.dll\r"),
         {kPassed, kPassed, kPassed, kPassed, O::CopyLeavesPlace}},
        {"a stored name on a drive", WithCopies("a.dll|b.dll\rC:\\a.dll|c.dll\r"),
         {kPassed, kPassed, kPassed, kPassed, O::CopyLeavesPlace}},
        {"a copy into a folder of a flat package", WithCopies("a.dll|sub\\a.dll\r", kAskCopies),
         {kPassed, kPassed, kPassed, kPassed, O::CopyLeavesPlace}},
        {"an unfinished copies record", WithCopies("a.dll|b.dll\rc.dll|d"),
         {kPassed, kPassed, kPassed, kPassed, O::CopyLeavesPlace}},
        {"a copy without its stored name", WithCopies("b.dll\r"),
         {kPassed, kPassed, kPassed, kPassed, O::CopyLeavesPlace}},
        {"a copies list changed after writing", Patched(WithCopies("a.dll|b.dll\r"), sound.size(), 0x6C6C642Eu),
         {kPassed, kPassed, kPassed, kPassed, O::CrcDiffers}},
        {"asks for copies without a trailer", askingCopies(), {kPassed, kPassed, kPassed, kPassed, O::NoCopiesTrailer}},
        {"a list longer than the room after the payload",
         Patched(WithCopies("a.dll|b.dll\r"), sound.size() + 12, 13),
         {kPassed, kPassed, kPassed, kPassed, O::NoCopiesTrailer}},
        {"a trailer without its magic", Patched(WithCopies("a.dll|b.dll\r"), sound.size() + 20, 0),
         {kPassed, kPassed, kPassed, kPassed, O::NoCopiesTrailer}},
        // Without the ask the bytes are only room after the payload.
        {"a copies list not asked for", WithCopies("a.dll|..\\b.dll\r", kAskSubFolders),
         {kPassed, kPassed, kPassed, kPassed}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAll(c.bytes), c.steps) << c.what;

    // A medium that goes away: the reading ends with what came, no hang.
    std::string payload;
    EXPECT_EQ(ReadAll(FailingSource(sound, sound.size() - 1), &payload),
              (std::vector<StepOutcome>{kPassed, kPassed, kPassed, O::CutShort}));
    EXPECT_EQ(payload, std::string(sound.end() - 40000, sound.end() - 1));
    EXPECT_EQ(ReadAll(FailingSource(sound, kHeaderAt + kHeaderSize + 5)),
              (std::vector<StepOutcome>{kPassed, kPassed, O::CutShort}));
}

TEST(PackageReader, ShortcutPlacesPastWhatIsKept)
{
    // Places are checked past what is kept, but for a record that runs on
    // past a piece and what is kept: the checks end there.
    struct Case {
        std::string list;
        uint32_t keep;
        StepOutcome outcome;
        bool unchecked;
    };
    const std::string bad = "c|..\\d\r";
    const std::string longRecord = std::string(20000, 'a') + "|b\r";
    const Case cases[] = {
        {"a|b\r" + bad, 4, StepOutcome::RecordLeavesPlace, false},
        {"a|b\r" + longRecord + bad, 0xFFFFFFFF, StepOutcome::RecordLeavesPlace, false},
        {"a|b\r" + longRecord + bad, 1000, kPassed, true},
    };
    for (const Case& c : cases) {
        const std::vector<unsigned char> bytes = SamplePackage(SampleHeader(), c.list);
        BufferSource file(bytes);
        PackageReader reader(file);
        reader.ReadMarker();
        reader.ReadHeader();
        EXPECT_EQ(reader.ReadShortcutList(c.keep), c.outcome) << c.keep;
        EXPECT_EQ(reader.ShortcutList(), c.list.substr(0, c.keep));
        EXPECT_EQ(reader.RecordsUnchecked(), c.unchecked) << c.keep;
        EXPECT_EQ(reader.UncheckedFrom(), c.unchecked ? 4u : 0u);
        if (c.outcome != kPassed) {
            EXPECT_EQ(reader.BrokenRecord().record.name, "..\\d");
            EXPECT_FALSE(reader.BrokenRecord().target);
            EXPECT_EQ(reader.BrokenRecord().rule, NameRule::DotComponent);
        }
    }
}

TEST(PackageReader, CopiesReadBackWithTheRecordThatBrokeItsRule)
{
    struct Case {
        const char* what;
        std::string list;
        uint16_t asks;
        const char* broken; // the stored name or copy that broke the rule
        bool copyBroke;
        NameRule rule;
    };
    const Case cases[] = {
        {"round trip", "bin\\a.dll|lib\\a.dll\ra.txt|b.txt\r", kAskSubFolders | kAskCopies, "", false, NameRule::Allowed},
        {"a copy named after a device", "a.dll|sub\\nul.dll\r", kAskSubFolders | kAskCopies, "sub\\nul.dll", true,
         NameRule::DeviceName},
        {"a stored name with an empty folder", "sub\\\\a.dll|b.dll\r", kAskSubFolders | kAskCopies, "sub\\\\a.dll",
         false, NameRule::EmptyComponent},
        {"a flat copy with a folder", "a.dll|sub\\b.dll\r", kAskCopies, "sub\\b.dll", true, NameRule::Folders},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<unsigned char> bytes = WithCopies(c.list, c.asks);
        BufferSource file(bytes);
        PackageReader reader(file);
        ASSERT_EQ(reader.ReadMarker(), kPassed);
        ASSERT_EQ(reader.ReadHeader(), kPassed);
        EXPECT_EQ(reader.ReadCopies(), c.rule == NameRule::Allowed ? kPassed : StepOutcome::CopyLeavesPlace);
        EXPECT_EQ(reader.Copies(), c.list);
        const CopyFault& fault = reader.BrokenCopy();
        EXPECT_EQ(fault.rule, c.rule);
        if (c.rule != NameRule::Allowed) {
            EXPECT_EQ(fault.copy, c.copyBroke);
            EXPECT_TRUE((c.copyBroke ? fault.record.name : fault.record.target) == StoredAsText(c.broken));
        }
    }

    // A list the decoder cannot turn into text is no list of copies.
    const std::vector<unsigned char> bytes = WithCopies("a.dll|b.dll\r");
    BufferSource file(bytes);
    PackageReader reader(file);
    reader.DecodeWith([](const char* text, std::size_t size, uint16_t) {
        const String bytes(text, size);
        return bytes.find('|') == String::npos ? StoredAsText(bytes) : WString();
    });
    ASSERT_EQ(reader.ReadMarker(), kPassed);
    ASSERT_EQ(reader.ReadHeader(), kPassed);
    EXPECT_EQ(reader.ReadCopies(), StepOutcome::CopyLeavesPlace);
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
}

TEST(PackageRecord, ReadOnlyWhereSignatureAndCheckHold)
{
    const std::vector<unsigned char> sound = SamplePackage(SampleHeader());
    auto withRecord = [&](uint16_t codePage, uint16_t asks) {
        PackageRecord record;
        record.codePage = codePage;
        record.asks = asks;
        BufferSink out;
        out.bytes = sound;
        EXPECT_TRUE(WriteRecord(out, record));
        return out.bytes;
    };
    const std::vector<unsigned char> japanese = withRecord(932, kAskUtf8FileList);
    struct Case {
        const char* name;
        std::vector<unsigned char> file;
        bool present;
        uint16_t codePage, asks;
    } cases[] = {
        {"a record written is read back", japanese, true, 932, kAskUtf8FileList},
        {"UTF-8 with nothing asked", withRecord(kCodePageUtf8, 0), true, kCodePageUtf8, 0},
        {"a stub's stray bytes are no record", sound, false, 0, 0},
        {"a code page changed after writing", Patched(japanese, kRecordOffset + 2, 1252), false, 0, 0},
        {"a check that does not match", Patched(japanese, kRecordOffset + 4, 0x12340000u | GetU16(&japanese[44])),
         false, 0, 0},
        {"zeros, as in a stub made before records", Patched(Patched(sound, kRecordOffset, 0), kRecordOffset + 4, 0),
         false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferSource file(c.file);
        PackageReader reader(file);
        // The record never decides whether the marker passes.
        EXPECT_EQ(reader.ReadMarker(), kPassed);
        EXPECT_EQ(reader.Record().present, c.present);
        EXPECT_EQ(reader.Record().codePage, c.codePage);
        EXPECT_EQ(reader.Record().asks, c.asks);
    }
}

TEST(PackageWriter, UninstallerFromTheRunningInstaller)
{
    PackageHeader in = SampleHeader();
    in.Bytes()[8 + 50] = 0xEE; // leftover byte in ProductName
    const std::vector<unsigned char> installer = SamplePackage(in);
    const std::string list = "C:\\Program Files\\Example\\a.txt\r";
    BufferSink out;
    ASSERT_EQ(WriteUninstaller(out, BufferSource(installer), 1536, HeaderOf(installer), kShortcuts, list),
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

    // Without shortcuts and installed files it is still a valid uninstaller
    // (sizes and CRCs 0); a stub that cannot be read writes nothing more.
    const std::vector<unsigned char> bare = SamplePackage(SampleHeader(), "");
    BufferSink empty;
    ASSERT_EQ(WriteUninstaller(empty, BufferSource(bare), 1536, HeaderOf(bare), "", ""), WriteResult::Written);
    EXPECT_EQ(ReadAll(empty.bytes), (std::vector<StepOutcome>(4, kPassed)));
    BufferSink none;
    EXPECT_EQ(WriteUninstaller(none, FailingSource(installer, 1000), 1536, HeaderOf(installer), "", list),
              WriteResult::ReadFailed);
}

// A stand-in for SHA-256 that still depends on every byte and its order:
// four CRC-32s of the pieces, each seeded differently.
bool TestDigest(const Piece* pieces, std::size_t count, unsigned char out[kDigestSize])
{
    for (unsigned k = 0; k < kDigestSize / 4; ++k) {
        uint32_t crc = Crc32Init() ^ k;
        for (std::size_t i = 0; i < count; ++i)
            crc = Crc32Update(crc, pieces[i].data, pieces[i].size);
        PutU32(out + 4 * k, crc);
    }
    return true;
}
bool FailingDigest(const Piece*, std::size_t, unsigned char*) { return false; }

TEST(PackageDigest, TheUninstallerCarriesTheDigestOfItsOwnPackage)
{
    const std::vector<unsigned char> installer = SamplePackage();
    const std::string list = "C:\\Program Files\\Example\\a.txt\r";
    PackageRecord record;
    record.present = true;
    record.codePage = 932;
    record.asks = kAskUtf8FileList;
    auto digestOf = [](const std::vector<unsigned char>& file, unsigned char out[kDigestSize]) {
        BufferSource source(file);
        PackageReader reader(source);
        EXPECT_EQ(reader.ReadMarker(), kPassed);
        std::vector<unsigned char> covered;
        auto take = [&](const unsigned char* p, size_t n) { covered.insert(covered.end(), p, p + n); };
        EXPECT_TRUE(ReadDigestedBytes(source, reader.Marker(), take));
        // The record and the marker, then all that follows the stub.
        EXPECT_EQ(covered.size(), 20 + file.size() - 1536);
        const Piece whole{covered.data(), covered.size()};
        return TestDigest(&whole, 1, out);
    };
    struct Case {
        const char* name;
        std::vector<unsigned char> stub;
        DigestFunction digest;
        WriteResult result;
        bool present;
    };
    // Ours leave the end of their headers zero; this one uses it.
    const std::vector<unsigned char>& taken = installer;
    std::vector<unsigned char> free = installer;
    std::fill(free.begin() + kDigestSlotOffset, free.begin() + kDigestSlotEnd, 0);
    std::vector<unsigned char> earlier = free;
    PackageDigest old;
    old.present = true;
    old.bytes[0] = 0xAB;
    old.Encode(&earlier[kDigestSlotOffset]); // the installer's digest, replaced
    const Case cases[] = {
        {"a free slot gets the digest", free, TestDigest, WriteResult::Written, true},
        {"the installer's digest is replaced", earlier, TestDigest, WriteResult::Written, true},
        {"room the stub uses stays as it is", taken, TestDigest, WriteResult::Written, false},
        {"without a digest function, none", free, nullptr, WriteResult::Written, false},
        {"a digest that cannot be made writes nothing", free, FailingDigest, WriteResult::WriteFailed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferSink out;
        ASSERT_EQ(WriteUninstaller(out, BufferSource(c.stub), 1536, HeaderOf(c.stub), kShortcuts, list, record,
                                   c.digest),
                  c.result);
        if (c.result != WriteResult::Written)
            continue;
        EXPECT_EQ(ReadAll(out.bytes), (std::vector<StepOutcome>(4, kPassed)));
        const PackageDigest got = PackageDigest::Decode(&out.bytes[kDigestSlotOffset]);
        EXPECT_EQ(got.present, c.present);
        if (c.present) {
            unsigned char expected[kDigestSize];
            ASSERT_TRUE(digestOf(out.bytes, expected));
            EXPECT_TRUE(got.Same(expected));
            // Any byte of the package changed, and the digest no longer holds.
            std::vector<unsigned char> changed = out.bytes;
            changed.back() ^= 1;
            ASSERT_TRUE(digestOf(changed, expected));
            EXPECT_FALSE(got.Same(expected));
        } else {
            EXPECT_TRUE(std::equal(c.stub.begin() + kDigestSlotOffset, c.stub.begin() + kDigestSlotEnd,
                                   out.bytes.begin() + kDigestSlotOffset));
        }
        // The rest of the stub's bytes after the marker are the installer's.
        EXPECT_TRUE(std::equal(c.stub.begin() + 60, c.stub.begin() + kDigestSlotOffset, out.bytes.begin() + 60));
        EXPECT_TRUE(std::equal(c.stub.begin() + kDigestSlotEnd, c.stub.begin() + 1536,
                               out.bytes.begin() + kDigestSlotEnd));
    }
}

TEST(TextLists, ShortcutRecords)
{
    struct Case {
        String list;
        std::vector<String> pairs; // target, name, target, name...
        String left;
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
        String list = c.list;
        std::vector<String> got;
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
    String list = "C:\\P\\a.txt\rC:\\P\\b.dll\rC:\\P\\a.txt\rtrailing";
    std::vector<String> got;
    String e;
    while (TakeListEntry(list, e))
        got.push_back(e);
    EXPECT_EQ(got, (std::vector<String>{"C:\\P\\a.txt", "C:\\P\\b.dll", "C:\\P\\a.txt"}));
    EXPECT_EQ(list, "trailing");
    String lf = "a\nb\r";
    ASSERT_TRUE(TakeListEntry(lf, e));
    EXPECT_EQ(e, "a\nb");
    // A zero byte is part of its entry, as the package holds it.
    String zero("x\0y\rz", 5);
    ASSERT_TRUE(TakeListEntry(zero, e));
    EXPECT_EQ(e, String("x\0y", 3));
    EXPECT_EQ(zero, "z");
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
        // Every component of a name stored with its folders counts.
        {"docs\\guide\\README", ok, NameRule::Folders},
        {"bin\\con\\a.txt", NameRule::DeviceName, NameRule::DeviceName},
        {"plugins\\lpt1.d\\x.dll", NameRule::DeviceName, NameRule::DeviceName},
        {"docs\\..\\..\\evil.dll", NameRule::DotComponent, NameRule::DotComponent},
        {"docs\\ \\a.txt", NameRule::DotComponent, NameRule::DotComponent},
        {"docs\\a.txt:zone", NameRule::Colon, NameRule::Colon},
        {"docs\\c:\\a.txt", NameRule::Colon, NameRule::Colon},
        {"docs\\a?\\b.txt", NameRule::BadCharacter, NameRule::BadCharacter},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckRelativePath(c.text), c.path) << c.text;
        EXPECT_EQ(CheckPlainName(c.text), c.name) << c.text;
    }
}

TEST(PathRules, KeptPathsAreWhatWindowsMakesOfEachComponent)
{
    EXPECT_EQ(KeptPath(String("docs. \\guide..\\a.txt. ")), String("docs\\guide\\a.txt"));
    EXPECT_EQ(KeptPath(String("x.y\\. z")), String("x.y\\. z")); // only the end of a component is cut
    EXPECT_TRUE(KeptPath(WString(u"d. \\e")) == WString(u"d\\e"));
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
