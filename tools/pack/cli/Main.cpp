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
#include "tools/pack/verdict/Verdict.h"
#include "tools/pack/cli/Help.h"
#include "tools/pack/cli/Manifest.h"
#include "tools/pack/cli/Options.h"
#include "tools/pack/packer/Packer.h"
#include "tools/pack/cli/Progress.h"
#include "tools/pack/pe/Signature.h"
#include "tools/pack/cli/StubLocation.h"
#include "tools/pack/ToolError.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxManifestBytes = 1 << 20;

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
    // LZX:21 by default: installers a fifth to a half smaller than MSZIP's,
    // installing as fast.
    req.cab.lzxWindowBits = kLzxMaxWindowBits;
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
        else if (a.Flag("--no-apps-entry")) req.noAppsEntry = true;
        else if (a.Flag("--no-dedupe")) req.storeCopiesOnce = false;
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
        std::printf("{\"output\":%s,\"size\":%llu,\"packageSize\":%llu,\"files\":%u,\"copies\":%u,\"cabinet\":%u,"
                    "\"signature\":%s,\"warnings\":[%s]}\n",
                    JsonString(out).c_str(), static_cast<unsigned long long>(st.st_size),
                    static_cast<unsigned long long>(result.packageSize), result.fileCount, result.copyCount,
                    result.cabinetSize,
                    sign.pkcs12.empty() ? "null" : WrittenSignatureJson(out).c_str(), warnings.c_str());
    } else if (!say.quiet) {
        const std::string copies =
            result.copyCount ? " (" + std::to_string(result.copyCount) + " stored once as copies)" : "";
        std::printf("%s: %llu bytes, %u files%s, cabinet %u bytes%s\n", out.c_str(),
                    static_cast<unsigned long long>(result.packageSize), result.fileCount, copies.c_str(),
                    result.cabinetSize, sign.pkcs12.empty() ? "" : ", signed");
    }
    return kExitOk;
}

int RunCab(int argc, char** argv)
{
    std::vector<PackInput> inputs;
    CollectOptions collect;
    CabWriteOptions cab;
    cab.lzxWindowBits = kLzxMaxWindowBits; // as pack does
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
