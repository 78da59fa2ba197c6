// cabsetup: builds installers from the bare stub, writes cabinets, and
// inspects packages the way the stub reads them.
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/pack/CodePage.h"
#include "tools/pack/FileUtil.h"
#include "tools/pack/Verdict.h"
#include "tools/pack/Manifest.h"
#include "tools/pack/Packer.h"
#include "tools/pack/Progress.h"
#include "tools/pack/Signature.h"
#include "tools/pack/StubLocation.h"
#include "tools/pack/ToolError.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxManifestBytes = 1 << 20;

const char kMainHelp[] =
    "usage: cabsetup COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  pack      build an installer: the bare stub, a header, shortcuts and a cabinet\n"
    "  cab       write a cabinet only\n"
    "  inspect   show what a package or cabinet holds and whether the stub accepts it\n"
    "\n"
    "cabsetup COMMAND --help shows the options of a command; cabsetup --version the version.\n"
    "Exit status: 0 success, 1 refused or failed, 2 wrong command line.\n";

const char kPackHelpTemplate[] =
    "usage: cabsetup pack [--stub STUB | --arch ARCH] -o OUT [OPTIONS] (--cab FILE.cab | FILE-OR-FOLDER...)\n"
    "\n"
    "Appends a package to a copy of the bare stub: stub.exe (32-bit, runs on every\n"
    "Windows) or stub64.exe (64-bit, installs into the native Program Files).\n"
    "Files and folders are put in a cabinet (MSZIP, or as --compression says); a folder's files\n"
    "keep their places in its tree, which the installer makes below the install folder (--flat\n"
    "puts every file at the top level under its own name); --cab packs a ready-made cabinet\n"
    "unchanged.\n"
    "\n"
    "stub:\n"
    "  --stub STUB                  the bare stub to use\n"
    "  --arch i386|x86-64           the installed stub of that processor (default i386): the one in\n"
    "                               ../share/cabsetup/ from cabsetup's folder, else beside cabsetup\n"
    "\n"
    "header (an option overrides the same key of the manifest):\n"
    "@HEADER@"
    "  --shortcut NAME=TARGET       a Start-menu shortcut; repeatable; replaces the manifest's list;\n"
    "                               TARGET may lie in a sub-folder (bin\\app.exe)\n"
    "  --current-user               the shortcuts go to the installing user's Start menu, not to the\n"
    "                               one of all users (the default)\n"
    "\n"
    "branding (what Explorer shows of OUT and of its uninstaller):\n"
    "  --icon FILE.ico              the installer's icon, every image of FILE.ico; the uninstaller's\n"
    "                               shortcut keeps the uninstall icon\n"
    "  --product-version X.Y.Z[.W]  adds a version resource: ProductName, ProductVersion, FileVersion,\n"
    "                               FileDescription \"<ProductName> Setup\", CompanyName, LegalCopyright\n"
    "  --publisher T                its CompanyName (default: CompanyFolder)\n"
    "  --copyright T                its LegalCopyright\n"
    "\n"
    "files:\n"
    "  --flat                       every file at the top level of the install folder, names with \".\"\n"
    "                               only, as installers without sub-folders do; a ready-made\n"
    "                               cabinet's folders are then dropped\n"
    "  --exclude PATTERN            leave out what PATTERN matches; repeatable (see below)\n"
    "  --run FILE                   start FILE after installation (cabinet attribute 0x40); repeatable\n"
    "  --attrib FILE=ATTR           set a file's attributes: letters r h s a x (x = run) or a number\n"
    "  --mtime SECONDS              use this Unix time for every file instead of its modification time\n"
    "  --time-zone ZONE             write file times as seen at ZONE: UTC (default) or an offset such as\n"
    "                               +09:00; the installer takes them as the target's local time\n"
    "  --compression KIND           mszip (default), lzx[:BITS] or none; lzx has a window of 2^BITS\n"
    "                               bytes, 15 to 21 (default 21), and runs on one thread\n"
    "  --level N                    MSZIP level: 0 (stored) to 9, default 7; 1 is the fastest (3 to 4\n"
    "                               times as fast, 10 to 25% larger), 9 the smallest but far slower (each\n"
    "                               block compressed four ways: about 1% smaller than 7 for ten times the time)\n"
    "  --no-compress                same as --compression none\n"
    "  --threads N                  MSZIP compression threads (default: one per core)\n"
    "  --codepage N                 code page of the texts and stored names: 65001 (UTF-8, the\n"
    "                               default), 1252, 874, 932, 936, 949, 950, 1250-1258; every package\n"
    "                               records it and installs the same names on every system. UTF-8\n"
    "                               holds every name (non-ASCII names carry the cabinet flag 0x80); a\n"
    "                               header text then holds fewer characters (100 bytes: 33 to 50 of\n"
    "                               most scripts). A package without the record (made before it\n"
    "                               existed) reads in the code page of the system it runs on\n"
    "  --force                      replace a symbolic link at OUT (the link, not what it points to)\n"
    "@OUTPUT@"
    "\n"
    "signing (Authenticode, through osslsigncode; any signing tool may sign OUT later as well):\n"
    "  --sign-pkcs12 FILE           sign OUT with the certificate and key in FILE (SHA-256)\n"
    "  --sign-password-file F       FILE's password, the first line of F\n"
    "  --sign-timestamp URL         have the signature time-stamped by this RFC 3161 server\n"
    "\n"
    "Texts are UTF-8, composed (NFC) and converted to the code page; each header text holds at most\n"
    "100 bytes. A character the code page cannot hold is refused with the field and the character.\n"
    "Refused: with --flat a file name without \".\" and two files of the same name; two paths that\n"
    "differ only in letter case; a name or text the code page cannot hold, a name (its folders\n"
    "included) too long for the install folder (Windows paths end at 259 characters,\n"
    "counted from the stub's Program Files: C:\\Program Files (x86) for the i386 stub, where 64-bit\n"
    "Windows puts a 32-bit program, C:\\Program Files for the x86-64 one), a header text, shortcut\n"
    "or file name that leads outside its folder or is a device name (CON, NUL, COM1, ...), \"|\" in\n"
    "a shortcut target, a line break in a shortcut, a stub that is not an i386 PE32 or x86-64 PE32+\n"
    "GUI program or already carries a package, a missing file, anything but a regular file (in a\n"
    "folder too), more than 65535 files or 2 GB, an unreadable cabinet, part of a multi-cabinet set,\n"
    "a cabinet whose entry list readers would see differently. Sizes and names are checked before\n"
    "any file is read. OUT is written under a temporary name and renamed into place; a device,\n"
    "FIFO, socket or directory at OUT, or an input file, is refused and left as it is. Nothing is\n"
    "written on a refusal. SIGINT, SIGTERM and SIGHUP remove the temporary file; a run that is\n"
    "killed outright (SIGKILL, a crash, a power cut) leaves it beside OUT as OUT.tmpXXXXXX, for\n"
    "the caller to delete (OUT itself is then as it was before the run).\n"
    "\n"
    "--exclude PATTERN is matched against each file's and folder's path below the folder\n"
    "argument it was found in (names joined by \"/\"), and against the name of a file given by\n"
    "itself. A pattern without \"/\" matches any last name (\".gitkeep\", \"*.pdb\", \".git\"), one\n"
    "with \"/\" the whole path (\"docs/*.md\", \"build/tmp\"); * ? and [...] match within one\n"
    "name, never across \"/\", and * matches a leading \".\" too. A folder left out is not read.\n"
    "\n"
    "Exit status: 0 written; 1 refused or failed (a file changed while it was read too), nothing\n"
    "written; 2 wrong command line. With --json an error is also one JSON object on standard\n"
    "output: {\"error\":MESSAGE,\"exit\":STATUS}.\n"
    "\n"
    "The same inputs give the same bytes on any machine and with any number of threads. When\n"
    "SOURCE_DATE_EPOCH is set, no file time is later than it.\n"
    "\n"
    "example:\n"
    "  cabsetup pack -o viewer-setup.exe --product-name \"Example Viewer 2.0\" \\\n"
    "      --short-name Viewer --install-folder \"Example\\Viewer\" --start-menu-folder \"Example\\Viewer\" \\\n"
    "      --shortcut \"Example Viewer=viewer.exe\" --make-uninstaller --license-file license.txt \\\n"
    "      --run readme.txt payload/\n";

#define OUTPUT_OPTIONS                                                                                    \
    "  --quiet                      print nothing but errors\n"                                        \
    "  --progress                   show progress on standard error even when it is no terminal\n"     \
    "                               (on a terminal it shows once the work takes over a second)\n"

// What each header option adds to its field's name in the help.
const char* About(const HeaderField& field)
{
    switch (static_cast<Field>(&field - kHeaderFields)) {
    case Field::ProductName: return " (required)";
    case Field::CompanyFolder: return ", between Program Files and InstallFolder";
    case Field::LicenseFile: return ": one of the packed files";
    case Field::InstallFolder: return " (required), e.g. \"Example\\Viewer\"";
    case Field::StartMenuFolder: return " (required with shortcuts)";
    case Field::MakeUninstaller: return " = 1 (the uninstaller is written only with shortcuts)";
    case Field::UninstallLinkStyle: return " (default 1)";
    default: return "";
    }
}

// A field of limit 1 is a switch: its option sets it, --no-uninstaller
// clears MakeUninstaller.
bool IsSwitch(const HeaderField& field) { return field.kind != FieldKind::Text && field.limit == 1; }

// The pack help, with the manifest's keys and the header options as the
// table of header fields has them.
std::string PackHelp()
{
    std::string keys, options;
    for (const HeaderField& field : kHeaderFields) {
        if (!field.makerSets)
            continue;
        keys += std::string(keys.empty() ? "" : ", ") + field.key;
        std::string option = "  " + FieldOption(field) + (IsSwitch(field) ? "" : field.kind == FieldKind::Text ? " T" : " N");
        option.resize(std::max<size_t>(option.size() + 1, 31), ' ');
        options += option + field.key + About(field) + "\n";
        if (&field == &FieldOf(Field::MakeUninstaller))
            options += "  --no-uninstaller             MakeUninstaller = 0\n";
    }
    // The key list, wrapped under the manifest option's description.
    std::string wrapped = "  --manifest FILE.ini          keys";
    size_t column = wrapped.size();
    for (size_t at = 0; at < keys.size();) {
        size_t end = std::min(keys.find(' ', at), keys.size());
        const std::string word = keys.substr(at, end - at);
        if (column + 1 + word.size() > 93) {
            wrapped += "\n                              ";
            column = 30;
        }
        wrapped += " " + word;
        column += 1 + word.size();
        at = end + 1;
    }
    wrapped += " in [Package]; Name=Target lines in [Shortcuts]\n";
    std::string help = kPackHelpTemplate;
    help.replace(help.find("@HEADER@"), 8, wrapped + options);
    help.replace(help.find("@OUTPUT@"), 8,
                 OUTPUT_OPTIONS
                 "  --json                       print what was written as one JSON object: output, size,\n"
                 "                               files, cabinet, signature (null or signer and check), warnings\n");
    return help;
}

const char kCabHelp[] =
    "usage: cabsetup cab -o OUT.cab [OPTIONS] FILE-OR-FOLDER...\n"
    "\n"
    "Writes a cabinet with one folder. Without --keep-names the names follow the\n"
    "installer's rules (top level only, a \".\" in every name, no name twice).\n"
    "\n"
    "  --keep-names                 allow stored names with folders (\"dir\\name\": a folder argument keeps\n"
    "                               its relative paths), names without \".\", and repeated names\n"
    "  --entry STORED=PATH          add PATH under the stored name STORED (with --keep-names, any name)\n"
    "  --exclude PATTERN            leave out what PATTERN matches; repeatable (as in cabsetup pack)\n"
    "  --run FILE                   set attribute 0x40 (run after install); repeatable\n"
    "  --attrib FILE=ATTR           set attributes: letters r h s a x (x = 0x40) or a number, e.g. 0x27\n"
    "  --mtime SECONDS              Unix time for every file instead of its modification time\n"
    "  --time-zone ZONE             write file times as seen at ZONE: UTC (default) or e.g. +09:00\n"
    "  --compression KIND           mszip (default), lzx[:BITS] (window 2^BITS, 15 to 21, default 21)\n"
    "                               or none\n"
    "  --level N                    MSZIP level: 0 (stored) to 9, default 7; 9 is the smallest and far slower\n"
    "  --no-compress                same as --compression none\n"
    "  --threads N                  MSZIP compression threads (default: one per core)\n"
    "  --codepage N                 code page of the stored names (default 65001: UTF-8, flag 0x80)\n"
    "  --force                      replace a symbolic link at OUT.cab\n"
    OUTPUT_OPTIONS
    "\n"
    "FILE in --run and --attrib is a stored name (any letter case) or a path as given.\n"
    "SOURCE_DATE_EPOCH and the output rules are those of cabsetup pack.\n"
    "\n"
    "Exit status: 0 written; 1 refused or failed, nothing written; 2 wrong command line.\n";

const char kInspectHelp[] =
    "usage: cabsetup inspect [--json] [--ca-file CA.pem] [--codepage N] FILE\n"
    "\n"
    "Shows the marker, the record (the code page of the texts and names), the header\n"
    "fields, the shortcuts, the cabinet entries (name, size, date, attributes, run flag)\n"
    "or an uninstaller's file list, and the verdict\n"
    "of the stub's own package reader, which reads the marker, the header, the shortcut\n"
    "list and the payload in turn: bare stub, damaged copy (naming the step that fails\n"
    "and why), valid installer or uninstaller. A cabinet file is listed and verified on\n"
    "its own.\n"
    "A signed installer is read as the stub reads it: only the certificate table that the\n"
    "stub's own security directory names may follow the package. The signature line says\n"
    "\"valid digest, signed by SUBJECT (DIGEST)\" only when the file's Authenticode digest is\n"
    "the signed one and the signer signed it; \"digest mismatch (the file was changed after\n"
    "signing)\" (also for a certificate table taken from another file), \"broken\" when the\n"
    "signer did not sign the digest it holds, \"present, not verified (WHY)\" when it cannot be\n"
    "checked; and whether the package under it is intact.\n"
    "Every cabinet is decoded with libmspack (MSZIP, LZX, Quantum) to verify it.\n"
    "\n"
    "  --json                       one JSON object on standard output\n"
    "  --ca-file CA.pem             also check the signer's chain against these certificates;\n"
    "                               an installer or uninstaller then needs a signature they trust\n"
    "  --codepage N                 the system code page assumed for a package without a record\n"
    "                               (default 1252); a package with one is shown in its own\n"
    "\n"
    "It names the stub's machine and bitness; a file that is no Windows program gets the\n"
    "verdict \"not a Windows program\". A text that leads outside its place is named with its\n"
    "field and rule. The payload is read a piece at a time for its CRC; memory stays small.\n"
    "\n"
    "Exit status: 0 bare stub, valid installer, uninstaller or cabinet; 1 damaged copy (also a file\n"
    "that ends inside the marker), damaged cabinet, an installer whose cabinet cannot be installed\n"
    "(part of a multi-cabinet set, no file, a name the stub refuses, two names differing only in case,\n"
    "a file, link or uninstaller path too long for Windows), a signature that does not hold (digest\n"
    "mismatch, broken, or not trusted by --ca-file), not a Windows program, not a file (a directory,\n"
    "a device, a FIFO), or a file that cannot be read; 2 wrong command line.\n";

struct UsageError : ToolError {
    using ToolError::ToolError;
};

// Walks the arguments of one command: options with or without "=value".
class Args {
public:
    Args(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}

    bool Done() const { return i_ >= args_.size(); }
    bool IsOption() const { return !afterDashes_ && args_[i_].size() > 1 && args_[i_][0] == '-'; }
    // Takes "--name" or "--name=value" when it is next.
    bool Flag(const char* name)
    {
        if (args_[i_] != name)
            return false;
        ++i_;
        return true;
    }
    bool Value(const char* name, std::string& value)
    {
        const std::string& a = args_[i_];
        size_t n = std::strlen(name);
        if (a.compare(0, n, name) != 0 || (a.size() > n && a[n] != '='))
            return false;
        if (a.size() > n) {
            value = a.substr(n + 1);
        } else {
            if (i_ + 1 >= args_.size())
                throw UsageError(std::string(name) + " needs a value");
            value = args_[++i_];
        }
        ++i_;
        return true;
    }
    std::string Positional()
    {
        if (args_[i_] == "--" && !afterDashes_) {
            afterDashes_ = true;
            ++i_;
            return "";
        }
        return args_[i_++];
    }
    const std::string& Current() const { return args_[i_]; }

private:
    std::vector<std::string> args_;
    size_t i_ = 0;
    bool afterDashes_ = false;
};

int ParseInt(const std::string& option, const std::string& v, int lo, int hi)
{
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || n < lo || n > hi)
        throw UsageError(option + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int>(n);
}

std::pair<std::string, std::string> SplitPair(const std::string& option, const std::string& v)
{
    size_t eq = v.find('=');
    if (eq == std::string::npos)
        throw UsageError(option + " takes NAME=VALUE, not \"" + v + "\"");
    return {v.substr(0, eq), v.substr(eq + 1)};
}

// mszip, lzx, lzx:BITS or none. MSZIP keeps a level given before it.
void ParseCompression(const std::string& v, CabWriteOptions& cab)
{
    cab.lzxWindowBits = 0;
    if (v == "none") {
        cab.level = 0;
    } else if (v == "mszip") {
        if (cab.level == 0)
            cab.level = kDefaultLevel;
    } else if (v == "lzx") {
        cab.lzxWindowBits = kLzxMaxWindowBits;
    } else if (v.compare(0, 4, "lzx:") == 0) {
        cab.lzxWindowBits = ParseInt("--compression lzx:BITS", v.substr(4), kLzxMinWindowBits, kLzxMaxWindowBits);
    } else {
        throw UsageError("--compression takes mszip, lzx, lzx:15 to lzx:21 or none, not \"" + v + "\"");
    }
}

// Options shared by pack and cab. Returns true when it took the argument.
bool FileOption(Args& a, CollectOptions& collect, CabWriteOptions& cab)
{
    std::string v;
    if (a.Value("--exclude", v)) {
        collect.exclude.push_back(v);
    } else if (a.Value("--run", v)) {
        collect.run.push_back(v);
    } else if (a.Value("--attrib", v)) {
        collect.attribs.push_back(SplitPair("--attrib", v));
        ParseAttributes(collect.attribs.back().second);
    } else if (a.Value("--mtime", v)) {
        char* end = nullptr;
        long long t = std::strtoll(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0')
            throw UsageError("--mtime takes seconds since 1970");
        collect.fixedTime = t;
    } else if (a.Value("--time-zone", v)) {
        try {
            collect.zoneMinutes = ParseZone(v);
        } catch (const ToolError& e) {
            throw UsageError(e.what());
        }
    } else if (a.Value("--compression", v)) {
        ParseCompression(v, cab);
    } else if (a.Value("--level", v)) {
        cab.level = ParseInt("--level", v, 0, 9);
        cab.lzxWindowBits = 0;
    } else if (a.Flag("--no-compress")) {
        cab.level = 0;
        cab.lzxWindowBits = 0;
    } else if (a.Value("--threads", v)) {
        cab.threads = static_cast<unsigned>(ParseInt("--threads", v, 1, 256));
    } else if (a.Value("--codepage", v)) {
        collect.codePage = ParseInt("--codepage", v, 0, 65535);
        if (!IsSupportedCodePage(collect.codePage))
            throw UsageError("--codepage " + v + " is not supported (" + SupportedCodePages() + ")");
    } else {
        return false;
    }
    return true;
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: no file time
// after it.
void ReadSourceDateEpoch(CollectOptions& collect)
{
    const char* v = std::getenv("SOURCE_DATE_EPOCH");
    if (!v || !*v)
        return;
    char* end = nullptr;
    long long t = std::strtoll(v, &end, 10);
    if (*end != '\0' || t < 0)
        throw ToolError(std::string("SOURCE_DATE_EPOCH must be seconds since 1970, not \"") + v + "\"");
    collect.latestTime = t;
}

// How much pack and cab say: --quiet, --progress (and for pack --json).
struct Say {
    bool quiet = false;
    bool progress = false;
    bool json = false;

    bool Option(Args& a)
    {
        if (a.Flag("--quiet"))
            quiet = true;
        else if (a.Flag("--progress"))
            progress = true;
        else
            return false;
        return true;
    }
    void Check() const
    {
        if (quiet && progress)
            throw UsageError("--quiet and --progress go against each other");
    }
    ProgressMode Mode() const
    {
        return quiet ? ProgressMode::Never : progress ? ProgressMode::Always : ProgressMode::Auto;
    }
};

uint64_t TotalSize(const std::vector<CabEntry>& entries)
{
    uint64_t total = 0;
    for (const CabEntry& e : entries)
        total += e.Size();
    return total;
}

// The signature of the file written, as pack --json reports it.
std::string WrittenSignatureJson(const std::string& path)
{
    struct stat st;
    Fd fd = OpenRegular(path, st);
    FdSource file(fd.get(), 0, static_cast<uint64_t>(st.st_size), path);
    PeSignatureFields fields;
    if (!FindSignatureFields(file, fields) || fields.security.size == 0)
        return "null";
    SignatureInfo s = ReadSignature(file, fields.security);
    return "{\"subject\":" + JsonString(s.subject) + ",\"digest\":" + JsonString(s.digest) +
           ",\"check\":" + JsonString(SignatureCheckName(s.check)) + "}";
}

// Whether an option is among the arguments before "--".
bool HasFlag(int argc, char** argv, const char* flag)
{
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (!std::strcmp(argv[i], flag))
            return true;
    return false;
}

bool WantsHelp(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h"))
            return true;
    return false;
}

// The manifest's fields and shortcuts into req; returns its identity, so
// the output cannot replace it.
std::vector<FileId> ReadManifest(const std::string& path, PackRequest& req)
{
    if (path.empty())
        return {};
    Manifest m = ParseManifest(ReadSmallFile(path, kMaxManifestBytes, "the manifest"));
    req.fields = m.fields;
    req.shortcuts = m.shortcuts;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return {};
    return {FileId{st.st_dev, st.st_ino, path}};
}

int RunPack(int argc, char** argv)
{
    PackRequest req;
    SignOptions sign;
    std::string out, manifestPath;
    bool force = false;
    Say say;
    std::map<std::string, std::string> cliFields;
    std::vector<std::pair<std::string, std::string>> cliShortcuts;
    std::string arch;

    for (Args a(argc, argv, 2); !a.Done();) {
        std::string v;
        if (!a.IsOption()) {
            std::string p = a.Positional();
            if (!p.empty())
                req.inputs.push_back(PackInput{p, ""});
            continue;
        }
        // Each header field the maker sets has its option, named after it.
        bool taken = false;
        for (const HeaderField& field : kHeaderFields) {
            if (taken || !field.makerSets)
                continue;
            if (IsSwitch(field) ? a.Flag(FieldOption(field).c_str()) : a.Value(FieldOption(field).c_str(), v)) {
                cliFields[field.key] = IsSwitch(field) ? "1" : v;
                taken = true;
            }
        }
        if (taken || FileOption(a, req.collect, req.cab) || say.Option(a))
            continue;
        if (a.Value("--stub", v)) req.stubPath = v;
        else if (a.Value("--arch", v)) arch = v;
        else if (a.Value("-o", v) || a.Value("--output", v)) out = v;
        else if (a.Value("--manifest", v)) manifestPath = v;
        else if (a.Value("--cab", v)) req.cabPath = v;
        else if (a.Flag("--force")) force = true;
        else if (a.Flag("--no-uninstaller")) cliFields[FieldOf(Field::MakeUninstaller).key] = "0";
        else if (a.Flag("--flat")) req.flat = true;
        else if (a.Flag("--current-user")) req.currentUser = true;
        else if (a.Value("--shortcut", v)) cliShortcuts.push_back(SplitPair("--shortcut", v));
        else if (a.Value("--icon", v)) req.iconPath = v;
        else if (a.Value("--product-version", v)) req.brand.productVersion = v;
        else if (a.Value("--publisher", v)) req.brand.publisher = v;
        else if (a.Value("--copyright", v)) req.brand.copyright = v;
        else if (a.Value("--sign-pkcs12", v)) sign.pkcs12 = v;
        else if (a.Value("--sign-password-file", v)) sign.passwordFile = v;
        else if (a.Value("--sign-timestamp", v)) sign.timestamp = v;
        else if (a.Flag("--json")) say.json = true;
        else throw UsageError("unknown option " + a.Current());
    }
    if (out.empty())
        throw UsageError("pack needs -o OUT");
    if (!arch.empty() && StubFileName(arch).empty())
        throw UsageError("--arch takes i386 or x86-64, not \"" + arch + "\"");
    if (!arch.empty() && !req.stubPath.empty())
        throw UsageError("--stub and --arch both name the stub; give one");
    if (req.cabPath.empty() && req.inputs.empty())
        throw UsageError("pack needs files, a folder or --cab FILE.cab");
    std::array<uint16_t, 4> version;
    if (!req.brand.productVersion.empty() && !ParseProductVersion(req.brand.productVersion, version))
        throw UsageError("--product-version takes X.Y.Z or X.Y.Z.W, numbers up to 65535, not \"" +
                         req.brand.productVersion + "\"");
    if (req.brand.productVersion.empty() && (!req.brand.publisher.empty() || !req.brand.copyright.empty()))
        throw UsageError("--publisher and --copyright go with --product-version");
    if (sign.pkcs12.empty() && (!sign.passwordFile.empty() || !sign.timestamp.empty()))
        throw UsageError("--sign-password-file and --sign-timestamp go with --sign-pkcs12");
    say.Check();

    if (req.stubPath.empty())
        req.stubPath = FindStub(arch.empty() ? "i386" : arch);
    ReadSourceDateEpoch(req.collect);
    std::vector<FileId> manifestId = ReadManifest(manifestPath, req);
    for (const auto& [key, value] : cliFields)
        req.fields[key] = value;
    if (!cliShortcuts.empty())
        req.shortcuts = cliShortcuts;

    PackPlan plan = PlanPackage(req);
    plan.inputs.insert(plan.inputs.end(), manifestId.begin(), manifestId.end());
    OutputFile output(out, force, plan.inputs, true);
    Progress progress(say.Mode(), TotalSize(plan.entries));
    plan.cabOptions.progress = progress.Counter();
    PackResult result = WritePackage(plan, output.Sink());
    progress.Finish();
    if (!sign.pkcs12.empty())
        output.Remake([&](const std::string& written, const std::string& result) { SignFile(sign, written, result); });
    output.Commit();
    if (!say.quiet)
        for (const std::string& w : result.warnings)
            std::fprintf(stderr, "cabsetup: warning: %s\n", w.c_str());
    if (say.json) {
        struct stat st {};
        stat(out.c_str(), &st);
        std::string warnings;
        for (const std::string& w : result.warnings)
            warnings += (warnings.empty() ? "" : ",") + JsonString(w);
        std::printf("{\"output\":%s,\"size\":%llu,\"packageSize\":%llu,\"files\":%u,\"cabinet\":%u,"
                    "\"signature\":%s,\"warnings\":[%s]}\n",
                    JsonString(out).c_str(), static_cast<unsigned long long>(st.st_size),
                    static_cast<unsigned long long>(result.packageSize), result.fileCount, result.cabinetSize,
                    sign.pkcs12.empty() ? "null" : WrittenSignatureJson(out).c_str(), warnings.c_str());
    } else if (!say.quiet) {
        std::printf("%s: %llu bytes, %u files, cabinet %u bytes%s\n", out.c_str(),
                    static_cast<unsigned long long>(result.packageSize), result.fileCount, result.cabinetSize,
                    sign.pkcs12.empty() ? "" : ", signed");
    }
    return kExitOk;
}

int RunCab(int argc, char** argv)
{
    std::vector<PackInput> inputs;
    CollectOptions collect;
    CabWriteOptions cab;
    std::string out;
    bool force = false;
    Say say;
    for (Args a(argc, argv, 2); !a.Done();) {
        std::string v;
        if (!a.IsOption()) {
            std::string p = a.Positional();
            if (!p.empty())
                inputs.push_back(PackInput{p, ""});
        } else if (FileOption(a, collect, cab) || say.Option(a)) {
        } else if (a.Value("-o", v) || a.Value("--output", v)) {
            out = v;
        } else if (a.Flag("--force")) {
            force = true;
        } else if (a.Flag("--keep-names")) {
            collect.keepNames = true;
        } else if (a.Value("--entry", v)) {
            auto [stored, path] = SplitPair("--entry", v);
            if (stored.empty())
                throw UsageError("--entry needs a stored name before \"=\"");
            inputs.push_back(PackInput{path, stored});
        } else {
            throw UsageError("unknown option " + a.Current());
        }
    }
    if (out.empty())
        throw UsageError("cab needs -o OUT.cab");
    if (inputs.empty())
        throw UsageError("cab needs files or folders");
    say.Check();
    ReadSourceDateEpoch(collect);
    std::vector<FileId> ids;
    std::vector<CabEntry> entries = CollectEntries(inputs, collect, &ids);
    CheckCabinetEntries(entries);
    OutputFile output(out, force, ids, false);
    Progress progress(say.Mode(), TotalSize(entries));
    cab.progress = progress.Counter();
    CabWritten written = WriteCabinet(entries, cab, output.Sink());
    progress.Finish();
    output.Commit();
    if (!say.quiet)
            std::printf("%s: %llu bytes, %zu files\n", out.c_str(), static_cast<unsigned long long>(written.size),
                    entries.size());
    return kExitOk;
}

int RunInspect(int argc, char** argv)
{
    bool json = false;
    int codePage = kAnsiDisplayCodePage;
    std::string path, caFile;
    for (Args a(argc, argv, 2); !a.Done();) {
        std::string v;
        if (!a.IsOption()) {
            std::string p = a.Positional();
            if (p.empty())
                continue;
            if (!path.empty())
                throw UsageError("inspect takes one file");
            path = p;
        } else if (a.Flag("--json")) {
            json = true;
        } else if (a.Value("--ca-file", v)) {
            caFile = v;
        } else if (a.Value("--codepage", v)) {
            codePage = ParseInt("--codepage", v, 0, 65535);
            if (!IsSupportedCodePage(codePage))
                throw UsageError("--codepage " + v + " is not supported (" + SupportedCodePages() + ")");
        } else {
            throw UsageError("unknown option " + a.Current());
        }
    }
    if (path.empty())
        throw UsageError("inspect needs a file");
    InspectReport report;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        throw ToolError("missing file: cannot read " + path);
    if (!S_ISREG(st.st_mode)) {
        report = NotAFileReport(FileKindName(st.st_mode));
    } else {
        Fd fd = OpenRegular(path, st);
        report = InspectFile(FdSource(fd.get(), 0, static_cast<uint64_t>(st.st_size), path), codePage, caFile);
    }
    std::string text = json ? RenderJson(report, codePage) : RenderText(report, codePage);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return InspectExitStatus(report);
}

} // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    const std::string packHelp = PackHelp();
    const char* help = command == "pack" ? packHelp.c_str()
                     : command == "cab" ? kCabHelp
                     : command == "inspect" ? kInspectHelp
                                            : nullptr;
    if (command == "--version") {
        std::printf("cabsetup %s\n", CABSETUP_VERSION);
        return kExitOk;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::string topic = argc > 2 ? argv[2] : "";
        std::fputs(topic == "pack" ? packHelp.c_str() : topic == "cab" ? kCabHelp : topic == "inspect" ? kInspectHelp : kMainHelp,
                   stdout);
        return kExitOk;
    }
    if (!help) {
        std::fputs(kMainHelp, stderr);
        if (!command.empty())
            std::fprintf(stderr, "cabsetup: error: unknown command \"%s\"\n", command.c_str());
        return kExitUsage;
    }
    if (WantsHelp(argc, argv)) {
        std::fputs(help, stdout);
        return kExitOk;
    }
    // With --json, an error is a JSON object on standard output as well.
    const bool json = command != "cab" && HasFlag(argc, argv, "--json");
    auto fail = [&](const std::string& message, int status, const std::string& hint) {
        std::fprintf(stderr, "cabsetup: error: %s%s\n", message.c_str(), hint.c_str());
        if (json)
            std::printf("{\"error\":%s,\"exit\":%d}\n", JsonString(message).c_str(), status);
        return status;
    };
    try {
        if (command == "pack")
            return RunPack(argc, argv);
        if (command == "cab")
            return RunCab(argc, argv);
        return RunInspect(argc, argv);
    } catch (const UsageError& e) {
        return fail(e.what(), kExitUsage, " (see cabsetup " + command + " --help)");
    } catch (const ToolError& e) {
        return fail(e.what(), kExitFailed, "");
    } catch (const std::bad_alloc&) {
        return fail("out of memory", kExitFailed, "");
    }
}
