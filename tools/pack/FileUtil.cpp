#include "tools/pack/FileUtil.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/pack/ToolError.h"

namespace {

constexpr size_t kPiece = 1 << 20;

std::string Errno() { return std::strerror(errno); }

// The temporary output, for the signal handler: a plain buffer, since only
// async-signal-safe calls may touch it there.
char gTempPath[4096];
char gRemadePath[4096 + 8];
volatile sig_atomic_t gTempArmed = 0;
volatile sig_atomic_t gRemadeArmed = 0;

extern "C" void RemoveTempAndDie(int sig)
{
    if (gTempArmed)
        unlink(gTempPath);
    if (gRemadeArmed)
        unlink(gRemadePath);
    signal(sig, SIG_DFL);
    raise(sig);
}

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the cleanup signals while the temporary name is being made and
// recorded, so no signal can fall between the two.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanupSignals)
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

void InstallCleanupHandlers()
{
    struct sigaction sa {};
    sa.sa_handler = RemoveTempAndDie;
    sigemptyset(&sa.sa_mask);
    for (int s : kCleanupSignals) {
        struct sigaction old {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(s, &sa, nullptr);
    }
}

// Refuses what must not be replaced by the output; lstat, so a symbolic link
// is seen as one.
void CheckOutputPath(const std::string& path, bool force, const std::vector<FileId>& inputs)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return;
        throw ToolError("cannot use the output " + path + ": " + Errno());
    }
    if (S_ISLNK(st.st_mode)) {
        if (!force)
            throw ToolError("output " + path + " is a symbolic link; give --force to replace the link with the new file");
        return;
    }
    if (!S_ISREG(st.st_mode))
        throw ToolError("output " + path + " is " + FileKindName(st.st_mode) +
                        ", not a regular file; it is left as it is");
    for (const FileId& in : inputs)
        if (in.dev == st.st_dev && in.ino == st.st_ino)
            throw ToolError("output " + path + " is also an input (" + in.path + "); choose another output");
}

} // namespace

Fd::~Fd()
{
    if (fd_ >= 0)
        close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = other.release();
    }
    return *this;
}

const char* FileKindName(mode_t mode)
{
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

Fd OpenRegular(const std::string& path, struct stat& st, const std::string& what)
{
    const std::string named = what.empty() ? path : what + " " + path;
    if (stat(path.c_str(), &st) != 0)
        throw ToolError("missing file: " + (what.empty() ? path : "cannot read " + named));
    if (!S_ISREG(st.st_mode))
        throw ToolError(named + " is " + FileKindName(st.st_mode) + ", not a regular file");
    // O_NONBLOCK: should a FIFO be swapped in after the stat, open returns
    // at once and the fstat below refuses it.
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        throw ToolError("cannot read " + named + ": " + Errno());
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw ToolError(named + " is not a regular file");
    return fd;
}

size_t FdSource::ReadAt(uint64_t at, void* out, size_t count) const
{
    if (at >= size_)
        return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, size_ - at));
    unsigned char* p = static_cast<unsigned char*>(out);
    for (size_t left = count; left > 0;) {
        ssize_t n = pread(fd_, p, left, static_cast<off_t>(base_ + at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ToolError("cannot read " + path_ + ": " + Errno());
        if (n == 0)
            throw ToolError(path_ + " became shorter while it was being read");
        p += n;
        at += static_cast<uint64_t>(n);
        left -= static_cast<size_t>(n);
    }
    return count;
}

size_t SliceSource::ReadAt(uint64_t at, void* out, size_t count) const
{
    if (at >= size_)
        return 0;
    return inner_.ReadAt(base_ + at, out, static_cast<size_t>(std::min<uint64_t>(count, size_ - at)));
}

void ReadExactly(ByteSource source, uint64_t at, void* out, size_t count)
{
    if (count && source.ReadAt(at, out, count) != count)
        throw ToolError("read past the end of the data");
}

bool VectorSink::Write(const void* data, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + count);
    return true;
}

bool VectorSink::WriteAt(uint64_t at, const void* data, size_t count)
{
    if (at > bytes.size() || count > bytes.size() - at)
        throw ToolError("patch past the end of the output");
    std::memcpy(bytes.data() + at, data, count);
    return true;
}

void VectorSink::ReadAt(uint64_t at, void* data, size_t count)
{
    if (at > bytes.size() || count > bytes.size() - at)
        throw ToolError("read past the end of the output");
    std::memcpy(data, bytes.data() + at, count);
}

void FileSink::ReadAt(uint64_t at, void* data, size_t count)
{
    Flush();
    if (at > written_ || count > written_ - at)
        throw ToolError("read past the end of " + path_);
    unsigned char* p = static_cast<unsigned char*>(data);
    while (count > 0) {
        ssize_t n = pread(fd_, p, count, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot read back " + path_ + ": " + Errno());
        p += n;
        at += static_cast<uint64_t>(n);
        count -= static_cast<size_t>(n);
    }
}

void FileSink::Flush()
{
    size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write " + path_ + ": " + Errno());
        done += static_cast<size_t>(n);
    }
    written_ += buffer_.size();
    buffer_.clear();
}

bool FileSink::Write(const void* data, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        size_t n = std::min(count, kBufferSize - buffer_.size());
        buffer_.insert(buffer_.end(), p, p + n);
        p += n;
        count -= n;
        if (buffer_.size() == kBufferSize)
            Flush();
    }
    return true;
}

bool FileSink::WriteAt(uint64_t at, const void* data, size_t count)
{
    Flush();
    if (at > written_ || count > written_ - at)
        throw ToolError("patch past the end of " + path_);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t n = pwrite(fd_, p, count, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write " + path_ + ": " + Errno());
        p += n;
        at += static_cast<uint64_t>(n);
        count -= static_cast<size_t>(n);
    }
    return true;
}

uint32_t CopyToSink(ByteSource src, OutputSink& sink, uint32_t crc)
{
    std::vector<unsigned char> piece(static_cast<size_t>(std::min<uint64_t>(kPiece, src.Size())));
    for (uint64_t at = 0; at < src.Size();) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), src.Size() - at));
        ReadExactly(src, at, piece.data(), n);
        crc = static_cast<uint32_t>(crc32(crc, piece.data(), static_cast<uInt>(n)));
        sink.Write(piece.data(), n);
        at += n;
    }
    return crc;
}

std::string ReadSmallFile(const std::string& path, size_t maxBytes, const std::string& what)
{
    struct stat st;
    Fd fd = OpenRegular(path, st, what);
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        throw ToolError(what + " " + path + " is " + std::to_string(st.st_size) + " bytes; at most " +
                        std::to_string(maxBytes) + " are read");
    std::string text(static_cast<size_t>(st.st_size), '\0');
    ReadExactly(FdSource(fd.get(), 0, text.size(), path), 0, &text[0], text.size());
    return text;
}

OutputFile::OutputFile(const std::string& path, bool force, const std::vector<FileId>& inputs, bool executable)
    : path_(path), force_(force)
{
    CheckOutputPath(path, force, inputs);
    std::string pattern = path + ".tmpXXXXXX";
    if (pattern.size() >= sizeof gTempPath)
        throw ToolError("output path " + path + " is too long");
    InstallCleanupHandlers();
    {
        SignalsHeld held;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        fd_ = Fd(mkostemp(name.data(), O_CLOEXEC));
        if (fd_.get() < 0)
            throw ToolError("cannot create " + path + ": " + Errno());
        temp_ = name.data();
        std::memcpy(gTempPath, temp_.c_str(), temp_.size() + 1);
        gTempArmed = 1;
    }
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_.get(), (executable ? 0777 : 0666) & ~mask);
    sink_ = std::make_unique<FileSink>(fd_.get(), path);
}

OutputFile::~OutputFile()
{
    if (!temp_.empty()) {
        SignalsHeld held;
        unlink(temp_.c_str());
        gTempArmed = 0;
    }
}

void OutputFile::Remake(const std::function<void(const std::string&, const std::string&)>& make)
{
    sink_->Flush();
    if (close(fd_.release()) != 0)
        throw ToolError("cannot write " + path_ + ": " + Errno());
    // A name nobody has yet, beside the first: the maker creates the file.
    const std::string remade = temp_ + ".new";
    {
        SignalsHeld held;
        std::memcpy(gRemadePath, remade.c_str(), remade.size() + 1);
        gRemadeArmed = 1;
    }
    struct Disarm {
        const std::string& path;
        ~Disarm()
        {
            SignalsHeld held;
            unlink(path.c_str());
            gRemadeArmed = 0;
        }
    } disarm{remade};
    unlink(remade.c_str());
    make(temp_, remade);
    SignalsHeld held;
    if (rename(remade.c_str(), temp_.c_str()) != 0)
        throw ToolError("cannot create " + path_ + ": " + Errno());
}

void OutputFile::Commit()
{
    if (fd_.get() >= 0) {
        sink_->Flush();
        if (close(fd_.release()) != 0)
            throw ToolError("cannot write " + path_ + ": " + Errno());
    }
    // Once more just before the rename: what is at the path may have changed
    // while the output was being written.
    CheckOutputPath(path_, force_, {});
    SignalsHeld held;
    if (rename(temp_.c_str(), path_.c_str()) != 0)
        throw ToolError("cannot create " + path_ + ": " + Errno());
    temp_.clear();
    gTempArmed = 0;
}

std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

uint32_t ZlibCrc32Update(uint32_t crc, const void* data, size_t count)
{
    return ~static_cast<uint32_t>(crc32_z(~crc, static_cast<const Bytef*>(data), count));
}
