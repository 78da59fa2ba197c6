// File access of the packaging tool (POSIX): inputs are opened only when
// they are regular files, read in pieces through a ByteSource, and the
// output is written through an OutputSink into a temporary file that replaces
// the output path only when everything is written.
#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/ByteSource.h"

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// "a directory", "a FIFO", ... for messages; "a regular file" for one.
const char* FileKindName(mode_t mode);

// Opens a regular file for reading without ever blocking on a FIFO or
// touching a device. Throws ToolError "missing file: PATH" or
// "PATH is a FIFO, not a regular file" (what names the role, e.g. "the stub").
Fd OpenRegular(const std::string& path, struct stat& st, const std::string& what = "");

// Inputs are read through the package's byte sources (package/ByteSource.h):
// a buffer is a BufferSource, a file this one. It reads what the file holds
// and raises ToolError when the file cannot be read or grows shorter while
// it is read.
// Part of an open file: [base, base + size).
class FdSource {
public:
    FdSource(int fd, uint64_t base, uint64_t size, std::string path)
        : fd_(fd), base_(base), size_(size), path_(std::move(path)) {}
    uint64_t Size() const { return size_; }
    size_t ReadAt(uint64_t at, void* out, size_t count) const;

private:
    int fd_;
    uint64_t base_, size_;
    std::string path_;
};

// A window onto another source.
class SliceSource {
public:
    SliceSource(ByteSource inner, uint64_t base, uint64_t size) : inner_(inner), base_(base), size_(size) {}
    uint64_t Size() const { return size_; }
    size_t ReadAt(uint64_t at, void* out, size_t count) const;

private:
    ByteSource inner_;
    uint64_t base_, size_;
};

// Exactly count bytes at `at`, or ToolError "read past the end of the data".
void ReadExactly(ByteSource source, uint64_t at, void* out, size_t count);

// Where output goes: appended in order, with small patches of what was
// written before (sizes and checksums known only at the end). A sink for
// the package writer too (package/ByteSource.h); its failures raise
// ToolError, so Write and WriteAt never answer false.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual bool Write(const void* data, size_t count) = 0;
    virtual bool WriteAt(uint64_t at, const void* data, size_t count) = 0;
    virtual uint64_t Position() const = 0;
    // What has been written, read back (the package's digest covers it).
    virtual void ReadAt(uint64_t at, void* data, size_t count) = 0;
};

class VectorSink : public OutputSink {
public:
    bool Write(const void* data, size_t count) override;
    bool WriteAt(uint64_t at, const void* data, size_t count) override;
    uint64_t Position() const override { return bytes.size(); }
    void ReadAt(uint64_t at, void* data, size_t count) override;
    std::vector<unsigned char> bytes;
};

// Buffered writes to a file descriptor.
class FileSink : public OutputSink {
public:
    FileSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) { buffer_.reserve(kBufferSize); }
    bool Write(const void* data, size_t count) override;
    bool WriteAt(uint64_t at, const void* data, size_t count) override;
    uint64_t Position() const override { return written_ + buffer_.size(); }
    void ReadAt(uint64_t at, void* data, size_t count) override;
    void Flush();

private:
    static constexpr size_t kBufferSize = 1 << 18;
    int fd_;
    std::string path_;
    uint64_t written_ = 0;
    std::vector<unsigned char> buffer_;
};

// Copies count bytes from the start of src to the sink, returning their
// CRC-32 continued from crc (zlib's convention: start with 0).
uint32_t CopyToSink(ByteSource src, OutputSink& sink, uint32_t crc);

// Which file an input is, to tell whether the output would replace it.
struct FileId {
    dev_t dev;
    ino_t ino;
    std::string path;
};

// Small text inputs (the manifest): a regular file of at most maxBytes.
std::string ReadSmallFile(const std::string& path, size_t maxBytes, const std::string& what);

// The output of pack and cab. The path is checked before anything is
// written: a regular file or nothing is fine, a symbolic link only with
// force (the link itself is then replaced), anything else is refused, and so
// is a file that is one of the inputs. The file is written under a
// temporary name beside it, which SIGINT and SIGTERM remove, and renamed
// into place by Commit. Destroyed without Commit, it removes the temporary.
class OutputFile {
public:
    OutputFile(const std::string& path, bool force, const std::vector<FileId>& inputs, bool executable);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputSink& Sink() { return *sink_; }
    // Replaces what was written by what make(written, result) writes to a
    // second temporary file, a signed copy say; a failure raises and leaves
    // neither temporary.
    void Remake(const std::function<void(const std::string& written, const std::string& result)>& make);
    void Commit();

private:
    std::string path_, temp_;
    bool force_;
    Fd fd_;
    std::unique_ptr<FileSink> sink_;
};

// Last path component (after the last '/').
std::string BaseName(const std::string& path);

// zlib's CRC-32 in the package code's register form (Crc32Update's): the
// same result, several times faster than the stub's compact one.
uint32_t ZlibCrc32Update(uint32_t crc, const void* data, size_t count);
