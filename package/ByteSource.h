// Where the package reader takes bytes from and the package writer puts
// them: the stub's own file and the uninstaller it writes, a file or a
// buffer in the packer. Neither raises by itself: a read delivers a count,
// a write says whether every byte went.
//
// ByteSource and ByteSink are views, a function and the object it works on,
// made from any object with the member functions named below. They cost a
// call, and no tables: the stub carries every byte it ships.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

// What a source object offers:
//   uint64_t Size() const;
//   size_t ReadAt(uint64_t offset, void* buffer, size_t count) const;
//       up to count bytes from offset on; how many were read. Fewer only
//       where the source ends or cannot be read.
class ByteSource {
public:
    template <class T, class = std::enable_if_t<!std::is_same_v<T, ByteSource>>>
    ByteSource(const T& source)
        : object_(&source), size_([](const void* o) { return static_cast<const T*>(o)->Size(); }),
          read_([](const void* o, uint64_t offset, void* buffer, size_t count) {
              return static_cast<const T*>(o)->ReadAt(offset, buffer, count);
          })
    {
    }
    uint64_t Size() const { return size_(object_); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const { return read_(object_, offset, buffer, count); }

private:
    const void* object_;
    uint64_t (*size_)(const void*);
    size_t (*read_)(const void*, uint64_t, void*, size_t);
};

// What a sink object offers:
//   bool Write(const void* data, size_t count);
//       appends; false when not every byte went
//   bool WriteAt(uint64_t offset, const void* data, size_t count);
//       over what went before: the few bytes known only at the end (the
//       marker, a header's sizes); what is written next is appended still
class ByteSink {
public:
    template <class T, class = std::enable_if_t<!std::is_same_v<T, ByteSink>>>
    ByteSink(T& sink)
        : object_(&sink),
          write_([](void* o, const void* data, size_t count) { return static_cast<T*>(o)->Write(data, count); }),
          writeAt_([](void* o, uint64_t offset, const void* data, size_t count) {
              return static_cast<T*>(o)->WriteAt(offset, data, count);
          })
    {
    }
    bool Write(const void* data, size_t count) { return write_(object_, data, count); }
    bool WriteAt(uint64_t offset, const void* data, size_t count) { return writeAt_(object_, offset, data, count); }

private:
    void* object_;
    bool (*write_)(void*, const void*, size_t);
    bool (*writeAt_)(void*, uint64_t, const void*, size_t);
};

// The buffer of a piecewise copy: its bytes are left as they come, to be
// read into before use, and it needs none of a growing list's code.
using PieceBuffer = std::unique_ptr<unsigned char[]>;
inline PieceBuffer NewPieceBuffer(size_t size) { return PieceBuffer(new unsigned char[size ? size : 1]); }

class BufferSource {
public:
    BufferSource(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    explicit BufferSource(const std::vector<unsigned char>& bytes) : BufferSource(bytes.data(), bytes.size()) {}
    uint64_t Size() const { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const;

private:
    const unsigned char* data_;
    size_t size_;
};

class BufferSink {
public:
    bool Write(const void* data, size_t count);
    bool WriteAt(uint64_t offset, const void* data, size_t count);
    std::vector<unsigned char> bytes;
};
