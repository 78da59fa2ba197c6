#include "tools/pack/cli/StubLocation.h"

#include <limits.h>
#include <unistd.h>

#include "tools/pack/ToolError.h"

std::string StubFileName(const std::string& arch)
{
    return arch == "i386" ? "stub.exe" : arch == "x86-64" ? "stub64.exe" : "";
}

std::vector<std::string> StubCandidates(const std::string& fileName)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    const std::string path(self, static_cast<size_t>(n));
    const std::string bin = path.substr(0, path.rfind('/') + 1);
    // Installed; copied into out/ beside the stubs by make; in the native
    // build folder (build/native/tools/pack), three levels under the source.
    return {bin + "../share/cabsetup/" + fileName, bin + fileName, bin + "../../../out/" + fileName};
}

std::string FindStub(const std::string& arch)
{
    std::string looked;
    for (const std::string& candidate : StubCandidates(StubFileName(arch))) {
        if (access(candidate.c_str(), R_OK) == 0)
            return candidate;
        looked += (looked.empty() ? "" : ", ") + candidate;
    }
    throw ToolError("no " + arch + " stub found (looked for " + (looked.empty() ? StubFileName(arch) : looked) +
                    "); give --stub STUB");
}
