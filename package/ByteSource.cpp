#include "package/ByteSource.h"

#include <cstring>

size_t BufferSource::ReadAt(uint64_t offset, void* buffer, size_t count) const
{
    if (offset >= size_)
        return 0;
    const size_t n = count < size_ - offset ? count : static_cast<size_t>(size_ - offset);
    if (n != 0) // buffer may be null for an empty read
        std::memcpy(buffer, data_ + offset, n);
    return n;
}

bool BufferSink::Write(const void* data, size_t count)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + count);
    return true;
}

bool BufferSink::WriteAt(uint64_t offset, const void* data, size_t count)
{
    if (offset > bytes.size() || count > bytes.size() - offset)
        return false;
    if (count != 0) // an empty vector's data() may be null
        std::memcpy(bytes.data() + offset, data, count);
    return true;
}
