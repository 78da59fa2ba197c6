// Drives the built cabsetup the way a user does: exit status, the one-line
// message, and what is left on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "PackTestUtil.h"
#include "package/LittleEndian.h"
#include "package/Package.h"
#include "package/PeImage.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/cab/CabWriter.h"

namespace {

struct Outcome {
    int status;  // exit status, or -signal
    std::string out;
    std::string err;
    long peakKb; // the tool's peak resident memory
};

pid_t StartTool(const ScratchDir& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {CABSETUP_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, CABSETUP_EXE, &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0)
        throw std::runtime_error("cannot start cabsetup");
    return pid;
}

Outcome WaitTool(const ScratchDir& dir, pid_t pid)
{
    int raw = 0;
    struct rusage use {};
    while (wait4(pid, &raw, 0, &use) < 0 && errno == EINTR) {
    }
    std::vector<unsigned char> out = ReadAll(dir / "stdout"), err = ReadAll(dir / "stderr");
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1000,
            std::string(out.begin(), out.end()), std::string(err.begin(), err.end()), use.ru_maxrss};
}

Outcome RunTool(const ScratchDir& dir, const std::vector<std::string>& args)
{
    return WaitTool(dir, StartTool(dir, args));
}

size_t CountMatches(const std::string& pattern)
{
    glob_t g{};
    size_t n = glob(pattern.c_str(), 0, nullptr, &g) == 0 ? g.gl_pathc : 0;
    globfree(&g);
    return n;
}

using Bytes = std::vector<unsigned char>;

void AddU32(Bytes& b, size_t at, uint32_t add)
{
    PutU32(&b[at], GetU32(&b[at]) + add);
}

// Our one-folder cabinet with bytes put in at `at` (36: after CFHEADER,
// 44: after the CFFOLDER), every offset behind them moved along.
Bytes Spliced(size_t at, const std::string& insert)
{
    CabEntry a, b;
    a.name = "a.txt";
    a.data = Pattern(1000, 1);
    b.name = "b.txt";
    b.data = Pattern(10, 2);
    Bytes cab = WriteCabinet({a, b}, CabWriteOptions{});
    cab.insert(cab.begin() + static_cast<long>(at), insert.begin(), insert.end());
    AddU32(cab, 8, static_cast<uint32_t>(insert.size()));                // cbCabinet
    AddU32(cab, 16, static_cast<uint32_t>(insert.size()));               // coffFiles
    AddU32(cab, at == 36 ? 36 + insert.size() : 36, static_cast<uint32_t>(insert.size())); // coffCabStart
    return cab;
}

// Part 2 of a set: a next cabinet named after the header.
Bytes SpannedPart()
{
    Bytes cab = Spliced(36, std::string("next.cab\0disk 3\0", 16));
    cab[30] |= 2;
    cab[34] = 1;
    return cab;
}

// A CFFILE record between the folder and the list the header points at: the
// platform reads it, other readers skip it.
Bytes AmbiguousList() { return Spliced(44, std::string(16, '\0') + "evil" + std::string(1, '\0')); }

struct Workspace {
    ScratchDir dir;
    Workspace()
    {
        dir.Write("stub.exe", BareStub(2048));
        dir.Write("stub64.exe", BareStub(2048, 0x8664));
        // Stubs of the wrong kind: a DLL, a console program, an ARM64 image,
        // a file cut short, a file that only starts like a program.
        std::vector<unsigned char> odd = BareStub(2048);
        PutU16At(odd, kStubPeOffset + 22, 0x2102);
        dir.Write("odd/dll.exe", odd);
        odd = BareStub(2048, 0x8664);
        PutU16At(odd, kStubPeOffset + 24 + 68, 3);
        dir.Write("odd/console.exe", odd);
        odd = BareStub(2048, 0x8664);
        PutU16At(odd, kStubPeOffset + 4, 0xAA64);
        dir.Write("odd/arm64.exe", odd);
        odd = BareStub(2048);
        odd.resize(1500);
        dir.Write("odd/cut.exe", odd);
        odd.assign(2048, 0);
        odd[0] = 'M';
        odd[1] = 'Z';
        dir.Write("odd/zeros.exe", odd);
        dir.Write("in/app.exe", Pattern(50000, 1));
        dir.Write("in/readme.txt", std::string("read me\r\n"));
        dir.Write("dup/a/same.txt", std::string("1"));
        dir.Write("dup/b/SAME.txt", std::string("2"));
        dir.Write("nodot/README", std::string("x"));
        dir.Write("wide/\xE4\xB8\xAD.txt", std::string("x"));
        dir.Write("garbage.cab", std::string("MSCF but not really a cabinet at all"));
        dir.Write("device/Com1.log", std::string("x"));
        dir.Write("spanned.cab", SpannedPart());
        dir.Write("ambiguous.cab", AmbiguousList());
        // An .ico whose one image claims 100 bytes where 8 follow.
        dir.Write("cut.ico", Bytes{0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0, 100, 0, 0, 0, 22, 0, 0, 0,
                                   1, 2, 3, 4, 5, 6, 7, 8});
        // Installed in C:\Program Files (x86)\Example\ a name may have 228,
        // in C:\Program Files\Example\ (the 64-bit stub's) 234.
        dir.Write("long/" + std::string(225, 'n') + ".txt", std::string("x"));
        dir.Write("long64/" + std::string(231, 'n') + ".txt", std::string("x"));
        CabEntry longName;
        longName.name = std::string(251, 'c') + ".txt";
        dir.Write("longname.cab", WriteCabinet({longName}, CabWriteOptions{}));
        // What the installer would lose or refuse halfway: names that differ
        // only in case, a device name below a folder, a way up, no file at all.
        CabEntry upper, lower, device, up;
        upper.name = "README.txt";
        lower.name = "Readme.txt";
        device.name = "sub\\COM1.log";
        up.name = "x\\..";
        dir.Write("wayup.cab", WriteCabinet({upper, up}, CabWriteOptions{}));
        dir.Write("caseclash.cab", WriteCabinet({upper, lower}, CabWriteOptions{}));
        CabEntry latin1;
        latin1.name = "caf\xE9.txt";
        dir.Write("latin1.cab", WriteCabinet({latin1}, CabWriteOptions{}));
        dir.Write("device.cab", WriteCabinet({upper, device}, CabWriteOptions{}));
        Bytes empty = WriteCabinet({upper}, CabWriteOptions{});
        PutU16At(empty, 28, 0); // cFiles
        dir.Write("nofiles.cab", empty);
        dir.Write("withfifo/a.txt", std::string("x"));
        mkfifo((dir / "withfifo/pipe.txt").c_str(), 0644);
        mkfifo((dir / "fifo").c_str(), 0644);
        mkdir((dir / "folder.exe").c_str(), 0755);
    }
    std::vector<std::string> Pack(std::vector<std::string> extra, const std::string& stub = "stub.exe") const
    {
        std::vector<std::string> a = {"pack", "--stub", dir / stub, "-o", dir / "out.exe",
                                      "--product-name", "Example", "--install-folder", "Example",
                                      "--start-menu-folder", "Example"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

// A throw-away signing certificate made with openssl: FILE.p12 with the
// password "secret" (in FILE.pass), FILE.pem to verify against.
std::string MakeCertificate(const ScratchDir& dir, const std::string& name, int bits)
{
    const std::string base = dir / name;
    const std::string cmd = "openssl req -x509 -newkey rsa:" + std::to_string(bits) + " -nodes -keyout '" + base +
                            ".key' -out '" + base + ".pem' -days 2 -subj '/CN=" + name +
                            "/O=Example Co' 2>/dev/null && openssl pkcs12 -export -inkey '" + base + ".key' -in '" +
                            base + ".pem' -out '" + base + ".p12' -passout pass:secret";
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("openssl cannot make a certificate");
    dir.Write(name + ".pass", std::string("secret\n"));
    return base;
}

bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

} // namespace

TEST(Cli, RefusalsNameTheProblemAndLeaveNoOutput)
{
    Workspace s;
    std::string packed = s.dir / "packed.exe";
    {
        Outcome ok = RunTool(s.dir, {"pack", "--stub", s.dir / "stub.exe", "-o", packed, "--product-name", "P",
                                 "--install-folder", "P", s.dir / "in"});
        ASSERT_EQ(ok.status, 0) << ok.err;
    }
    const std::string in = s.dir / "in";
    const std::string cert = MakeCertificate(s.dir, "Signer", 2048);
    s.dir.Write("wrong.pass", std::string("not it\n"));
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string message;
        const char* path = nullptr; // PATH for this run
    };
    for (const Case& c : std::vector<Case>{
             {"character outside the code page", s.Pack({"--codepage", "1252", "--short-name", "x\xE4\xB8\xAD", in}),
              "ShortName \"x\xE4\xB8\xAD\" has a character that code page 1252 cannot represent: \"\xE4\xB8\xAD\""},
             {"character outside a double-byte code page", s.Pack({"--codepage", "932", "--product-name", "M\xC3\xBCller", in}),
              "ProductName \"M\xC3\xBCller\" has a character that code page 932 cannot represent: \"\xC3\xBC\""},
             {"text over 100 bytes", s.Pack({"--company-folder", std::string(101, 'c'), in}),
              "CompanyFolder is 101 bytes long in code page 65001; the header holds at most 100"},
             {"100 bytes of e-acute are 100 bytes in 1252, so 101 are too many",
              s.Pack({"--codepage", "1252", "--product-name", [] { std::string t; for (int i = 0; i < 101; ++i) t += "\xC3\xA9"; return t; }(), in}),
              "ProductName is 101 bytes long in code page 1252"},
             {"51 e-acute are 102 bytes in UTF-8",
              s.Pack({"--codepage", "65001", "--product-name",
                      [] { std::string t; for (int i = 0; i < 51; ++i) t += "\xC3\xA9"; return t; }(), in}),
              "ProductName is 102 bytes long in code page 65001"},
             {"| in a target", s.Pack({"--shortcut", "App=a|b.exe", in}), "its target \"a|b.exe\" must not hold \"|\""},
             {"CR in a name", s.Pack({"--shortcut", "A\rpp=app.exe", in}), "a line break cannot be stored in a shortcut"},
             {"LF in a target", s.Pack({"--shortcut", "App=app\n.exe", in}), "a line break cannot be stored in a shortcut"},
             {"stub with a package", {"pack", "--stub", packed, "-o", s.dir / "out.exe", "--product-name", "P",
                                      "--install-folder", "P", in},
              "already carries a package (its marker is not zero)"},
             {"missing file", s.Pack({in, s.dir / "nothere.txt"}), "missing file: " + (s.dir / "nothere.txt")},
             {"missing stub", {"pack", "--stub", s.dir / "nostub.exe", "-o", s.dir / "out.exe", in},
              "missing file: cannot read the stub"},
             {"DLL as stub", s.Pack({in}, "odd/dll.exe"), "dll.exe is a DLL, not a program"},
             {"console program as stub", s.Pack({in}, "odd/console.exe"),
              "console.exe is a console program; a stub is a GUI program"},
             {"ARM64 stub", s.Pack({in}, "odd/arm64.exe"), "arm64.exe is for ARM64; a stub is for i386 (32-bit) or x86-64"},
             {"stub cut short", s.Pack({in}, "odd/cut.exe"),
              "cut.exe is cut short: its sections end at byte 2048, the file at 1500"},
             {"MZ and zeros as stub", s.Pack({in}, "odd/zeros.exe"), "zeros.exe is not a Windows program"},
             {"text as stub", s.Pack({in}, "in/readme.txt"), "readme.txt is not a Windows program"},
             {"unreadable cabinet", s.Pack({"--cab", s.dir / "garbage.cab"}), "unreadable cabinet"},
             {"flat, name without a dot", s.Pack({"--flat", in, s.dir / "nodot"}), "file name \"README\" has no \".\""},
             {"flat, same name in two folders", s.Pack({"--flat", s.dir / "dup"}), "two files are named \"SAME.txt\""},
             {"name outside the code page", s.Pack({"--codepage", "1252", s.dir / "wide"}),
              "file name \"\xE4\xB8\xAD.txt\" has a character that code page 1252 cannot represent"},
             {"license not packed", s.Pack({"--license-file", "license.txt", in}),
              "LicenseFile \"license.txt\" is not one of the packed files"},
             {"license with a folder", s.Pack({"--license-file", "in/readme.txt", in}), "must be a plain file name"},
             {"license with a wildcard", s.Pack({"--license-file", "*.txt", in}), "must be a plain file name"},
             {"--run of an unpacked file", s.Pack({"--run", "setup.exe", in}), "--run setup.exe: no packed file has that name"},
             {"no product name", {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--install-folder", "P", in},
              "ProductName is empty"},
             {"install folder climbing out", s.Pack({"--install-folder", "..\\Windows", in}),
              "InstallFolder \"..\\Windows\" must not have a \".\" or \"..\" component"},
             // What the stub refuses as damage, refused by name and rule.
             {"group in Startup", s.Pack({"--start-menu-folder", "startup.", in}),
              "StartMenuFolder \"startup.\" must not be the Startup folder"},
             {"shortcut target climbing out", s.Pack({"--shortcut", "Pad=..\\..\\windows\\notepad.exe", in}),
              "shortcut target \"..\\..\\windows\\notepad.exe\" must not have a \".\" or \"..\" component"},
             {"uninstaller named outside", s.Pack({"--short-name", "x\\..\\evilun", in}),
              "ShortName \"x\\..\\evilun\" must not have a \".\" or \"..\" component"},
             {"device name", s.Pack({in, s.dir / "device"}), "file name \"Com1.log\" must not be a reserved device name"},
             {"FIFO as the stub", {"pack", "--stub", s.dir / "fifo", "-o", s.dir / "out.exe", in},
              "the stub " + (s.dir / "fifo") + " is a FIFO, not a regular file"},
             {"folder as the stub", {"pack", "--stub", s.dir / "folder.exe", "-o", s.dir / "out.exe", in},
              "is a directory, not a regular file"},
             {"FIFO as the manifest", s.Pack({"--manifest", s.dir / "fifo", in}), "the manifest " + (s.dir / "fifo") + " is a FIFO"},
             {"FIFO as the cabinet", s.Pack({"--cab", s.dir / "fifo"}), "the cabinet " + (s.dir / "fifo") + " is a FIFO"},
             {"FIFO in a payload folder", s.Pack({s.dir / "withfifo"}),
              (s.dir / "withfifo/pipe.txt") + " is a FIFO, not a regular file"},
             {"name too long for the install folder", s.Pack({s.dir / "long"}),
              "is 229 characters long; installed in C:\\Program Files (x86)\\Example\\ a name may have at most 228"},
             {"name too long for the 64-bit stub's install folder", s.Pack({s.dir / "long64"}, "stub64.exe"),
              "is 235 characters long; installed in C:\\Program Files\\Example\\ a name may have at most 234"},
             {"cabinet entry too long for the install folder", s.Pack({"--cab", s.dir / "longname.cab"}),
              "is 255 characters long; installed in C:\\Program Files (x86)\\Example\\ a name may have at most 228"},
             {"part of a spanned set", s.Pack({"--cab", s.dir / "spanned.cab"}), "is part 2 of a multi-cabinet set"},
             {"flat, cabinet names differing only in case", s.Pack({"--flat", "--cab", s.dir / "caseclash.cab"}),
              "two entries are named \"Readme.txt\" (the installer puts all files in one folder)"},
             {"flat, cabinet with a device name below a folder", s.Pack({"--flat", "--cab", s.dir / "device.cab"}),
              "entry \"sub\\COM1.log\": file name \"COM1.log\" must not be a reserved device name"},
             {"flat, cabinet with a way up", s.Pack({"--flat", "--cab", s.dir / "wayup.cab"}),
              "entry \"x\\..\": file name \"..\" must not have a \".\" or \"..\" component"},
             {"cabinet with no file", s.Pack({"--cab", s.dir / "nofiles.cab"}), "it holds no files"},
             {"cabinet of 1252 names packed as UTF-8", s.Pack({"--codepage", "65001", "--cab", s.dir / "latin1.cab"}),
              "is not text in code page 65001 (give the --codepage it was made in)"},
             // Installed in C:\Program Files (x86)\c...\i...\ (225 characters) a
             // name may have 34: the files fit, "Uninstall " + 21 + ".exe" not.
             {"uninstaller name too long for the install folder",
              s.Pack({"--company-folder", std::string(100, 'c'), "--install-folder", std::string(100, 'i'), "--short-name",
                      std::string(21, 's'), "--make-uninstaller", "--shortcut", "App=app.exe", in}),
              "uninstaller \"Uninstall " + std::string(21, 's') + ".exe\" is 35 characters long; installed in "
              "C:\\Program Files (x86)\\" + std::string(100, 'c') + "\\" + std::string(100, 'i') +
              "\\ a name may have at most 34"},
             // The Programs folder of a user of 20 characters is 83 long; with
             // a group of 100 a link name may have 74.
             {"shortcut too long for its group",
              {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--product-name", "P", "--install-folder",
               "P", "--start-menu-folder", std::string(100, 'g'), "--shortcut", std::string(71, 'l') + "=app.exe",
               "--current-user", in},
              "shortcut \"" + std::string(71, 'l') + ".lnk\" is 75 characters long; installed in C:\\Users\\<user>\\AppData"
              "\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\" + std::string(100, 'g') +
              "\\ a name may have at most 74"},
             // The all-users Programs folder is 52 long: a link name may have 105.
             {"shortcut too long for its group in the all-users Start menu",
              {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--product-name", "P", "--install-folder",
               "P", "--start-menu-folder", std::string(100, 'g'), "--shortcut", std::string(102, 'l') + "=app.exe", in},
              "shortcut \"" + std::string(102, 'l') + ".lnk\" is 106 characters long; installed in C:\\ProgramData"
              "\\Microsoft\\Windows\\Start Menu\\Programs\\" + std::string(100, 'g') + "\\ a name may have at most 105"},
             {"entry list that readers see differently", s.Pack({"--cab", s.dir / "ambiguous.cab"}),
              "entry list is ambiguous"},
             {"icon that is no .ico", s.Pack({"--icon", in + "/readme.txt", in}),
              "icon " + in + "/readme.txt is not an icon file (.ico): it does not start as one"},
             {"icon whose image passes its end", s.Pack({"--icon", s.dir / "cut.ico", in}),
              "is not an icon file (.ico): image 1 passes the end of the file"},
             {"missing icon", s.Pack({"--icon", s.dir / "none.ico", in}), "missing file: cannot read the icon"},
             {"branding a stub that has no resources", s.Pack({"--product-version", "1.0.0", in}),
              "cannot brand the stub: it has no resources"},
             {"signing: wrong password", s.Pack({"--sign-pkcs12", cert + ".p12", "--sign-password-file",
                                                 s.dir / "wrong.pass", in}),
              "signing with " + cert + ".p12 failed: Failed to parse PKCS#12 file: " + cert + ".p12 (Wrong password?)"},
             {"signing: no certificate file", s.Pack({"--sign-pkcs12", s.dir / "none.p12", in}),
              "cannot read the certificate " + (s.dir / "none.p12") + ": No such file or directory"},
             {"signing: a certificate file that is no PKCS #12", s.Pack({"--sign-pkcs12", in + "/readme.txt", in}),
              "signing with " + in + "/readme.txt failed: "},
             {"signing: no password file", s.Pack({"--sign-pkcs12", cert + ".p12", "--sign-password-file",
                                                  s.dir / "none.pass", in}),
              "cannot read the password file"},
             {"signing: time-stamp server not there", s.Pack({"--sign-pkcs12", cert + ".p12", "--sign-password-file",
                                                             cert + ".pass", "--sign-timestamp", "http://127.0.0.1:9/", in}),
              "signing with " + cert + ".p12 failed: HTTP failure"},
             {"signing: osslsigncode missing", s.Pack({"--sign-pkcs12", cert + ".p12", in}),
              "--sign-pkcs12 needs osslsigncode, which is not installed", "/nonexistent"},
         }) {
        SCOPED_TRACE(c.label);
        std::string path = std::getenv("PATH");
        if (c.path)
            setenv("PATH", c.path, 1);
        Outcome o = RunTool(s.dir, c.args);
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err.rfind("cabsetup: error: ", 0), 0u) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
        EXPECT_FALSE(Exists(s.dir / "out.exe"));
        EXPECT_EQ(CountMatches(s.dir / "out.exe.tmp*"), 0u);
    }
}

// Signed in one step or by osslsigncode after pack, re-signed with another
// key: it verifies, and inspect reads it as the stub does, naming the
// signer only when the file's digest is the signed one.
TEST(Cli, SignedInstallersInspectAsTheStubReadsThem)
{
    Workspace s;
    const std::string first = MakeCertificate(s.dir, "First Signer", 2048);
    const std::string second = MakeCertificate(s.dir, "Second Signer", 3072);
    const std::string out = s.dir / "out.exe";
    ASSERT_EQ(RunTool(s.dir, s.Pack({"--product-name", "Other", s.dir / "in"})).status, 0);
    ASSERT_EQ(std::rename(out.c_str(), (s.dir / "other.exe").c_str()), 0);
    ASSERT_EQ(RunTool(s.dir, s.Pack({s.dir / "in"})).status, 0);
    ASSERT_EQ(std::rename(out.c_str(), (s.dir / "unsigned.exe").c_str()), 0);
    Outcome packed = RunTool(s.dir, s.Pack({"--sign-pkcs12", first + ".p12", "--sign-password-file", first + ".pass",
                                            s.dir / "in"}));
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_NE(packed.out.find(", signed\n"), std::string::npos) << packed.out;
    EXPECT_EQ(CountMatches(s.dir / "out.exe.tmp*"), 0u);
    auto verifies = [&](const std::string& file, const std::string& cert) {
        return Succeeds("osslsigncode verify -CAfile '" + cert + ".pem' -in '" + file + "'");
    };
    auto signs = [&](const std::string& in, const std::string& result, const std::string& cert) {
        return Succeeds("osslsigncode sign -pkcs12 '" + cert + ".p12' -pass secret -h sha256 -in '" + in + "' -out '" +
                        result + "'");
    };
    // After pack, once and once more over the signature, with a larger key.
    ASSERT_TRUE(signs(s.dir / "unsigned.exe", s.dir / "after.exe", first));
    ASSERT_TRUE(signs(out, s.dir / "resigned.exe", second));
    // Signed by one, tampered with, or carrying another file's table: inspect
    // computes the file's digest and checks it against the signed one.
    Bytes good = ReadAll(out);
    PeSignatureFields fields;
    ASSERT_TRUE(FindSignatureFields(BufferSource(good), fields));
    const size_t headerAt = GetU32(&good[kMarkerOffset + 4]);
    Bytes tampered = good;
    tampered[headerAt + 8] ^= 0x20; // ProductName's first letter
    s.dir.Write("tampered.exe", tampered);
    // The table of the signed installer appended to another one, and named
    // by its security directory, as a signer would.
    Bytes transplant = ReadAll(s.dir / "other.exe");
    transplant.resize((transplant.size() + 7) & ~size_t(7), 0);
    PutU32(&transplant[fields.securityAt], static_cast<uint32_t>(transplant.size()));
    PutU32(&transplant[fields.securityAt + 4], fields.security.size);
    transplant.insert(transplant.end(), good.begin() + fields.security.address, good.end());
    s.dir.Write("transplant.exe", transplant);
    // The last bytes of the signer's RSA signature.
    Bytes forged = good;
    while (forged.back() == 0)
        forged.pop_back();
    forged.back() ^= 1;
    forged.resize(good.size(), 0);
    s.dir.Write("forged.exe", forged);
    const std::string firstSigned = "valid digest, signed by \"O=Example Co,CN=First Signer\" (sha256)";
    const std::string mismatch = "digest mismatch (the file was changed after signing)";
    struct Case {
        std::string file, ca;
        std::string text; // after "signature: "
        std::string json; // the "signature" object after "present":true,
        int status;
        bool osslVerifies;
    };
    for (const Case& c : std::vector<Case>{
             {out, "", firstSigned, "\"check\":\"valid digest\",\"why\":\"\",\"subject\":\"O=Example Co,CN=First Signer\","
              "\"digest\":\"sha256\",\"chain\":\"not checked\"", 0, true},
             {s.dir / "after.exe", "", firstSigned, "\"check\":\"valid digest\"", 0, true},
             {s.dir / "resigned.exe", "", "valid digest, signed by \"O=Example Co,CN=Second Signer\" (sha256)",
              "\"subject\":\"O=Example Co,CN=Second Signer\"", 0, true},
             {out, first + ".pem", firstSigned + ", chain verified", "\"chain\":\"verified\"", 0, true},
             {out, second + ".pem", firstSigned + ", chain not trusted: self-signed certificate",
              "\"chain\":\"not trusted: self-signed certificate\"", 1, true},
             {s.dir / "tampered.exe", "", mismatch, "\"check\":\"digest mismatch\"", 1, false},
             {s.dir / "transplant.exe", "", mismatch, "\"check\":\"digest mismatch\"", 1, false},
             {s.dir / "transplant.exe", first + ".pem", mismatch, "\"chain\":\"not checked\"", 1, false},
             {s.dir / "forged.exe", "", "broken (\"O=Example Co,CN=First Signer\" did not sign the digest it holds)",
              "\"check\":\"broken\"", 1, false},
         }) {
        SCOPED_TRACE(c.file + " " + c.ca);
        EXPECT_EQ(verifies(c.file, first) || verifies(c.file, second), c.osslVerifies);
        std::vector<std::string> args = {"inspect", c.file};
        if (!c.ca.empty())
            args.insert(args.begin() + 1, {"--ca-file", c.ca});
        Outcome t = RunTool(s.dir, args);
        EXPECT_EQ(t.status, c.status) << t.out;
        EXPECT_NE(t.out.find("\nsignature: " + c.text + "; the package under it is intact\n"), std::string::npos) << t.out;
        EXPECT_EQ(t.out.find("follow the payload"), std::string::npos) << "the table is the signature's: " << t.out;
        EXPECT_NE(t.out.find(c.status ? "verdict: installer passes the stub's reading but its signature does not hold: " + c.text
                                      : "verdict: valid installer"),
                  std::string::npos)
            << t.out;
        args.insert(args.begin() + 1, "--json");
        Outcome j = RunTool(s.dir, args);
        EXPECT_EQ(j.status, c.status);
        EXPECT_NE(j.out.find("\"signature\":{\"present\":true,"), std::string::npos) << j.out;
        EXPECT_NE(j.out.find(c.json), std::string::npos) << j.out;
    }
    Outcome plain = RunTool(s.dir, {"inspect", "--json", s.dir / "unsigned.exe"});
    EXPECT_NE(plain.out.find("\"signature\":{\"present\":false}"), std::string::npos) << plain.out;
    // --ca-file asks for a signature it trusts.
    Outcome unsignedGate = RunTool(s.dir, {"inspect", "--ca-file", first + ".pem", s.dir / "unsigned.exe"});
    EXPECT_EQ(unsignedGate.status, 1);
    EXPECT_NE(unsignedGate.out.find("signature does not hold: --ca-file asks for one and there is none"),
              std::string::npos)
        << unsignedGate.out;

    // A payload byte changed under the signature: the package is not intact
    // and the digest no longer matches.
    Bytes bytes = good;
    const uint32_t packageSize = GetU32(&bytes[56]);
    bytes[packageSize - 1] ^= 1;
    s.dir.Write("broken.exe", bytes);
    Outcome broken = RunTool(s.dir, {"inspect", s.dir / "broken.exe"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("\nsignature: " + mismatch + "; the package under it is damaged\n"), std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("verdict: damaged copy: the payload fails"), std::string::npos) << broken.out;
    EXPECT_FALSE(verifies(s.dir / "broken.exe", first));
}

TEST(Cli, WrongCommandLinesExitWithTwo)
{
    Workspace s;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"unpack"},
             {"pack", "--stub", s.dir / "stub.exe", s.dir / "in"},
             {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--frobnicate", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--level", "10", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--compression", "lzx:14", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--compression", "lzx:22", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--compression", "lzx:", s.dir / "in"},
             {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--compression", "zip", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--codepage", "437", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--time-zone", "Europe/Paris", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--time-zone", "+15:00", s.dir / "in"},
             {"cab", "-o", s.dir / "x.cab", "--time-zone", "+0930x", s.dir / "in"},
             {"inspect"},
             // A version is three or four numbers up to 65535; the strings
             // that go with it need it.
             s.Pack({"--product-version", "1.2", s.dir / "in"}),
             s.Pack({"--product-version", "1.2.3.4.5", s.dir / "in"}),
             s.Pack({"--product-version", "1.2.65536", s.dir / "in"}),
             s.Pack({"--product-version", "1..3", s.dir / "in"}),
             s.Pack({"--product-version", "v1.2.3", s.dir / "in"}),
             s.Pack({"--publisher", "Example Ltd", s.dir / "in"}),
             s.Pack({"--copyright", "(c) Example", s.dir / "in"}),
             // The stub is given, or picked by processor; not both.
             {"pack", "--arch", "arm64", "-o", s.dir / "out.exe", s.dir / "in"},
             s.Pack({"--arch", "x86-64", s.dir / "in"}),
         }) {
        Outcome o = RunTool(s.dir, args);
        EXPECT_EQ(o.status, 2) << (args.empty() ? "" : args[0]) << ": " << o.err;
        EXPECT_FALSE(Exists(s.dir / "out.exe"));
    }
}

TEST(Cli, CompressionOptionsPickTheFolderType)
{
    Workspace s;
    struct Case {
        std::vector<std::string> options;
        uint16_t typeCompress;
    };
    for (const Case& c : std::vector<Case>{
             {{}, 3 | 21 << 8}, // LZX:21 by default
             {{"--compression", "mszip"}, 1},
             {{"--level", "7"}, 1},
             {{"--compression", "lzx"}, 3 | 21 << 8},
             {{"--compression", "lzx:15"}, 3 | 15 << 8},
             {{"--compression", "none"}, 0},
             {{"--no-compress"}, 0},
             {{"--compression", "lzx:16", "--level", "9"}, 1},
             {{"--compression", "none", "--compression", "mszip"}, 1},
             {{"--level", "0", "--compression", "lzx:21"}, 3 | 21 << 8},
             {{"--compression", "lzx:18", "--no-compress"}, 0},
         }) {
        std::vector<std::string> args = {"cab", "-o", s.dir / "x.cab"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(s.dir / "in");
        Outcome o = RunTool(s.dir, args);
        ASSERT_EQ(o.status, 0) << o.err;
        CabInfo info = ReadCabinetDirectory(ReadAll(s.dir / "x.cab"));
        EXPECT_EQ(info.folders.at(0).compression, c.typeCompress) << args[3];
    }
    // An installer with an LZX cabinet, the default, is one the stub's
    // reader accepts.
    ASSERT_EQ(RunTool(s.dir, s.Pack({s.dir / "in"})).status, 0);
    Outcome i = RunTool(s.dir, {"inspect", s.dir / "out.exe"});
    EXPECT_EQ(i.status, 0) << i.out;
    EXPECT_NE(i.out.find("verdict: valid installer"), std::string::npos) << i.out;
    EXPECT_NE(i.out.find("1 folder(s) (LZX)"), std::string::npos) << i.out;
}

TEST(Cli, HelpForEachCommand)
{
    Workspace s;
    for (const char* cmd : {"pack", "cab", "inspect"}) {
        Outcome o = RunTool(s.dir, {cmd, "--help"});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out.rfind(std::string("usage: cabsetup ") + cmd, 0), 0u) << o.out;
    }
    Outcome o = RunTool(s.dir, {"cab", "--help"});
    EXPECT_NE(o.out.find("--keep-names"), std::string::npos);
}

TEST(Cli, OptionOverridesTheManifest)
{
    Workspace s;
    s.dir.Write("setup.ini",
                std::string("[Package]\nProductName=From Manifest\nShortName=Short\nInstallFolder=Mf\\App\n"
                            "StartMenuFolder=Mf\nMakeUninstaller=1\n[Shortcuts]\nManifest Link=app.exe\n"));
    Outcome o = RunTool(s.dir, {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--manifest",
                            s.dir / "setup.ini", "--product-name", "From Option", "--shortcut", "Option Link=readme.txt",
                            s.dir / "in"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    Outcome i = RunTool(s.dir, {"inspect", "--json", s.dir / "out.exe"});
    ASSERT_EQ(i.status, 0) << i.out;
    EXPECT_NE(i.out.find("\"ProductName\":\"From Option\""), std::string::npos) << i.out;
    EXPECT_NE(i.out.find("\"ShortName\":\"Short\""), std::string::npos);
    EXPECT_NE(i.out.find("\"InstallFolder\":\"Mf\\\\App\""), std::string::npos);
    EXPECT_NE(i.out.find("\"MakeUninstaller\":1"), std::string::npos);
    EXPECT_NE(i.out.find("{\"name\":\"Option Link\",\"target\":\"readme.txt\"}"), std::string::npos);
    EXPECT_EQ(i.out.find("Manifest Link"), std::string::npos);
    EXPECT_NE(i.out.find("\"kind\":\"installer\""), std::string::npos);
}

TEST(Cli, WarnsButPacksAnUninstallerWithoutShortcuts)
{
    // Unless the product is registered in Apps & features: its installer
    // then writes the uninstaller all the same.
    Workspace s;
    Outcome o = RunTool(s.dir, s.Pack({"--make-uninstaller", "--no-apps-entry", s.dir / "in"}));
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("cabsetup: warning: MakeUninstaller is set but there are no shortcuts"), std::string::npos)
        << o.err;
    EXPECT_TRUE(Exists(s.dir / "out.exe"));
    o = RunTool(s.dir, s.Pack({"--make-uninstaller", "--force", s.dir / "in"}));
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
}

TEST(Cli, InspectFailsOnADamagedCopy)
{
    Workspace s;
    ASSERT_EQ(RunTool(s.dir, s.Pack({s.dir / "in"})).status, 0);
    Outcome good = RunTool(s.dir, {"inspect", s.dir / "out.exe"});
    EXPECT_EQ(good.status, 0);
    EXPECT_NE(good.out.find("verdict: valid installer"), std::string::npos) << good.out;
    std::vector<unsigned char> bytes = ReadAll(s.dir / "out.exe");
    bytes.push_back('!');
    s.dir.Write("signed.exe", bytes);
    Outcome bad = RunTool(s.dir, {"inspect", s.dir / "signed.exe"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("verdict: damaged copy: the marker fails: file size"), std::string::npos) << bad.out;
    Outcome bare = RunTool(s.dir, {"inspect", s.dir / "stub.exe"});
    EXPECT_EQ(bare.status, 0);
    EXPECT_NE(bare.out.find("verdict: bare stub"), std::string::npos);
    Outcome text = RunTool(s.dir, {"inspect", s.dir / "in/readme.txt"});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("verdict: not a Windows program"), std::string::npos) << text.out;
    for (const auto& [path, what] : std::vector<std::pair<std::string, std::string>>{
             {s.dir / "in", "a directory"}, {s.dir / "fifo", "a FIFO"}}) {
        Outcome o = RunTool(s.dir, {"inspect", path});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "verdict: not a file: it is " + what + "\n");
    }
}

TEST(Cli, EachStubKindMakesAnInstallerThatInspectNames)
{
    Workspace s;
    for (auto [stub, text, json] : {std::make_tuple("stub.exe", "stub: i386, 32-bit", "{\"machine\":\"i386\",\"bits\":32}"),
                                    std::make_tuple("stub64.exe", "stub: x86-64, 64-bit",
                                                    "{\"machine\":\"x86-64\",\"bits\":64}")}) {
        SCOPED_TRACE(stub);
        ASSERT_EQ(RunTool(s.dir, s.Pack({s.dir / "in"}, stub)).status, 0);
        Outcome t = RunTool(s.dir, {"inspect", s.dir / "out.exe"});
        EXPECT_EQ(t.status, 0);
        EXPECT_NE(t.out.find(std::string("\n") + text + "\n"), std::string::npos) << t.out;
        EXPECT_NE(t.out.find("verdict: valid installer"), std::string::npos) << t.out;
        Outcome j = RunTool(s.dir, {"inspect", "--json", s.dir / "out.exe"});
        EXPECT_NE(j.out.find(std::string("\"stub\":") + json), std::string::npos) << j.out;
    }
}

TEST(Cli, CabinetOfAnotherToolPacksUnchanged)
{
    Workspace s;
    if (std::system("command -v gcab >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gcab is not installed";
    std::string cmd = "cd " + s.dir.path() + "/in && gcab -c -z ../other.cab app.exe readme.txt >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(RunTool(s.dir, s.Pack({"--cab", s.dir / "other.cab"})).status, 0);
    std::vector<unsigned char> cab = ReadAll(s.dir / "other.cab"), pkg = ReadAll(s.dir / "out.exe");
    ASSERT_GT(pkg.size(), cab.size());
    EXPECT_TRUE(std::equal(cab.begin(), cab.end(), pkg.end() - static_cast<long>(cab.size())));
    Outcome i = RunTool(s.dir, {"inspect", s.dir / "out.exe"});
    EXPECT_EQ(i.status, 0) << i.out;
    EXPECT_NE(i.out.find("FileCount: 2"), std::string::npos);
}

TEST(Cli, SameInputsGiveTheSameInstaller)
{
    Workspace s;
    ASSERT_EQ(RunTool(s.dir, s.Pack({"--threads", "1", s.dir / "in"})).status, 0);
    std::vector<unsigned char> first = ReadAll(s.dir / "out.exe");
    ASSERT_EQ(RunTool(s.dir, {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "again.exe", "--product-name",
                              "Example", "--install-folder", "Example", "--start-menu-folder", "Example",
                              "--threads", "3", s.dir / "in"})
                  .status,
              0);
    EXPECT_EQ(ReadAll(s.dir / "again.exe"), first);
}

TEST(Cli, FileTimesAreTheSameInEveryTimeZone)
{
    Workspace s;
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    auto json = [&](const std::string& tz, std::vector<std::string> options) {
        setenv("TZ", tz.c_str(), 1);
        std::vector<std::string> args = {"cab", "-o", s.dir / "t.cab", "--force"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(s.dir / "in");
        Outcome o = RunTool(s.dir, args);
        EXPECT_EQ(o.status, 0) << o.err;
        std::vector<unsigned char> cab = ReadAll(s.dir / "t.cab");
        Outcome i = RunTool(s.dir, {"inspect", "--json", s.dir / "t.cab"});
        return std::make_pair(cab, i.out);
    };
    auto utc = json("UTC", {"--mtime", "1700000000"});
    auto tokyo = json("Asia/Tokyo", {"--mtime", "1700000000"});
    auto shifted = json("UTC", {"--mtime", "1700000000", "--time-zone", "+09:00"});
    setenv("SOURCE_DATE_EPOCH", "946684800", 1);
    auto clamped = json("America/New_York", {});
    unsetenv("SOURCE_DATE_EPOCH");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    EXPECT_EQ(utc.first, tokyo.first);
    EXPECT_NE(utc.second.find("\"date\":\"2023-11-14\",\"time\":\"22:13:20\""), std::string::npos) << utc.second;
    EXPECT_NE(shifted.second.find("\"date\":\"2023-11-15\",\"time\":\"07:13:20\""), std::string::npos)
        << shifted.second;
    // The files are newer than SOURCE_DATE_EPOCH: every time is clamped to it.
    size_t clampedEntries = 0;
    for (size_t at = 0; (at = clamped.second.find("\"date\":\"2000-01-01\",\"time\":\"00:00:00\"", at)) != std::string::npos; ++at)
        ++clampedEntries;
    EXPECT_EQ(clampedEntries, 2u) << clamped.second;
}

TEST(Cli, OutputReplacesOnlyARegularFileThatIsNoInput)
{
    Workspace s;
    const std::string out = s.dir / "out.exe";
    s.dir.Write("target.txt", std::string("keep me"));
    link((s.dir / "in/readme.txt").c_str(), (s.dir / "hardlink.exe").c_str());
    auto socketAt = [](const std::string& path) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        close(fd);
    };
    struct Case {
        const char* label;
        std::function<void()> prepare;
        std::vector<std::string> extra;
        std::string output;
        std::string message; // empty: packed
        mode_t kindAfter;
    };
    for (const Case& c : std::vector<Case>{
             {"nothing there", [] {}, {}, out, "", S_IFREG},
             {"a regular file", [&] { s.dir.Write("out.exe", std::string("old")); }, {}, out, "", S_IFREG},
             {"a FIFO", [&] { mkfifo(out.c_str(), 0644); }, {}, out, "is a FIFO, not a regular file; it is left as it is", S_IFIFO},
             {"a directory", [&] { mkdir(out.c_str(), 0755); }, {}, out, "is a directory, not a regular file", S_IFDIR},
             {"a socket", [&] { socketAt(out); }, {}, out, "is a socket, not a regular file", S_IFSOCK},
             {"a link", [&] { symlink((s.dir / "target.txt").c_str(), out.c_str()); }, {}, out,
              "is a symbolic link; give --force", S_IFLNK},
             {"a link with --force", [&] { symlink((s.dir / "target.txt").c_str(), out.c_str()); }, {"--force"}, out, "",
              S_IFREG},
             {"the stub", [] {}, {}, s.dir / "stub.exe", "is also an input (" + (s.dir / "stub.exe") + ")", S_IFREG},
             {"a payload file", [] {}, {}, s.dir / "in/readme.txt", "is also an input", S_IFREG},
             {"a hard link to a payload file", [] {}, {}, s.dir / "hardlink.exe", "is also an input", S_IFREG},
         }) {
        SCOPED_TRACE(c.label);
        std::string cmd = "rm -rf '" + out + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        c.prepare();
        struct stat st;
        // Reading a FIFO would wait for a writer.
        std::vector<unsigned char> before =
            lstat(c.output.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? ReadAll(c.output) : std::vector<unsigned char>();
        std::vector<std::string> args = {"pack", "--stub", s.dir / "stub.exe", "-o", c.output, "--product-name", "P",
                                         "--install-folder", "P", s.dir / "in"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Outcome o = RunTool(s.dir, args);
        ASSERT_EQ(lstat(c.output.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.kindAfter);
        if (c.message.empty()) {
            EXPECT_EQ(o.status, 0) << o.err;
            EXPECT_NE(o.out.find(": " + std::to_string(ReadAll(c.output).size()) + " bytes"), std::string::npos) << o.out;
        } else {
            EXPECT_EQ(o.status, 1);
            EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
            if (S_ISREG(st.st_mode)) {
                EXPECT_EQ(ReadAll(c.output), before);
            }
        }
        EXPECT_EQ(CountMatches(c.output + ".tmp*"), 0u);
        EXPECT_EQ(ReadAll(s.dir / "target.txt").size(), 7u);
    }
}

TEST(Cli, OutputOnADeviceIsRefused)
{
    Workspace s;
    const std::string dev = s.dir / "null";
    if (mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    Outcome o = RunTool(s.dir, s.Pack({"-o", dev, s.dir / "in"}));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("is a character device, not a regular file"), std::string::npos) << o.err;
    struct stat st;
    ASSERT_EQ(lstat(dev.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(Cli, InterruptedRunLeavesNoTemporaryFile)
{
    Workspace s;
    mkdir((s.dir / "big").c_str(), 0755);
    ASSERT_EQ(truncate(s.dir.Write("big/zero.bin", std::string()).c_str(), 1ll << 30), 0);
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        pid_t pid = StartTool(s.dir, s.Pack({"--level", "9", s.dir / "big"}));
        for (int i = 0; i < 500 && CountMatches(s.dir / "out.exe.tmp*") == 0; ++i)
            usleep(10000);
        EXPECT_EQ(CountMatches(s.dir / "out.exe.tmp*"), 1u);
        kill(pid, sig);
        Outcome o = WaitTool(s.dir, pid);
        EXPECT_EQ(o.status, -sig);
        EXPECT_EQ(CountMatches(s.dir / "out.exe*"), 0u);
    }
}

TEST(Cli, MemoryStaysFlatWhateverTheSize)
{
    Workspace s;
    mkdir((s.dir / "huge").c_str(), 0755);
    mkdir((s.dir / "big").c_str(), 0755);
    ASSERT_EQ(truncate(s.dir.Write("huge/zero.bin", std::string()).c_str(), 2500ll << 20), 0);
    ASSERT_EQ(truncate(s.dir.Write("big/zero.bin", std::string()).c_str(), 256ll << 20), 0);
    ASSERT_EQ(truncate(s.dir.Write("bare3g.exe", BareStub(2048)).c_str(), 3ll << 30), 0);

    auto start = std::chrono::steady_clock::now();
    Outcome refused = RunTool(s.dir, s.Pack({s.dir / "huge"}));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("more than one cabinet holds (2 GB)"), std::string::npos) << refused.err;
    EXPECT_LT(seconds, 1.0) << "a size that stat gives is refused before reading";

    Outcome bare = RunTool(s.dir, {"inspect", s.dir / "bare3g.exe"});
    EXPECT_EQ(bare.status, 0);
    EXPECT_NE(bare.out.find("verdict: bare stub"), std::string::npos) << bare.out;

    Outcome packed = RunTool(s.dir, s.Pack({"--level", "1", s.dir / "big"}));
    ASSERT_EQ(packed.status, 0) << packed.err;
    Outcome inspected = RunTool(s.dir, {"inspect", s.dir / "out.exe"});
    EXPECT_NE(inspected.out.find("verdict: valid installer"), std::string::npos) << inspected.out;
    // LZX: its 2 MB window and match finder, whatever the payload.
    Outcome lzx = RunTool(s.dir, s.Pack({"--compression", "lzx:21", s.dir / "big"}));
    ASSERT_EQ(lzx.status, 0) << lzx.err;
    for (const Outcome* o : {&refused, &bare, &packed, &inspected, &lzx})
        EXPECT_LT(o->peakKb, 32 * 1024) << "a few blocks per thread, not the payload";
}

// --exclude, matched against the path below the folder argument: without
// "/" any last name, with "/" the whole path; a folder left out is not read
// (the FIFO in .git would be refused).
TEST(Cli, ExcludeLeavesOutWhatItMatches)
{
    Workspace s;
    for (const char* name : {"tree/a.txt", "tree/.gitkeep", "tree/sub/b.txt", "tree/sub/.gitkeep", "tree/docs/c.md",
                             "tree/docs/deep/d.md", "tree/.git/config.txt", "tree/build/tmp/x.o", "tree/build/y.o"})
        s.dir.Write(name, std::string("x"));
    mkfifo((s.dir / "tree/.git/pipe.txt").c_str(), 0644);
    struct Case {
        std::vector<std::string> patterns;
        std::string names; // stored, in order
    };
    for (const Case& c : std::vector<Case>{
             {{".git"}, ".gitkeep a.txt build\\tmp\\x.o build\\y.o docs\\c.md docs\\deep\\d.md sub\\.gitkeep sub\\b.txt"},
             {{".git", ".gitkeep"}, "a.txt build\\tmp\\x.o build\\y.o docs\\c.md docs\\deep\\d.md sub\\b.txt"},
             {{".git*"}, "a.txt build\\tmp\\x.o build\\y.o docs\\c.md docs\\deep\\d.md sub\\b.txt"},
             {{".git", "*.md", "build"}, ".gitkeep a.txt sub\\.gitkeep sub\\b.txt"},
             {{".git", "docs/*.md"}, ".gitkeep a.txt build\\tmp\\x.o build\\y.o docs\\deep\\d.md sub\\.gitkeep sub\\b.txt"},
             {{".git", "docs/*", "build/tmp", "?.txt"}, ".gitkeep build\\y.o sub\\.gitkeep"},
             {{".git", "*/.gitkeep", "[ab].*"}, ".gitkeep build\\tmp\\x.o build\\y.o docs\\c.md docs\\deep\\d.md"},
         }) {
        std::vector<std::string> args = {"cab", "--keep-names", "--force", "-o", s.dir / "t.cab"};
        std::string label;
        for (const std::string& p : c.patterns) {
            args.insert(args.end(), {"--exclude", p});
            label += p + " ";
        }
        SCOPED_TRACE(label);
        args.push_back(s.dir / "tree");
        Outcome o = RunTool(s.dir, args);
        ASSERT_EQ(o.status, 0) << o.err;
        Outcome i = RunTool(s.dir, {"inspect", "--json", s.dir / "t.cab"});
        std::string names;
        for (size_t at = 0; (at = i.out.find("{\"name\":\"", at)) != std::string::npos;) {
            at += 9;
            std::string n = i.out.substr(at, i.out.find('"', at) - at);
            for (size_t k; (k = n.find("\\\\")) != std::string::npos;)
                n.replace(k, 2, "\\");
            names += (names.empty() ? "" : " ") + n;
        }
        EXPECT_EQ(names, c.names);
    }
    // A file given by itself is matched by its name; all left out is no package.
    Outcome none = RunTool(s.dir, s.Pack({"--exclude", "*.txt", s.dir / "in/readme.txt"}));
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no files to pack"), std::string::npos) << none.err;
    Outcome flat = RunTool(s.dir, s.Pack({"--exclude", ".git", "--exclude", ".gitkeep", "--exclude", "*.md",
                                          "--exclude", "build", "--exclude", "b.txt", s.dir / "tree"}));
    EXPECT_EQ(flat.status, 0) << flat.err;
    EXPECT_NE(flat.out.find(", 1 files,"), std::string::npos) << flat.out;
}

// What a CI job reads: --json on success and on every error, --quiet,
// --progress.
TEST(Cli, JsonQuietAndProgressForScripts)
{
    Workspace s;
    const std::string cert = MakeCertificate(s.dir, "Builder", 2048);
    const std::string in = s.dir / "in";
    struct Case {
        const char* label;
        std::vector<std::string> args;
        int status;
        std::string out; // a part of standard output, or all of it when exact
        std::string err; // likewise
        bool exact;
    };
    for (const Case& c : std::vector<Case>{
             {"pack --json", s.Pack({"--json", in}), 0,
              "{\"output\":\"" + (s.dir / "out.exe") + "\",\"size\":", "", true},
             {"pack --json, signed", s.Pack({"--json", "--sign-pkcs12", cert + ".p12", "--sign-password-file",
                                             cert + ".pass", in}),
              0, "\"files\":2,", "", false},
             {"pack --json, its signature", s.Pack({"--json", "--sign-pkcs12", cert + ".p12", "--sign-password-file",
                                                    cert + ".pass", in}),
              0, "\"signature\":{\"subject\":\"O=Example Co,CN=Builder\",\"digest\":\"sha256\",\"check\":\"valid digest\"},"
                 "\"warnings\":[]}\n", "", false},
             {"pack --json, a warning", s.Pack({"--json", "--make-uninstaller", "--no-apps-entry", in}), 0,
              "\"warnings\":[\"MakeUninstaller is set but there are no shortcuts", "cabsetup: warning: ", false},
             {"pack --json, refused", s.Pack({"--json", s.dir / "nothere.txt"}), 1,
              "{\"error\":\"missing file: " + (s.dir / "nothere.txt") + "\",\"exit\":1}\n",
              "cabsetup: error: missing file: ", true},
             {"pack --json, wrong command line", s.Pack({"--json", "--level", "12", in}), 2,
              "{\"error\":\"--level must be a number from 0 to 9\",\"exit\":2}\n", "cabsetup: error: --level", true},
             {"inspect --json, missing file", {"inspect", "--json", s.dir / "missing.exe"}, 1,
              "{\"error\":\"missing file: cannot read " + (s.dir / "missing.exe") + "\",\"exit\":1}\n",
              "cabsetup: error: missing file", true},
             {"inspect --json, wrong command line", {"inspect", "--json", "a", "b"}, 2,
              "{\"error\":\"inspect takes one file\",\"exit\":2}\n", "cabsetup: error: inspect takes one file", true},
             {"pack --quiet", s.Pack({"--quiet", "--make-uninstaller", in}), 0, "", "", true},
             {"pack --quiet, refused", s.Pack({"--quiet", "--flat", s.dir / "nodot"}), 1, "",
              "cabsetup: error: file name \"README\" has no \".\"", true},
             {"cab --quiet", {"cab", "--quiet", "--force", "-o", s.dir / "q.cab", in}, 0, "", "", true},
             {"--quiet with --progress", s.Pack({"--quiet", "--progress", in}), 2, "", "go against each other", true},
             {"pack --progress", s.Pack({"--progress", in}), 0, "files, cabinet", "cabsetup: packing 100% (", false},
             {"not a terminal: no progress", s.Pack({in}), 0, "files, cabinet", "", true},
         }) {
        SCOPED_TRACE(c.label);
        unlink((s.dir / "out.exe").c_str());
        Outcome o = RunTool(s.dir, c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        if (c.exact && c.out.empty())
            EXPECT_EQ(o.out, "");
        else if (c.exact && c.out.back() == '\n')
            EXPECT_EQ(o.out, c.out);
        else
            EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
        if (c.exact && c.err.empty())
            EXPECT_EQ(o.err, "");
        else
            EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
}

// A file written to while it is read, at the same size, is refused: its
// times change under the reader.
TEST(Cli, AFileChangedWhileItIsReadIsRefused)
{
    Workspace s;
    const std::string path = s.dir.Write("changing/data.bin", Noise(24 << 20, 5));
    pid_t pid = StartTool(s.dir, s.Pack({"--level", "9", "--threads", "1", s.dir / "changing"}));
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const unsigned char same = Noise(24 << 20, 5)[1000];
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        EXPECT_EQ(pwrite(fd, &same, 1, 1000), 1);
        usleep(2000);
    }
    close(fd);
    // Reaped above: what it said is in its files.
    std::vector<unsigned char> err = ReadAll(s.dir / "stderr");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(std::string(err.begin(), err.end()).find(path + " changed while it was being packed"), std::string::npos);
    EXPECT_FALSE(Exists(s.dir / "out.exe"));
}
