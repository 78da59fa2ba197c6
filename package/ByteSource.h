// Where the package reader takes bytes from and the package writer puts
// them: the stub's own file and the uninstaller it writes, a file or a
// buffer in the packer. Neither raises by itself: a read delivers a count,
// a write says whether every byte went.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class ByteSource {
public:
    virtual uint64_t Size() const = 0;
    // Up to count bytes from offset on; how many were read. Fewer only where
    // the source ends or cannot be read.
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;

protected:
    ~ByteSource() = default;
};

// Bytes are appended in order; the few known only at the end (the marker,
// a header's sizes) are written over what went before.
class ByteSink {
public:
    virtual bool Write(const void* data, size_t count) = 0;
    virtual bool WriteAt(uint64_t offset, const void* data, size_t count) = 0;

protected:
    ~ByteSink() = default;
};

class BufferSource final : public ByteSource {
public:
    BufferSource(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    explicit BufferSource(const std::vector<unsigned char>& bytes) : BufferSource(bytes.data(), bytes.size()) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const override;

private:
    const unsigned char* data_;
    size_t size_;
};

class BufferSink final : public ByteSink {
public:
    bool Write(const void* data, size_t count) override;
    bool WriteAt(uint64_t offset, const void* data, size_t count) override;
    std::vector<unsigned char> bytes;
};
