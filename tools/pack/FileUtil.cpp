#include "tools/pack/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/pack/ToolError.h"

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { int fd = fd_; fd_ = -1; return fd; }

private:
    int fd_;
};

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    bytes.reserve(static_cast<size_t>(st.st_size));
    unsigned char buf[1 << 16];
    for (;;) {
        ssize_t n = read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.insert(bytes.end(), buf, buf + n);
    }
}

void WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, bool executable)
{
    std::string temp = path + ".tmpXXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    Fd fd(mkstemp(name.data()));
    if (fd.get() < 0)
        throw ToolError("cannot create " + path + ": " + std::strerror(errno));
    std::string tempName(name.data());
    struct Remove {
        std::string path;
        bool armed = true;
        ~Remove() { if (armed) unlink(path.c_str()); }
    } remove{tempName};

    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd.get(), (executable ? 0777 : 0666) & ~mask);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write " + path + ": " + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
    if (close(fd.release()) != 0)
        throw ToolError("cannot write " + path + ": " + std::strerror(errno));
    if (rename(tempName.c_str(), path.c_str()) != 0)
        throw ToolError("cannot create " + path + ": " + std::strerror(errno));
    remove.armed = false;
}

std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}
