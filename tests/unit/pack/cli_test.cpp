// Drives the built cabsetup the way a user does: exit status, the one-line
// message, and what is left on disk.
#include <gtest/gtest.h>

#include <glob.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PackTestUtil.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome RunTool(const ScratchDir& dir, const std::vector<std::string>& args)
{
    std::string cmd = Quote(CABSETUP_EXE);
    for (const std::string& a : args)
        cmd += " " + Quote(a);
    cmd += " >" + Quote(dir / "stdout") + " 2>" + Quote(dir / "stderr");
    int raw = std::system(cmd.c_str());
    std::vector<unsigned char> out = ReadAll(dir / "stdout"), err = ReadAll(dir / "stderr");
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

size_t CountMatches(const std::string& pattern)
{
    glob_t g{};
    size_t n = glob(pattern.c_str(), 0, nullptr, &g) == 0 ? g.gl_pathc : 0;
    globfree(&g);
    return n;
}

struct Workspace {
    ScratchDir dir;
    Workspace()
    {
        dir.Write("stub.exe", BareStub(2048));
        dir.Write("in/app.exe", Pattern(50000, 1));
        dir.Write("in/readme.txt", std::string("read me\r\n"));
        dir.Write("dup/a/same.txt", std::string("1"));
        dir.Write("dup/b/SAME.txt", std::string("2"));
        dir.Write("nodot/README", std::string("x"));
        dir.Write("wide/\xE4\xB8\xAD.txt", std::string("x"));
        dir.Write("garbage.cab", std::string("MSCF but not really a cabinet at all"));
    }
    std::vector<std::string> Pack(std::vector<std::string> extra) const
    {
        std::vector<std::string> a = {"pack", "--stub", dir / "stub.exe", "-o", dir / "out.exe",
                                      "--product-name", "Example", "--install-folder", "Example",
                                      "--start-menu-folder", "Example"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

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
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"character outside the code page", s.Pack({"--short-name", "\xE4\xB8\xAD", in}),
              "ShortName \"\xE4\xB8\xAD\" has a character that code page 1252 cannot represent"},
             {"text over 100 bytes", s.Pack({"--company-folder", std::string(101, 'c'), in}),
              "CompanyFolder is 101 bytes long; the header holds at most 100"},
             {"100 bytes of e-acute are 100 bytes in 1252, so 101 are too many",
              s.Pack({"--product-name", [] { std::string t; for (int i = 0; i < 101; ++i) t += "\xC3\xA9"; return t; }(), in}),
              "ProductName is 101 bytes long"},
             {"| in a target", s.Pack({"--shortcut", "App=a|b.exe", in}), "its target \"a|b.exe\" must not hold \"|\""},
             {"CR in a name", s.Pack({"--shortcut", "A\rpp=app.exe", in}), "a line break cannot be stored in a shortcut"},
             {"LF in a target", s.Pack({"--shortcut", "App=app\n.exe", in}), "a line break cannot be stored in a shortcut"},
             {"stub with a package", {"pack", "--stub", packed, "-o", s.dir / "out.exe", "--product-name", "P",
                                      "--install-folder", "P", in},
              "already carries a package (its marker is not zero)"},
             {"missing file", s.Pack({in, s.dir / "nothere.txt"}), "missing file: " + (s.dir / "nothere.txt")},
             {"missing stub", {"pack", "--stub", s.dir / "nostub.exe", "-o", s.dir / "out.exe", in},
              "missing file: cannot read the stub"},
             {"unreadable cabinet", s.Pack({"--cab", s.dir / "garbage.cab"}), "unreadable cabinet"},
             {"name without a dot", s.Pack({in, s.dir / "nodot"}), "file name \"README\" has no \".\""},
             {"same name in two folders", s.Pack({s.dir / "dup"}), "two files are named \"SAME.txt\""},
             {"name outside the code page", s.Pack({s.dir / "wide"}),
              "file name \"\xE4\xB8\xAD.txt\" has a character that code page 1252 cannot represent"},
             {"license not packed", s.Pack({"--license-file", "license.txt", in}),
              "LicenseFile \"license.txt\" is not one of the packed files"},
             {"license with a folder", s.Pack({"--license-file", "in/readme.txt", in}), "must be a plain file name"},
             {"license with a wildcard", s.Pack({"--license-file", "*.txt", in}), "must be a plain file name"},
             {"--run of an unpacked file", s.Pack({"--run", "setup.exe", in}), "--run setup.exe: no packed file has that name"},
             {"no product name", {"pack", "--stub", s.dir / "stub.exe", "-o", s.dir / "out.exe", "--install-folder", "P", in},
              "ProductName is empty"},
             {"install folder climbing out", s.Pack({"--install-folder", "..\\Windows", in}), "must be a relative folder"},
         }) {
        SCOPED_TRACE(c.label);
        Outcome o = RunTool(s.dir, c.args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err.rfind("cabsetup: error: ", 0), 0u) << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
        EXPECT_FALSE(Exists(s.dir / "out.exe"));
        EXPECT_EQ(CountMatches(s.dir / "out.exe.tmp*"), 0u);
    }
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
             {"cab", "-o", s.dir / "x.cab", "--codepage", "65001", s.dir / "in"},
             {"inspect"},
         }) {
        Outcome o = RunTool(s.dir, args);
        EXPECT_EQ(o.status, 2) << (args.empty() ? "" : args[0]) << ": " << o.err;
        EXPECT_FALSE(Exists(s.dir / "out.exe"));
    }
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
    Workspace s;
    Outcome o = RunTool(s.dir, s.Pack({"--make-uninstaller", s.dir / "in"}));
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("cabsetup: warning: MakeUninstaller is set but there are no shortcuts"), std::string::npos)
        << o.err;
    EXPECT_TRUE(Exists(s.dir / "out.exe"));
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
    EXPECT_NE(bad.out.find("verdict: damaged copy: check 3 fails"), std::string::npos) << bad.out;
    Outcome bare = RunTool(s.dir, {"inspect", s.dir / "stub.exe"});
    EXPECT_EQ(bare.status, 0);
    EXPECT_NE(bare.out.find("verdict: bare stub"), std::string::npos);
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
