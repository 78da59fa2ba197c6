#include "package/CRC32.h"
#include "package/Package.h"
#include "package/PackageDigest.h"
#include "package/PackageWriter.h"
#include "package/PeImage.h"
#include "package/VersionInfo.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/verdict/Verdict.h"
#include "tools/pack/packer/Packer.h"
#include "tools/pack/pe/Branding.h"
#include "tools/pack/ToolError.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "PackTestUtil.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Directory 4 of BareStub's i386 headers: the certificate table's offset
// and size.
constexpr size_t kSecurityEntry = kStubPeOffset + 24 + 96 + 32;

// A package as a signing tool leaves it: zeros up to a multiple of 8, then
// a certificate table of one entry per blob (u32 length, revision 0x0200,
// type 2, the blob, zeros up to 8 but after the last), named by the
// security directory.
Bytes Signed(Bytes b, const std::vector<Bytes>& blobs = {Pattern(1000, 9)})
{
    b.resize((b.size() + 7) / 8 * 8, 0);
    const uint32_t start = static_cast<uint32_t>(b.size());
    for (size_t i = 0; i < blobs.size(); ++i) {
        AppendU32(b, static_cast<uint32_t>(8 + blobs[i].size()));
        AppendU16(b, 0x0200);
        AppendU16(b, 2);
        b.insert(b.end(), blobs[i].begin(), blobs[i].end());
        if (i + 1 < blobs.size())
            b.resize((b.size() + 7) / 8 * 8, 0);
    }
    PutU32(&b[kSecurityEntry], start);
    PutU32(&b[kSecurityEntry + 4], static_cast<uint32_t>(b.size() - start));
    return b;
}

// The PE checksum as the definition has it: every 16-bit word of the file,
// the checksum field as zero, the carries folded in at the end, plus the
// length.
uint32_t PeChecksumOf(Bytes b)
{
    PutU32(&b[kStubPeOffset + 24 + 64], 0);
    b.push_back(0);
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        sum += GetU16(&b[i]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + b.size() - 1);
}

struct Payload {
    ScratchDir dir;
    std::string stub;
    Payload()
    {
        stub = dir.Write("stub.exe", BareStub(3000));
        dir.Write("in/viewer.exe", Pattern(70000, 1));
        dir.Write("in/license.txt", std::string("Terms.\r\n"));
        dir.Write("in/docs/caf\xC3\xA9.txt", Noise(40000, 2));
        dir.Write("in/docs/empty.dat", std::string());
    }
    PackRequest Request() const
    {
        PackRequest r;
        r.stubPath = stub;
        r.fields = {{"ProductName", "Example Viewer 2.0"}, {"InstallFolder", "Example\\Viewer"},
                    {"StartMenuFolder", "Example"}, {"ShortName", "Viewer"}, {"LicenseFile", "LICENSE.TXT"},
                    {"MakeUninstaller", "1"}, {"UninstallLinkStyle", "2"}};
        r.shortcuts = {{"Example Viewer", "viewer.exe"}};
        r.inputs = {{dir / "in", ""}};
        r.collect.run = {"viewer.exe"};
        return r;
    }
};

struct Built {
    Bytes package;
    std::vector<std::string> warnings;
};

Built BuildPackage(const PackRequest& req)
{
    VectorSink sink;
    PackResult r = WritePackage(PlanPackage(req), sink);
    EXPECT_EQ(r.packageSize, sink.bytes.size());
    return {std::move(sink.bytes), r.warnings};
}

Bytes Slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }

} // namespace

TEST(Packer, ComposesAnInstallerTheStubAccepts)
{
    // The record names the code page of the texts and names, the default
    // UTF-8 too: a package without one reads in the system's code page.
    // By default the tree is kept and the shortcuts are for all users;
    // --flat and --current-user give the described package.
    struct Case {
        const char* title;
        int codePage;
        std::string cafe;      // the stored name of café.txt
        uint16_t cafeAttribs;  // UTF-8 names carry the flag 0x80, ASCII ones never
        bool flat, currentUser;
        std::string folder; // of café.txt and empty.dat as stored
        uint16_t asks;      // besides running unattended and replacing an earlier installation
        bool noAppsEntry = false;
    };
    for (const Case& c :
         {Case{"UTF-8 and the tree by default", 0, "caf\xC3\xA9.txt", kAttrArchive | kAttrUtf8Name, false, false,
               "docs\\", kAskSubFolders | kAskAllUsers | kAskAppsEntry},
          Case{"code page 1252, flat, for the current user, unregistered", 1252, "caf\xE9.txt", kAttrArchive, true,
               true, "", 0, true},
          Case{"flat for all users", 0, "caf\xC3\xA9.txt", kAttrArchive | kAttrUtf8Name, true, false, "",
               kAskAllUsers | kAskAppsEntry},
          Case{"code page 932", 932, "caf\xE9.txt", kAttrArchive, false, false, "", 0}}) {
        SCOPED_TRACE(c.title);
        Payload p;
        chmod((p.dir / "in/license.txt").c_str(), 0444);
        PackRequest req = p.Request();
        req.flat = c.flat;
        req.currentUser = c.currentUser;
        req.noAppsEntry = c.noAppsEntry;
        if (c.codePage != 0)
            req.collect.codePage = c.codePage;
        if (c.codePage == 932) { // é is not in 932: refused, naming the name and the character
            try {
                PlanPackage(req);
                ADD_FAILURE();
            } catch (const ToolError& e) {
                EXPECT_NE(std::string(e.what()).find("file name \"docs\\caf\xC3\xA9.txt\" has a character that code page 932 "
                                                     "cannot represent: \"\xC3\xA9\""),
                          std::string::npos)
                    << e.what();
            }
            continue;
        }
        Built res = BuildPackage(req);
        EXPECT_TRUE(res.warnings.empty());

        InspectReport r = InspectFile(res.package);
        ASSERT_EQ(r.kind, FileKind::Installer) << r.reason;
        EXPECT_EQ(r.cabinetError, "");
        EXPECT_EQ(r.installError, "");
        EXPECT_EQ(r.marker.StubSize, 3000u);
        EXPECT_EQ(r.marker.PackageSize, res.package.size());
        EXPECT_TRUE(r.record.present);
        EXPECT_EQ(r.record.codePage, c.codePage ? c.codePage : 65001);
        EXPECT_EQ(r.record.asks, c.asks | kAskUnattended | kAskUpgrade);
        const PackageHeader& h = r.header;
        EXPECT_EQ(h.ProductName(), "Example Viewer 2.0");
        EXPECT_EQ(h.LicenseFile(), "LICENSE.TXT");
        EXPECT_EQ(h.FileCount(), 4u);
        EXPECT_EQ(h.UninstallMode(), 0);
        EXPECT_EQ(h.MakeUninstaller(), 1);
        EXPECT_EQ(h.UninstallLinkStyle(), 2);
        EXPECT_EQ(h.ShortcutListSize(), std::string("viewer.exe|Example Viewer\r").size());
        EXPECT_EQ(Slice(res.package, 3738, h.ShortcutListSize()),
                  Bytes(reinterpret_cast<const unsigned char*>("viewer.exe|Example Viewer\r"),
                        reinterpret_cast<const unsigned char*>("viewer.exe|Example Viewer\r") + 26));
        EXPECT_EQ(Slice(res.package, 0, kRecordOffset), Slice(BareStub(3000), 0, kRecordOffset));

        // Folders kept or flattened, sorted, names in the code page, flags kept.
        const auto& files = r.cabinet.files;
        ASSERT_EQ(files.size(), 4u);
        EXPECT_EQ(files[0].name, c.folder + c.cafe);
        EXPECT_EQ(files[1].name, c.folder + "empty.dat");
        EXPECT_EQ(files[2].name, "license.txt");
        EXPECT_EQ(files[3].name, "viewer.exe");
        EXPECT_EQ(files[2].attribs, kAttrArchive | kAttrReadOnly);
        EXPECT_EQ(files[3].attribs, kAttrArchive | kAttrRun);
        EXPECT_EQ(files[0].attribs, c.cafeAttribs);
        EXPECT_NE(RenderText(r, 1250).find("  " + c.folder + "caf\xC3\xA9.txt\n"), std::string::npos);

        Bytes cab = Slice(res.package, 3738 + h.ShortcutListSize(), h.PayloadSize());
        std::vector<Bytes> decoded = VerifyCabinet(cab, true);
        EXPECT_EQ(decoded[0], Noise(40000, 2));
        EXPECT_EQ(decoded[3], Pattern(70000, 1));
    }
}

TEST(Packer, PacksAReadyMadeCabinetUnchanged)
{
    Payload p;
    CabEntry e;
    e.name = "tool\\readme.txt";
    e.data = Pattern(5000, 4);
    CabEntry lic;
    lic.name = "license.txt";
    lic.data = Pattern(100, 5);
    CabWriteOptions stored;
    stored.level = 0;
    Bytes cab = WriteCabinet({e, lic}, stored);
    PackRequest req = p.Request();
    req.inputs.clear();
    req.collect.run.clear();
    req.cabPath = p.dir.Write("ready.cab", cab);
    req.shortcuts.clear();
    req.fields.erase("MakeUninstaller");
    Built res = BuildPackage(req);
    InspectReport r = InspectFile(res.package);
    ASSERT_EQ(r.kind, FileKind::Installer);
    EXPECT_EQ(r.header.FileCount(), 2u);
    EXPECT_EQ(r.header.UninstallLinkStyle(), 2);
    EXPECT_EQ(Slice(res.package, 3738, cab.size()), cab);
    EXPECT_EQ(r.header.PayloadCrc(), Crc32Of(cab.data(), cab.size()));
}

TEST(Packer, WarnsAboutAnUninstallerWithoutShortcuts)
{
    Payload p;
    PackRequest req = p.Request();
    req.shortcuts = {{"Manual", "manual.pdf"}};
    Built res = BuildPackage(req);
    ASSERT_EQ(res.warnings.size(), 1u);
    EXPECT_NE(res.warnings[0].find("not a packed file"), std::string::npos);

    // Registered in Apps & features, the product gets its uninstaller
    // without shortcuts too: nothing to warn of.
    req.shortcuts.clear();
    EXPECT_TRUE(BuildPackage(req).warnings.empty());
    req.noAppsEntry = true;
    res = BuildPackage(req);
    ASSERT_EQ(res.warnings.size(), 1u);
    EXPECT_NE(res.warnings[0].find("writes its uninstaller only while it makes shortcuts"), std::string::npos);
    EXPECT_EQ(InspectFile(res.package).header.ShortcutListSize(), 0u);
    EXPECT_EQ(InspectFile(res.package).header.ShortcutListCrc(), 0u);
}

TEST(Packer, KeepNamesOnlyForCabinets)
{
    Payload p;
    p.dir.Write("odd/noext", std::string("x"));
    CollectOptions keep;
    keep.keepNames = true;
    keep.attribs = {{"dir\\noext", "rhs"}};
    std::vector<CabEntry> entries = CollectEntries({{p.dir / "odd", ""}, {p.dir / "odd/noext", "dir\\noext"}}, keep);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "noext");
    EXPECT_EQ(entries[1].name, "dir\\noext");
    EXPECT_EQ(entries[1].attribs, kAttrReadOnly | kAttrHidden | kAttrSystem);

    CollectOptions strict;
    EXPECT_THROW(CollectEntries({{p.dir / "odd", ""}}, strict), ToolError);
}

TEST(Packer, KeepsTheInputTreeUnlessFlat)
{
    // Each case: files below a second input folder, --flat, and the stored
    // names it must give (beside the payload's own), or the refusal.
    struct Case {
        const char* title;
        std::vector<std::string> files;
        bool flat;
        std::vector<std::string> names;
        std::string error;
    };
    const std::string longPath = std::string(100, 'd') + "/" + std::string(117, 'n') + ".txt"; // 222 installed
    for (const Case& c : std::vector<Case>{
             {"two levels of folders and a name without a dot",
              {"bin/app.exe", "share/guide/intro.txt", "plugins/filters/README"}, false,
              {"bin\\app.exe", "share\\guide\\intro.txt", "plugins\\filters\\README"}, ""},
             {"flat refuses a name without a dot", {"plugins/filters/README"}, true, {},
              "file name \"README\" has no \".\""},
             {"flat refuses one name in two folders", {"a/x.txt", "b/x.txt"}, true, {}, "two files are named \"x.txt\""},
             {"the same names in two folders are two files", {"a/x.txt", "b/x.txt"}, false, {"a\\x.txt", "b\\x.txt"},
              ""},
             {"paths that differ only in case", {"Share/a.txt", "share/A.txt"}, false, {},
              "would be one file, \"share\\A.txt\" (Windows ignores letter case)"},
             {"a folder Windows cuts to the name of another", {"share./a.txt", "share/a.txt"}, false, {},
              "would be one file, \"share.\\a.txt\""},
             {"a device name as a folder", {"aux/x.txt"}, false, {},
              "file name \"aux\\x.txt\" must not be a reserved device name"},
             {"the length counts the folders", {longPath}, false, {},
              "\" is 222 characters long; installed in C:\\Program Files (x86)\\Example\\Viewer\\ a name may have at "
              "most 221"},
             {"flat, the last name alone counts", {longPath}, true, {std::string(117, 'n') + ".txt"}, ""},
         }) {
        SCOPED_TRACE(c.title);
        Payload p;
        for (const std::string& file : c.files)
            p.dir.Write("tree/" + file, std::string("x"));
        PackRequest req = p.Request();
        req.inputs.push_back({p.dir / "tree", ""});
        req.flat = c.flat;
        try {
            PackPlan plan = PlanPackage(req);
            EXPECT_EQ(c.error, "");
            // The files of one content are stored once; every name is
            // checked all the same, the copies' too.
            std::vector<std::string> names;
            for (const CabEntry& e : plan.entries)
                names.push_back(e.name);
            for (size_t at = 0; at < plan.copies.size(); at = plan.copies.find('\r', at) + 1) {
                const size_t bar = plan.copies.find('|', at);
                names.push_back(plan.copies.substr(bar + 1, plan.copies.find('\r', bar) - bar - 1));
            }
            EXPECT_EQ(plan.copyCount, c.files.size() > 1 ? c.files.size() - 1 : 0);
            for (const std::string& name : c.names)
                EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
            EXPECT_EQ(names.size(), 4 + c.files.size());
        } catch (const ToolError& e) {
            EXPECT_NE(c.error, "") << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
}

TEST(Packer, StoresIdenticalFilesOnce)
{
    // Same content and attributes: one entry, the others copies of the
    // first in cabinet order. Same size with other bytes, other
    // attributes, a file to be run, or empty: entries of their own.
    Payload p;
    const Bytes dll = Noise(50000, 3);
    for (const char* name : {"tree/a/lib.dll", "tree/b/lib.dll", "tree/c/other.dll", "tree/e/ro.dll"})
        p.dir.Write(name, dll);
    Bytes other = dll;
    other[49999] ^= 1;
    p.dir.Write("tree/d/late.dll", other);
    p.dir.Write("tree/bin/viewer.exe", Pattern(70000, 1)); // the bytes of viewer.exe, which is run
    p.dir.Write("tree/f/none.dat", std::string()); // empty, as in/docs/empty.dat
    p.dir.Write("tree/f/zero.dat", std::string());
    chmod((p.dir / "tree/e/ro.dll").c_str(), 0444);
    PackRequest req = p.Request();
    req.inputs.push_back({p.dir / "tree", ""});
    PackRequest everyFile = req;
    everyFile.storeCopiesOnce = false;

    const PackPlan plan = PlanPackage(req);
    EXPECT_EQ(plan.copies, "a\\lib.dll|b\\lib.dll\ra\\lib.dll|c\\other.dll\r");
    EXPECT_EQ(plan.copyCount, 2u);
    EXPECT_EQ(plan.entries.size(), 4u + 6u);
    const Built once = BuildPackage(req), every = BuildPackage(everyFile);
    EXPECT_LT(once.package.size() + 2 * 49000, every.package.size());

    InspectReport r = InspectFile(once.package);
    ASSERT_EQ(r.kind, FileKind::Installer) << r.reason;
    EXPECT_EQ(r.installError, "");
    EXPECT_EQ(r.notes, std::vector<std::string>());
    EXPECT_EQ(r.record.asks, kAskSubFolders | kAskAppsEntry | kAskAllUsers | kAskUnattended | kAskCopies | kAskUpgrade);
    EXPECT_EQ(r.header.FileCount(), 12u); // what the installation writes
    EXPECT_EQ(r.cabinet.files.size(), 10u);
    ASSERT_EQ(r.copies.size(), 2u);
    EXPECT_EQ(std::string(r.copies[1].target.c_str()), "a\\lib.dll");
    EXPECT_EQ(std::string(r.copies[1].name.c_str()), "c\\other.dll");
    const std::string text = RenderText(r, 1252);
    EXPECT_NE(text.find("copies of stored files"), std::string::npos);
    EXPECT_NE(text.find("copies: 2\n  \"a\\lib.dll\" -> \"b\\lib.dll\"\n"), std::string::npos) << text;
    EXPECT_NE(RenderJson(r, 1252).find("\"copies\":[{\"stored\":\"a\\\\lib.dll\",\"copy\":\"b\\\\lib.dll\"},"),
              std::string::npos);

    r = InspectFile(every.package);
    EXPECT_EQ(r.record.asks & kAskCopies, 0);
    EXPECT_EQ(r.cabinet.files.size(), 12u);
    EXPECT_EQ(RenderText(r, 1252).find("copies"), std::string::npos);

    // A copy the stub would refuse makes the package damaged; one that
    // would be one file with an entry, not installable.
    auto withCopies = [&](const std::string& list) {
        Bytes bytes = once.package;
        const size_t trailer = bytes.size() - kCopiesTrailerSize;
        const size_t at = trailer - GetU32(&bytes[trailer]);
        bytes.resize(at);
        std::fill(bytes.begin() + kDigestSlotOffset, bytes.begin() + kDigestSlotEnd, 0); // no digest to match
        BufferSink out;
        out.bytes = bytes;
        WriteCopies(out, String(list.data(), list.size()));
        WriteMarker(out, 3000, static_cast<uint32_t>(out.bytes.size()));
        return InspectFile(out.bytes);
    };
    r = withCopies("a\\lib.dll|..\\lib.dll\r");
    EXPECT_EQ(r.kind, FileKind::Damaged);
    EXPECT_EQ(r.failedStep, PackageStep::Copies);
    EXPECT_NE(r.reason.find("copy \"..\\lib.dll\""), std::string::npos) << r.reason;
    r = withCopies("a\\lib.dll|A\\LIB.dll\ra\\lib.dll|c\\other.dll\r");
    EXPECT_EQ(r.kind, FileKind::Installer);
    EXPECT_NE(r.installError.find("\"A\\LIB.dll\" would be one file with another"), std::string::npos)
        << r.installError;
}

TEST(Packer, ParsesAttributeSpecs)
{
    EXPECT_EQ(ParseAttributes("rhsax"), 0x67);
    EXPECT_EQ(ParseAttributes("0x21"), 0x21);
    EXPECT_EQ(ParseAttributes("64"), 0x40);
    EXPECT_EQ(ParseAttributes(""), 0);
    EXPECT_THROW(ParseAttributes("rq"), ToolError);
    EXPECT_THROW(ParseAttributes("0x10000"), ToolError);
}

// The installation registers the version and publisher it finds in its own
// version resource: the one the packer writes.
TEST(Branding, TheStubReadsTheVersionResourceThePackerWrites)
{
    Branding brand;
    brand.productVersion = "1.2.3";
    brand.productName = "Example Viewer";
    brand.publisher = "Caf\xC3\xA9 Co";
    const std::vector<unsigned char> info = VersionResource(brand);
    auto text = [&](size_t size, const char* key) {
        const WString w = VersionText(info.data(), size, key);
        return std::u16string(w.c_str(), w.size());
    };
    EXPECT_EQ(text(info.size(), "ProductVersion"), u"1.2.3");
    EXPECT_EQ(text(info.size(), "CompanyName"), u"Caf\u00E9 Co");
    EXPECT_EQ(text(info.size(), "FileDescription"), u"Example Viewer Setup");
    EXPECT_EQ(text(info.size(), "LegalCopyright"), u"");   // not written
    EXPECT_EQ(text(info.size(), "ProductVersio"), u"");    // a key is matched whole
    // Cut short anywhere, it gives no text; damaged anywhere, never more
    // than the value holds: nothing is read past what there is.
    for (size_t size = 0; size < info.size(); ++size)
        EXPECT_EQ(text(size, "ProductVersion"), u"") << size;
    for (size_t at = 0; at + 2 <= info.size(); at += 2) {
        std::vector<unsigned char> damaged = info;
        damaged[at] = damaged[at + 1] = 0xFF;
        EXPECT_LE(VersionText(damaged.data(), damaged.size(), "CompanyName").size(), 8u) << at; // its room, zero included
    }
}

TEST(PeImage, TellsTheTwoStubKindsFromOtherFiles)
{
    const size_t pe = kStubPeOffset, opt = pe + 24;
    auto with = [](Bytes b, size_t at, uint16_t v) {
        PutU16At(b, at, v);
        return b;
    };
    const Bytes x86 = BareStub(3000), x64 = BareStub(3000, kPeMachineAmd64);
    Bytes mzZeros(3000, 0);
    mzZeros[0] = 'M';
    mzZeros[1] = 'Z';
    const std::string text = "MZ is how a Windows program starts; this is a note about it, no program.";
    // The PE headers 64 KB on, behind a long DOS program.
    Bytes far(0x10000 + 3000, 0);
    std::copy(x86.begin(), x86.begin() + 64, far.begin());
    std::copy(x86.begin() + pe, x86.end(), far.begin() + 0x10000);
    PutU16At(far, 0x3C, 0);
    PutU16At(far, 0x3E, 1);
    struct Case {
        const char* label;
        Bytes file;
        PeStatus status;
        StubFit fit;
    };
    for (const Case& c : std::vector<Case>{
             {"i386 PE32 GUI program", x86, PeStatus::Ok, StubFit::Ok},
             {"x86-64 PE32+ GUI program", x64, PeStatus::Ok, StubFit::Ok},
             {"DLL", with(x86, pe + 22, 0x2102), PeStatus::Ok, StubFit::Dll},
             {"object, not an executable image", with(x64, pe + 22, 0x0020), PeStatus::Ok, StubFit::NotExecutable},
             {"console program", with(x64, opt + 68, 3), PeStatus::Ok, StubFit::NotGui},
             {"ARM64", with(x64, pe + 4, 0xAA64), PeStatus::Ok, StubFit::OtherMachine},
             {"i386 code in a PE32+ image", with(x64, pe + 4, kPeMachineI386), PeStatus::Ok, StubFit::MachineMismatch},
             {"cut inside its section", Slice(x86, 0, 2999), PeStatus::Ok, StubFit::CutShort},
             {"cut inside the section table", Slice(x86, 0, opt + 224 + 20), PeStatus::CutShort, StubFit::Ok},
             {"cut inside the optional header", Slice(x64, 0, opt + 100), PeStatus::CutShort, StubFit::Ok},
             {"cut inside the file header", Slice(x86, 0, pe + 10), PeStatus::CutShort, StubFit::Ok},
             {"e_lfanew past the end", with(x86, 0x3C, 0x4000), PeStatus::NotPe, StubFit::Ok},
             {"e_lfanew inside the DOS header", with(x86, 0x3C, 0x30), PeStatus::NotPe, StubFit::Ok},
             {"MZ and zeros", mzZeros, PeStatus::NotPe, StubFit::Ok},
             {"text", Bytes(text.begin(), text.end()), PeStatus::NotPe, StubFit::Ok},
             {"two bytes MZ", Bytes{'M', 'Z'}, PeStatus::NotPe, StubFit::Ok},
             {"ROM image magic", with(x86, opt, 0x0107), PeStatus::NotPe, StubFit::Ok},
             {"optional header shorter than its kind", with(x64, pe + 20, 100), PeStatus::NotPe, StubFit::Ok},
             {"headers far behind the DOS header", far, PeStatus::Ok, StubFit::Ok},
             {"far headers cut short", Slice(far, 0, 0x10000 + 30), PeStatus::CutShort, StubFit::Ok},
         }) {
        SCOPED_TRACE(c.label);
        PeImage image;
        ASSERT_EQ(ReadPeImage(c.file.data(), c.file.size(), image), c.status);
        if (c.status == PeStatus::Ok) {
            EXPECT_EQ(CheckStubImage(image, c.file.size()), c.fit);
        }
        // The packer and inspect read the headers alone, with the same result.
        PeImage headers;
        ASSERT_EQ(ReadPeHeaders(BufferSource(c.file), headers), c.status);
        EXPECT_EQ(headers.machine, image.machine);
        EXPECT_EQ(headers.magic, image.magic);
        EXPECT_EQ(headers.subsystem, image.subsystem);
        EXPECT_EQ(headers.characteristics, image.characteristics);
        EXPECT_EQ(headers.dataEnd, image.dataEnd);
        EXPECT_EQ(headers.signatureOffset, image.signatureOffset);
    }
    // A source that ends before the size it gives (a file cut while it is
    // read) leaves the headers cut short.
    struct Shrinking {
        const Bytes& bytes;
        uint64_t Size() const { return bytes.size() + 4096; }
        size_t ReadAt(uint64_t at, void* out, size_t count) const { return BufferSource(bytes).ReadAt(at, out, count); }
    };
    PeImage headers;
    for (const Bytes& file : {Slice(x86, 0, opt + 100), Slice(x86, 0, 40)})
        EXPECT_EQ(ReadPeHeaders(Shrinking{file}, headers), PeStatus::CutShort);

    // The certificate table (directory 4) of both kinds: the directories
    // start 96 bytes into a PE32 optional header, 112 into a PE32+ one.
    for (auto [stub, directories] : {std::pair<Bytes, size_t>{x86, opt + 96}, {x64, opt + 112}}) {
        Bytes signedStub = with(with(stub, directories + 32, 0x0BB8), directories + 36, 0x0123);
        PeImage image;
        ASSERT_EQ(ReadPeImage(signedStub.data(), signedStub.size(), image), PeStatus::Ok);
        EXPECT_EQ(image.security.address, 0x0BB8u);
        EXPECT_EQ(image.security.size, 0x0123u);
        // A directory count of 4 leaves the certificate table out.
        Bytes fewer = with(signedStub, directories - 4, 4);
        ASSERT_EQ(ReadPeImage(fewer.data(), fewer.size(), image), PeStatus::Ok);
        EXPECT_EQ(image.security.size, 0u);
    }
}

TEST(Inspect, NamesTheStepThatFails)
{
    Payload p;
    Bytes good = BuildPackage(p.Request()).package;
    const uint32_t stub = 3000;
    auto patched = [&](size_t at, unsigned char x) {
        Bytes b = good;
        b[at] ^= x;
        return b;
    };
    Bytes appended = good;
    appended.push_back(0);
    Bytes textTooLong = good;
    textTooLong[stub + 8] = 101;
    constexpr StepOutcome kPassed = StepOutcome::Passed;
    struct Case {
        const char* label;
        Bytes file;
        FileKind kind;
        StepOutcome failure; // Passed: none
        std::string rule = "";
        const char* step = "marker"; // the step that fails
    };
    // What follows a signed package must be exactly the table the stub's
    // security directory names, where it names it.
    const Bytes signedGood = Signed(good);
    ASSERT_NE(good.size() % 8, 0u) << "the padding cases need a package that does not end at a multiple of 8";
    const uint32_t tableAt = static_cast<uint32_t>((good.size() + 7) / 8 * 8);
    auto signedPatched = [&](size_t at, uint32_t value) {
        Bytes b = signedGood;
        PutU32(&b[at], value);
        return b;
    };
    Bytes tableThenByte = signedGood;
    tableThenByte.push_back(0);
    Bytes nonzeroPadding = signedGood;
    nonzeroPadding[good.size()] = 1;
    Bytes typeNotSignedData = signedGood;
    typeNotSignedData[tableAt + 6] = 1;
    const uint32_t tableSize = static_cast<uint32_t>(signedGood.size() - tableAt);
    Bytes cutInMarker(good.begin(), good.begin() + 55);
    Bytes marker0 = good;
    for (size_t i = 48; i < 52; ++i)
        marker0.at(i) = 0;
    // Texts that lead outside their places, as a hand-made package has them.
    auto withText = [&](HeaderText field, const std::string& text) {
        PackageHeader h;
        std::copy(good.begin() + stub, good.begin() + stub + kHeaderSize, h.Bytes());
        h.SetText(field, text);
        Bytes b = good;
        std::copy(h.Bytes(), h.Bytes() + kHeaderSize, b.begin() + stub);
        return b;
    };
    auto withList = [&](const std::string& list) {
        PackageHeader h;
        std::copy(good.begin() + stub, good.begin() + stub + kHeaderSize, h.Bytes());
        Bytes cab(good.begin() + stub + kHeaderSize + h.ShortcutListSize(), good.end());
        return ComposePackage(BareStub(stub), h, list, cab);
    };
    // More than the megabyte of records inspect keeps to show; all are checked.
    std::string longList;
    while (longList.size() < (1u << 20) + 100)
        longList += "viewer.exe|Example Viewer " + std::to_string(longList.size()) + "\r";
    for (const Case& c : std::vector<Case>{
             {"sound", good, FileKind::Installer, kPassed},
             {"bare stub", BareStub(3000), FileKind::Bare, kPassed},
             {"too short to be a program", Bytes{'M', 'Z'}, FileKind::NotProgram, kPassed},
             {"MZ and zeros", [] { Bytes b(3000, 0); b[0] = 'M', b[1] = 'Z'; return b; }(), FileKind::NotProgram, kPassed},
             {"magic zero, StubSize set", marker0, FileKind::Damaged, StepOutcome::MarkerMagic},
             {"cut inside the marker", cutInMarker, FileKind::Damaged, StepOutcome::MarkerCutShort},
             {"marker magic", patched(48, 1), FileKind::Damaged, StepOutcome::MarkerMagic},
             {"byte appended", appended, FileKind::Damaged, StepOutcome::SizeDiffers},
             {"signed", signedGood, FileKind::Installer, kPassed},
             {"signed: two entries, the last one unpadded", Signed(good, {Pattern(13, 1), Pattern(1001, 2)}),
              FileKind::Installer, kPassed},
             {"signed: a byte after the table", tableThenByte, FileKind::Damaged, StepOutcome::NotOwnSignature},
             {"signed: table overlapping the package", signedPatched(kSecurityEntry, tableAt - 8), FileKind::Damaged,
              StepOutcome::NotOwnSignature},
             {"signed: directory pointing past the table's start", signedPatched(kSecurityEntry, tableAt + 8),
              FileKind::Damaged, StepOutcome::NotOwnSignature},
             {"signed: directory size short of the end", signedPatched(kSecurityEntry + 4, tableSize - 8),
              FileKind::Damaged, StepOutcome::NotOwnSignature},
             {"signed: padding not zero", nonzeroPadding, FileKind::Damaged, StepOutcome::NotOwnSignature},
             {"signed: entry length past the table", signedPatched(tableAt, tableSize + 8), FileKind::Damaged,
              StepOutcome::NotOwnSignature},
             {"signed: entry length under its own header", signedPatched(tableAt, 4), FileKind::Damaged,
              StepOutcome::NotOwnSignature},
             {"signed: entry length short of the end", signedPatched(tableAt, tableSize - 8), FileKind::Damaged,
              StepOutcome::NotOwnSignature},
             {"signed: entry not signed data", typeNotSignedData, FileKind::Damaged, StepOutcome::NotOwnSignature},
             {"signed: no security directory", signedPatched(kSecurityEntry + 4, 0), FileKind::Damaged,
              StepOutcome::SizeDiffers},
             {"header magic", patched(stub, 1), FileKind::Damaged, StepOutcome::HeaderMagic, "", "header"},
             {"header size field", patched(stub + 4, 1), FileKind::Damaged, StepOutcome::HeaderMagic, "", "header"},
             {"text length over 100", textTooLong, FileKind::Damaged, StepOutcome::TextTooLong, "", "header"},
             {"shortcut list byte", patched(stub + 738, 1), FileKind::Damaged, StepOutcome::CrcDiffers, "", "shortcut list"},
             {"payload byte", patched(good.size() - 1, 1), FileKind::Damaged, StepOutcome::CrcDiffers, "", "payload"},
             {"InstallFolder", withText(HeaderText::InstallFolder, "..\\windows"), FileKind::Damaged, StepOutcome::TextLeavesPlace,
              "must not have a \".\" or \"..\" component", "header"},
             {"LicenseFile", withText(HeaderText::LicenseFile, "*.*"), FileKind::Damaged, StepOutcome::TextLeavesPlace,
              "must not hold the wildcards * ? [ ]", "header"},
             {"shortcut target", withList("viewer.exe|Viewer\r..\\..\\windows\\notepad.exe|Pad\r"), FileKind::Damaged,
              StepOutcome::RecordLeavesPlace, "must not have a \".\" or \"..\" component", "shortcut list"},
             {"shortcut name", withList(longList + "viewer.exe|con\r"), FileKind::Damaged, StepOutcome::RecordLeavesPlace,
              "must not be a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)", "shortcut list"},
             {"a long list of sound records", withList(longList), FileKind::Installer, kPassed},
         }) {
        SCOPED_TRACE(c.label);
        InspectReport r = InspectFile(c.file);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.failure, c.failure);
        if (c.kind == FileKind::Damaged) {
            EXPECT_EQ(StepName(r.failedStep), std::string(c.step));
            EXPECT_NE(RenderText(r, 1252).find("verdict: damaged copy: the " + std::string(c.step) + " fails: "),
                      std::string::npos);
        }
        EXPECT_EQ(r.rule, c.rule);
        EXPECT_EQ(r.field, c.rule.empty() ? "" : c.label);
        EXPECT_EQ(InspectExitStatus(r), c.kind == FileKind::Damaged || c.kind == FileKind::NotProgram ? 1 : 0);
        // A signature is reported only where the stub takes it for its own.
        EXPECT_EQ(r.hasSignature, c.kind == FileKind::Installer && std::string(c.label).rfind("signed", 0) == 0);
    }
    // The stub takes any blob in its place; inspect says what it holds.
    EXPECT_NE(RenderText(InspectFile(signedGood), 1252)
                  .find("\nsignature: present, not verified (the certificate table holds no PKCS #7 signed data); "
                        "the package under it is intact\n"),
              std::string::npos);
}

TEST(Inspect, CallsAnInstallerTheStubCannotInstallNotInstallable)
{
    // Each case: the cabinet's names, the shortcut list, the header's
    // changes, the stub's machine and what inspect says (empty: installable).
    // The stub refuses these before it writes anything; inspect must not
    // call them valid.
    struct Case {
        const char* title;
        std::vector<std::string> names;
        std::string shortcuts;
        std::function<void(PackageHeader&)> change;
        uint16_t machine;
        std::string error;
        uint16_t asks = 0; // of the package's record; 0: none written
    };
    const auto none = [](PackageHeader&) {};
    const std::string n222 = std::string(218, 'n') + ".txt";
    const std::string deep222 = std::string(110, 'd') + "\\" + std::string(107, 'n') + ".txt";
    const auto group100 = [](PackageHeader& h) { h.SetText(HeaderText::StartMenuFolder, std::string(100, 'g')); };
    for (const Case& c : std::vector<Case>{
             {"a name too long for the 32-bit stub's Program Files", {n222}, "", none, kPeMachineI386,
              "is 222 characters long; installed in C:\\Program Files (x86)\\Example\\Viewer\\ "
              "a name may have at most 221"},
             {"the same name fits the 64-bit stub's", {n222}, "", none, kPeMachineAmd64, ""},
             {"a device name after a good file", {"ok.txt", "nul.txt"}, "", none, kPeMachineI386,
              "its cabinet: entry \"nul.txt\": file name \"nul.txt\" must not be a reserved device name"},
             {"a device name below a folder", {"ok.txt", "sub\\COM1.log"}, "", none, kPeMachineI386,
              "file name \"COM1.log\" must not be a reserved device name"},
             {"a way up", {"ok.txt", "x\\.."}, "", none, kPeMachineI386,
              "file name \"..\" must not have a \".\" or \"..\" component"},
             {"a name the mask *.* passes by", {"ok.txt", "README"}, "", none, kPeMachineI386,
              "entry \"README\" has no \".\""},
             {"names differing only in case", {"Readme.txt", "README.TXT"}, "", none, kPeMachineI386,
              "two entries are named \"README.TXT\""},
             {"names Windows cuts to one", {"a.txt", "A.txt. "}, "", none, kPeMachineI386,
              "two entries are named \"A.txt. \""},
             {"UTF-8 names differing only in case", {"\xC3\xA9t\xC3\xA9.txt", "\xC3\x89T\xC3\x89.txt"}, "",
              none, kPeMachineI386, "two entries are named \"\xC3\x89T\xC3\x89.txt\""},
             {"no file", {}, "", none, kPeMachineI386, "its cabinet: it holds no files"},
             {"an uninstaller too long for the install folder", {"a.txt"}, "a.txt|A\r",
              [](PackageHeader& h) {
                  h.SetText(HeaderText::CompanyFolder, std::string(100, 'c'));
                  h.SetText(HeaderText::InstallFolder, std::string(100, 'i'));
                  h.SetText(HeaderText::ShortName, std::string(30, 's'));
                  h.SetText(HeaderText::StartMenuFolder, "G");
                  h.SetMakeUninstaller(1);
                  h.SetUninstallLinkStyle(1);
              },
              kPeMachineAmd64, "uninstaller \"Uninstall " + std::string(30, 's') + ".exe\" is 44 characters long"},
             {"the same without shortcuts writes no uninstaller", {"a.txt"}, "",
              [](PackageHeader& h) {
                  h.SetText(HeaderText::CompanyFolder, std::string(100, 'c'));
                  h.SetText(HeaderText::InstallFolder, std::string(100, 'i'));
                  h.SetText(HeaderText::ShortName, std::string(30, 's'));
                  h.SetMakeUninstaller(1);
              },
              kPeMachineAmd64, ""},
             {"a group and a link of 100 characters each", {"a.txt"}, "a.txt|" + std::string(100, 'l') + "\r",
              group100, kPeMachineAmd64, "shortcut \"" + std::string(100, 'l') + ".lnk\" is 104 characters long"},
             {"the same fit the all-users Programs folder", {"a.txt"}, "a.txt|" + std::string(100, 'l') + "\r",
              group100, kPeMachineAmd64, "", kAskAllUsers},
             {"with sub-folders a name without \".\" is installed", {"ok.txt", "bin\\README"}, "", none,
              kPeMachineI386, "", kAskSubFolders},
             {"with sub-folders a device name as a folder", {"ok.txt", "con\\a.txt"}, "", none, kPeMachineI386,
              "its cabinet: file name \"con\\a.txt\" must not be a reserved device name", kAskSubFolders},
             {"with sub-folders a way up", {"ok.txt", "x\\..\\..\\a.txt"}, "", none, kPeMachineI386,
              "file name \"x\\..\\..\\a.txt\" must not have a \".\" or \"..\" component", kAskSubFolders},
             {"with sub-folders paths Windows makes one", {"Docs.\\a.txt", "docs\\A.txt"}, "", none, kPeMachineI386,
              "two entries are named \"docs\\A.txt\" (Windows ignores letter case)", kAskSubFolders},
             {"with sub-folders a file where a folder goes", {"docs\\a.txt", "Docs"}, "", none, kPeMachineI386,
              "entry \"Docs\" and another one make one name both a file and a folder", kAskSubFolders},
             {"with sub-folders a folder where a file went", {"docs", "x.txt", "DOCS.\\a.txt"}, "", none,
              kPeMachineI386, "entry \"DOCS.\\a.txt\" and another one make one name both a file and a folder",
              kAskSubFolders},
             {"with sub-folders the length counts the folders", {deep222}, "", none, kPeMachineI386,
              "file name \"" + deep222 + "\" is 222 characters long; installed in C:\\Program Files (x86)\\Example\\Viewer\\ "
              "a name may have at most 221",
              kAskSubFolders},
             {"flat, the last name alone counts", {deep222}, "", none, kPeMachineI386, ""},
         }) {
        SCOPED_TRACE(c.title);
        std::vector<CabEntry> entries;
        for (const std::string& name : c.names) {
            CabEntry e;
            e.name = name;
            e.data = Pattern(100, 1);
            e.attribs = static_cast<uint16_t>(kAttrArchive | (name[0] & 0x80 ? kAttrUtf8Name : 0));
            entries.push_back(e);
        }
        if (entries.empty()) { // a cabinet with its one entry's count set to 0
            entries.push_back(CabEntry{});
            entries.back().name = "a.txt";
        }
        Bytes cab = WriteCabinet(entries, CabWriteOptions{});
        if (c.names.empty())
            PutU16At(cab, 28, 0);
        PackageHeader h = PackageHeader::Blank();
        h.SetText(HeaderText::ProductName, "P");
        h.SetText(HeaderText::InstallFolder, "Example\\Viewer");
        h.SetFileCount(static_cast<uint32_t>(c.names.size()));
        c.change(h);
        BufferSink package;
        package.bytes = ComposePackage(BareStub(3000, c.machine), h, c.shortcuts, cab);
        PackageRecord record;
        record.present = true;
        record.asks = c.asks;
        if (c.asks) {
            ASSERT_TRUE(WriteRecord(package, record));
        }
        InspectReport r = InspectFile(package.bytes);
        ASSERT_EQ(r.kind, FileKind::Installer) << r.reason;
        if (c.error.empty())
            EXPECT_EQ(r.installError, "");
        else
            EXPECT_NE(RenderText(r, 1252).find(c.error), std::string::npos) << RenderText(r, 1252);
        EXPECT_EQ(InspectExitStatus(r), c.error.empty() ? 0 : 1);
        EXPECT_EQ(RenderText(r, 1252).find("verdict: installer passes the stub's reading but ") != std::string::npos,
                  !c.error.empty());
        // Composed without a record: read in the system's code page.
        if (!c.asks) {
            EXPECT_NE(RenderText(r, 1252).find("\nrecord: none: the system's ANSI code page\n"), std::string::npos);
            EXPECT_NE(RenderJson(r, 1252).find(",\"record\":{\"present\":false},"), std::string::npos);
        }
    }
}

// What inspect says of bytes the stub does not mind, and of bytes a
// terminal or a JSON reader would: control characters and what is not
// UTF-8 are escaped, junk after a cabinet is named, not called damage.
TEST(Inspect, SaysWhatIsTrueOfOddBytes)
{
    CabEntry plain, odd;
    plain.name = "a.txt";
    plain.data = Pattern(100, 1);
    odd.name = "\xFF\x1B[2J.txt"; // a UTF-8 name that is not UTF-8, with an escape sequence
    odd.data = Pattern(10, 2);
    // The writer never sets 0x80: set in the CFFILE record, before the name.
    Bytes utf8 = WriteCabinet({plain, odd}, CabWriteOptions{});
    const std::string tail = "[2J.txt";
    const size_t oddAt = static_cast<size_t>(std::search(utf8.begin(), utf8.end(), tail.begin(), tail.end()) - utf8.begin()) - 2;
    ASSERT_LT(oddAt, utf8.size());
    utf8[oddAt - 2] |= kAttrUtf8Name;
    const Bytes cab = WriteCabinet({plain}, CabWriteOptions{});
    Bytes junk = cab;
    junk.insert(junk.end(), 40, 0xAB);
    PackageHeader h = PackageHeader::Blank();
    h.SetText(HeaderText::ProductName, "Red\x1B[31m");
    h.SetText(HeaderText::InstallFolder, "Example");
    h.SetFileCount(1);
    struct Case {
        const char* label;
        Bytes file;
        FileKind kind;
        std::vector<std::string> text, json; // parts of each
        std::vector<std::string> notText;
    };
    for (const Case& c : std::vector<Case>{
             {"40 bytes after a cabinet file", junk, FileKind::Cabinet,
              {"note: 40 bytes follow the cabinet (cbCabinet " + std::to_string(cab.size()) +
                   "); cabinet readers leave them unread\n",
               "verdict: cabinet, every entry decodes"},
              {"\"kind\":\"cabinet\"", "\"error\":\"\""},
              {}},
             {"40 bytes after the cabinet in a payload", ComposePackage(BareStub(3000), h, "", junk), FileKind::Installer,
              {"note: 40 bytes follow the cabinet", "verdict: valid installer"}, {"\"kind\":\"installer\""}, {}},
             {"an escape sequence in ProductName", ComposePackage(BareStub(3000), h, "", cab), FileKind::Installer,
              {"ProductName: \"Red\\x1B[31m\"\n"}, {"\"ProductName\":\"Red\\u001b[31m\""}, {"\x1B"}},
             {"a name that is not UTF-8", utf8, FileKind::Cabinet,
              {"  \\xFF\\x1B[2J.txt\n"}, {"\"name\":\"\\\\xFF\\u001b[2J.txt\""}, {"\x1B", "\xFF"}},
         }) {
        SCOPED_TRACE(c.label);
        InspectReport r = InspectFile(c.file);
        EXPECT_EQ(r.kind, c.kind) << r.reason;
        EXPECT_EQ(InspectExitStatus(r), 0) << r.cabinetError;
        const std::string text = RenderText(r, 1252), json = RenderJson(r, 1252);
        for (const std::string& part : c.text)
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
        for (const std::string& part : c.json)
            EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
        for (const std::string& part : c.notText) {
            EXPECT_EQ(text.find(part), std::string::npos) << text;
            EXPECT_EQ(json.find(part), std::string::npos) << json;
        }
    }
    // Windows drops a name's trailing spaces and dots: " " is no name.
    h.SetText(HeaderText::InstallFolder, "Example\\ ");
    InspectReport blank = InspectFile(ComposePackage(BareStub(3000), h, "", cab));
    EXPECT_EQ(blank.rule, "must not have a component of only spaces and dots (Windows drops them, leaving no name)");
}

TEST(Inspect, ReadsTheUninstallerTheStubWrites)
{
    Payload p;
    PackRequest req = p.Request();
    req.collect.codePage = 1252; // the list below is in 1252 too
    req.flat = req.currentUser = true; // as described: a list of full paths
    Bytes installer = BuildPackage(req).package;
    InspectReport in = InspectFile(installer);
    std::string list = "C:\\Program Files\\Example\\Viewer\\viewer.exe\rC:\\Program Files\\Example\\Viewer\\caf\xE9.txt\r";
    std::string shortcuts(installer.begin() + 3738, installer.begin() + 3738 + in.header.ShortcutListSize());
    BufferSink uninstaller;
    ASSERT_EQ(WriteUninstaller(uninstaller, BufferSource(installer), 3000, in.header, shortcuts, list),
              WriteResult::Written);
    InspectReport r = InspectFile(uninstaller.bytes);
    ASSERT_EQ(r.kind, FileKind::Uninstaller) << r.reason;
    ASSERT_EQ(r.installedFiles.size(), 2u);
    EXPECT_EQ(r.installedFiles[1], "C:\\Program Files\\Example\\Viewer\\caf\xE9.txt");
    std::string json = RenderJson(r, 1252);
    EXPECT_NE(json.find("\"kind\":\"uninstaller\""), std::string::npos);
    EXPECT_NE(json.find("Viewer\\\\caf\xC3\xA9.txt\""), std::string::npos);
    EXPECT_NE(json.find(",\"record\":{\"present\":true,\"codePage\":1252,\"asks\":84},"), std::string::npos);

    // The stub writes its list in UTF-8 and says so: shown as UTF-8 while
    // the texts stay in 1252.
    std::string utf8List = "C:\\Program Files\\Example\\Viewer\\\xE8\xA1\xA8.txt\r";
    BufferSink wide;
    ASSERT_EQ(WriteUninstaller(wide, BufferSource(installer), 3000, in.header, shortcuts, utf8List),
              WriteResult::Written);
    PackageRecord asks;
    asks.present = true;
    asks.codePage = 1252;
    asks.asks = kAskUtf8FileList;
    ASSERT_TRUE(WriteRecord(wide, asks));
    const std::string text = RenderText(InspectFile(wide.bytes), 1250);
    EXPECT_NE(text.find("record: code page 1252, asks 0x00000001 (UTF-8 installed-file list)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  C:\\Program Files\\Example\\Viewer\\\xE8\xA1\xA8.txt\n"), std::string::npos) << text;
    // Each bit a package may ask for, by name.
    asks.asks = kAskUtf8FileList | kAskSubFolders | kAskAppsEntry | kAskAllUsers | kAskUpgrade;
    ASSERT_TRUE(WriteRecord(wide, asks));
    const std::string named = RenderText(InspectFile(wide.bytes), 1250);
    EXPECT_NE(named.find("record: code page 1252, asks 0x0000004F (UTF-8 installed-file list, sub-folders, Apps & "
                         "features, shortcuts for all users, replaces an earlier installation)\n"),
              std::string::npos)
        << named;
    // The key it is registered under, the same for every version installed
    // there; a 32-bit stub's is in the 32-bit view.
    EXPECT_NE(named.find("apps & features: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Example "
                         "Viewer (WOW6432Node on 64-bit Windows)\n"),
              std::string::npos)
        << named;
    EXPECT_NE(RenderJson(InspectFile(wide.bytes), 1250)
                  .find("\"appsKey\":\"HKLM\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Example Viewer\""),
              std::string::npos);

    // From an unsigned installer: the stub as it is, the package as the
    // format lays it out, nothing else.
    EXPECT_EQ(uninstaller.bytes, ComposePackage(Bytes(installer.begin(), installer.begin() + 3000),
                                                UninstallerHeader(in.header, list), shortcuts,
                                                Bytes(list.begin(), list.end())));

    // From a signed one (its checksum set, as signing tools do): no
    // certificate table and a checksum right for the new file; otherwise
    // the same bytes. Checked at odd and even sizes, where the words of the
    // checksum straddle the blocks differently.
    for (const std::string& files : {list, list + "x"}) {
        SCOPED_TRACE(files.size());
        Bytes signedInstaller = Signed(installer);
        PutU32(&signedInstaller[kStubPeOffset + 24 + 64], PeChecksumOf(signedInstaller));
        BufferSink fromUnsigned, fromSigned;
        ASSERT_EQ(WriteUninstaller(fromUnsigned, BufferSource(installer), 3000, in.header, shortcuts, files),
                  WriteResult::Written);
        ASSERT_EQ(WriteUninstaller(fromSigned, BufferSource(signedInstaller), 3000, in.header, shortcuts, files),
                  WriteResult::Written);
        Bytes& u = fromSigned.bytes;
        EXPECT_EQ(GetU32(&u[kSecurityEntry]), 0u);
        EXPECT_EQ(GetU32(&u[kSecurityEntry + 4]), 0u);
        EXPECT_EQ(GetU32(&u[kStubPeOffset + 24 + 64]), PeChecksumOf(u));
        EXPECT_NE(PeChecksumOf(u), 0u);
        Bytes expected = fromUnsigned.bytes;
        PutU32(&expected[kStubPeOffset + 24 + 64], PeChecksumOf(u));
        EXPECT_EQ(u, expected);
        EXPECT_EQ(InspectFile(u).kind, FileKind::Uninstaller);
    }
}

namespace {

Bytes Sha256(const Bytes& bytes)
{
    Bytes out(32);
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), out.data(), &size, EVP_sha256(), nullptr), 1);
    return out;
}

bool Sha256Pieces(const Piece* pieces, std::size_t count, unsigned char out[kDigestSize])
{
    Bytes all;
    for (std::size_t i = 0; i < count; ++i) {
        const auto* p = static_cast<const unsigned char*>(pieces[i].data);
        all.insert(all.end(), p, p + pieces[i].size);
    }
    const Bytes digest = Sha256(all);
    std::copy(digest.begin(), digest.end(), out);
    return true;
}

// The bytes the digest covers, gathered by hand: record and marker, then
// everything after the stub.
Bytes Digested(const Bytes& file, size_t stubSize)
{
    Bytes b(file.begin() + kRecordOffset, file.begin() + kMarkerOffset + kMarkerSize);
    b.insert(b.end(), file.begin() + static_cast<long>(stubSize), file.end());
    return b;
}

} // namespace

TEST(Inspect, ThePackageMustBeTheOneItsStubCarriesTheDigestOf)
{
    Payload p;
    PackRequest req = p.Request();
    req.stubPath = p.dir.Write("roomy.exe", BareStub(3000, kPeMachineI386, 0x400));
    const Bytes installer = BuildPackage(req).package;
    req.fields["ProductName"] = "Another Viewer";
    const Bytes other = BuildPackage(req).package;
    req.stubPath = p.stub; // headers that end at 0x200: no room
    const Bytes roomless = BuildPackage(req).package;

    // The package of one installer under the other's stub: every CRC holds.
    Bytes swapped = other;
    std::copy(installer.begin() + kDigestSlotOffset, installer.begin() + kDigestSlotEnd,
              swapped.begin() + kDigestSlotOffset);
    const InspectReport in = InspectFile(installer);
    const std::string shortcuts(installer.begin() + 3738, installer.begin() + 3738 + in.header.ShortcutListSize());
    const std::string list = "C:\\Program Files\\Example\\Viewer\\viewer.exe\r";
    BufferSink uninstaller;
    ASSERT_EQ(WriteUninstaller(uninstaller, BufferSource(installer), 3000, in.header, shortcuts, list,
                               PackageRecord(), Sha256Pieces),
              WriteResult::Written);

    struct Case {
        const char* name;
        Bytes file;
        FileKind kind;
        bool present;
        const char* shown;
    };
    const Case cases[] = {
        {"the packer writes it", installer, FileKind::Installer, true, "(the package matches)\n"},
        {"the stub writes its uninstaller's", uninstaller.bytes, FileKind::Uninstaller, true,
         "(the package matches)\n"},
        {"another package under the stub", swapped, FileKind::Damaged, true, "(the package differs)\n"},
        {"a stub without room has none", roomless, FileKind::Installer, false,
         "digest: none (the stub reads whatever package its file holds)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const InspectReport r = InspectFile(c.file);
        EXPECT_EQ(r.kind, c.kind) << r.reason;
        EXPECT_EQ(r.digest.present, c.present);
        if (c.present) {
            EXPECT_EQ(Bytes(r.digest.bytes, r.digest.bytes + kDigestSize) == Sha256(Digested(c.file, 3000)),
                      c.kind != FileKind::Damaged);
        }
        if (c.kind == FileKind::Damaged) {
            EXPECT_NE(r.reason.find("the package differs from the digest in the stub's headers"), std::string::npos)
                << r.reason;
        }
        EXPECT_NE(RenderText(r, 1252).find(c.shown), std::string::npos) << RenderText(r, 1252);
        EXPECT_EQ(InspectExitStatus(r), c.kind == FileKind::Damaged ? 1 : 0);
    }
}
