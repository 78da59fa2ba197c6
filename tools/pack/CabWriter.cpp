#include "tools/pack/CabWriter.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include "tools/pack/FileUtil.h"
#include "tools/pack/ToolError.h"

namespace {

constexpr size_t kHeaderBytes = 36;
constexpr size_t kFolderBytes = 8;
constexpr size_t kFileFixedBytes = 16;
constexpr size_t kDataHeaderBytes = 8;
// Readers reject a compressed block larger than this.
constexpr size_t kMaxCompressedBlock = 32768 + 6144;
// What readers accept as one folder's uncompressed size.
constexpr uint64_t kMaxFolderBytes = 0x7FFF8000;

void PutU16(std::vector<unsigned char>& out, uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void PutU32(std::vector<unsigned char>& out, uint32_t v)
{
    PutU16(out, static_cast<uint16_t>(v));
    PutU16(out, static_cast<uint16_t>(v >> 16));
}

uint32_t ChecksumWords(const unsigned char* p, size_t n, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = n / 4;
    for (size_t i = 0; i < words; ++i, p += 4)
        sum ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    // The trailing bytes fold in with the first of them highest.
    uint32_t tail = 0;
    switch (n % 4) {
    case 3: tail |= uint32_t(*p++) << 16; [[fallthrough]];
    case 2: tail |= uint32_t(*p++) << 8; [[fallthrough]];
    case 1: tail |= *p; break;
    default: break;
    }
    return sum ^ tail;
}

// "CK" and one complete raw deflate stream. The stream ends with a final
// block, so each block decodes on its own given the history before it.
std::vector<unsigned char> CompressBlock(const unsigned char* dict, size_t dictLen, const unsigned char* in,
                                         size_t inLen, int level, int memLevel)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ToolError("zlib cannot start compression");
    struct End { z_stream* z; ~End() { deflateEnd(z); } } end{&z};
    if (dictLen > 0 && deflateSetDictionary(&z, dict, static_cast<uInt>(dictLen)) != Z_OK)
        throw ToolError("zlib refused the block dictionary");
    std::vector<unsigned char> out(2 + deflateBound(&z, static_cast<uLong>(inLen)) + 64);
    out[0] = 'C';
    out[1] = 'K';
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(inLen);
    z.next_out = out.data() + 2;
    z.avail_out = static_cast<uInt>(out.size() - 2);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        throw ToolError("zlib could not finish a block");
    out.resize(2 + z.total_out);
    return out;
}

std::vector<unsigned char> ReadSource(const CabEntry& e)
{
    if (e.sourcePath.empty())
        return e.data;
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(e.sourcePath, bytes))
        throw ToolError("cannot read " + e.sourcePath);
    return bytes;
}

} // namespace

uint32_t CabDataChecksum(const unsigned char* data, size_t count, uint16_t cbData, uint16_t cbUncomp)
{
    unsigned char sizes[4] = {static_cast<unsigned char>(cbData), static_cast<unsigned char>(cbData >> 8),
                              static_cast<unsigned char>(cbUncomp), static_cast<unsigned char>(cbUncomp >> 8)};
    return ChecksumWords(sizes, 4, ChecksumWords(data, count, 0));
}

void DosDateTime(int64_t unixTime, uint16_t& date, uint16_t& time)
{
    std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        date = 0x21;
        time = 0;
        return;
    }
    if (tm.tm_year > 207) {
        date = static_cast<uint16_t>(127 << 9 | 12 << 5 | 31);
        time = static_cast<uint16_t>(23 << 11 | 59 << 5 | 29);
        return;
    }
    date = static_cast<uint16_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    time = static_cast<uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | std::min(tm.tm_sec, 59) / 2);
}

std::vector<unsigned char> WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options)
{
    if (entries.empty())
        throw ToolError("a cabinet needs at least one file");
    if (entries.size() > 0xFFFF)
        throw ToolError("a cabinet holds at most 65535 files");
    if (options.level < 0 || options.level > 9)
        throw ToolError("compression level must be 0 to 9");

    // The folder's uncompressed stream: every entry's bytes in order.
    std::vector<unsigned char> stream;
    std::vector<uint32_t> sizes;
    for (const CabEntry& e : entries) {
        if (e.name.empty() || e.name.size() > 255 || e.name.find('\0') != std::string::npos)
            throw ToolError("cannot store the name \"" + e.name + "\" in a cabinet");
        std::vector<unsigned char> bytes = ReadSource(e);
        if (stream.size() + bytes.size() > kMaxFolderBytes)
            throw ToolError("the files add up to more than one cabinet holds (2 GB)");
        sizes.push_back(static_cast<uint32_t>(bytes.size()));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }

    const size_t blockCount = (stream.size() + kCabBlockSize - 1) / kCabBlockSize;
    if (blockCount > 0xFFFF)
        throw ToolError("too many data blocks for one cabinet folder");

    std::vector<std::vector<unsigned char>> blocks(blockCount);
    if (options.level > 0) {
        std::atomic<size_t> next{0};
        std::atomic<bool> failed{false};
        auto work = [&] {
            try {
                for (size_t b; !failed && (b = next++) < blockCount;) {
                    size_t start = b * kCabBlockSize;
                    size_t len = std::min<size_t>(kCabBlockSize, stream.size() - start);
                    size_t dictLen = b == 0 ? 0 : kCabBlockSize;
                    const unsigned char* dict = stream.data() + start - dictLen;
                    blocks[b] = CompressBlock(dict, dictLen, stream.data() + start, len, options.level, 9);
                    // zlib's memLevel also sets how many symbols go into one
                    // deflate block; smaller blocks adapt their codes to the
                    // data, which pays on mixed files. The top level tries
                    // several and keeps the smallest (the first on a tie).
                    for (int mem : {6, 5, 4}) {
                        if (options.level != 9)
                            break;
                        std::vector<unsigned char> other =
                            CompressBlock(dict, dictLen, stream.data() + start, len, options.level, mem);
                        if (other.size() < blocks[b].size())
                            blocks[b].swap(other);
                    }
                    // Hopeless data: a stored deflate block always fits.
                    if (blocks[b].size() > kMaxCompressedBlock)
                        blocks[b] = CompressBlock(nullptr, 0, stream.data() + start, len, 0, 9);
                }
            } catch (...) {
                // Nothing may leave a thread; the caller reports it.
                failed = true;
            }
        };
        unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        threads = static_cast<unsigned>(std::min<size_t>(threads, blockCount));
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t)
            pool.emplace_back(work);
        work();
        for (std::thread& t : pool)
            t.join();
        if (failed)
            throw ToolError("zlib failed while compressing");
    }

    size_t filesBytes = 0;
    for (const CabEntry& e : entries)
        filesBytes += kFileFixedBytes + e.name.size() + 1;
    const size_t filesOffset = kHeaderBytes + kFolderBytes;
    const size_t dataOffset = filesOffset + filesBytes;
    size_t total = dataOffset;
    for (size_t b = 0; b < blockCount; ++b) {
        size_t len = std::min<size_t>(kCabBlockSize, stream.size() - b * kCabBlockSize);
        total += kDataHeaderBytes + (options.level > 0 ? blocks[b].size() : len);
    }
    if (total > 0xFFFFFFFFu)
        throw ToolError("the cabinet would exceed 4 GB");

    std::vector<unsigned char> out;
    out.reserve(total);
    // CFHEADER: signature, size, first CFFILE, version 1.3, one folder,
    // no flags, set 0, index 0.
    PutU32(out, 0x4643534D);
    PutU32(out, 0);
    PutU32(out, static_cast<uint32_t>(total));
    PutU32(out, 0);
    PutU32(out, static_cast<uint32_t>(filesOffset));
    PutU32(out, 0);
    out.push_back(3);
    out.push_back(1);
    PutU16(out, 1);
    PutU16(out, static_cast<uint16_t>(entries.size()));
    PutU16(out, 0);
    PutU16(out, 0);
    PutU16(out, 0);
    // CFFOLDER
    PutU32(out, static_cast<uint32_t>(dataOffset));
    PutU16(out, static_cast<uint16_t>(blockCount));
    PutU16(out, options.level > 0 ? 1 : 0);
    // CFFILE
    uint32_t offset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const CabEntry& e = entries[i];
        PutU32(out, sizes[i]);
        PutU32(out, offset);
        PutU16(out, 0);
        PutU16(out, e.date);
        PutU16(out, e.time);
        PutU16(out, static_cast<uint16_t>(e.attribs & ~kAttrUtf8Name));
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        offset += sizes[i];
    }
    // CFDATA
    for (size_t b = 0; b < blockCount; ++b) {
        size_t start = b * kCabBlockSize;
        size_t len = std::min<size_t>(kCabBlockSize, stream.size() - start);
        const unsigned char* data = options.level > 0 ? blocks[b].data() : stream.data() + start;
        size_t dataLen = options.level > 0 ? blocks[b].size() : len;
        uint16_t cbData = static_cast<uint16_t>(dataLen);
        uint16_t cbUncomp = static_cast<uint16_t>(len);
        PutU32(out, CabDataChecksum(data, dataLen, cbData, cbUncomp));
        PutU16(out, cbData);
        PutU16(out, cbUncomp);
        out.insert(out.end(), data, data + dataLen);
    }
    return out;
}
