#include "tools/pack/cab/CabWriter.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "package/LittleEndian.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/ToolError.h"

namespace {

constexpr size_t kHeaderBytes = 36;
constexpr size_t kFolderBytes = 8;
constexpr size_t kFileFixedBytes = 16;
constexpr size_t kDataHeaderBytes = 8;
// CFHEADER bytes before and including cbCabinet, which is patched last.
constexpr size_t kSizeFieldEnd = 12;

uint32_t ChecksumWords(const unsigned char* p, size_t n, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = n / 4;
    for (size_t i = 0; i < words; ++i, p += 4)
        sum ^= GetU32(p);
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

// The folder's uncompressed stream: every entry's bytes in order, each file
// opened only when its turn comes and held to the size it had when it was
// collected.
class EntryStream {
public:
    explicit EntryStream(const std::vector<CabEntry>& entries) : entries_(entries), crcs_(entries.size(), 0) {}
    // The CRC-32 of each entry's bytes as they were read.
    const std::vector<uint32_t>& Crcs() const { return crcs_; }

    void Read(unsigned char* out, size_t count)
    {
        while (count > 0) {
            if (index_ >= entries_.size())
                throw ToolError("the files ended before the cabinet was full");
            const CabEntry& e = entries_[index_];
            if (!e.sourcePath.empty() && fd_.get() < 0 && e.size > 0)
                Open(e);
            size_t n = static_cast<size_t>(std::min<uint64_t>(count, e.Size() - offset_));
            if (!e.sourcePath.empty())
                ReadFile(e, out, n);
            else if (n != 0) // an empty file's data() may be null
                std::memcpy(out, e.data.data() + offset_, n);
            crcs_[index_] = static_cast<uint32_t>(crc32(crcs_[index_], out, static_cast<uInt>(n)));
            out += n;
            count -= n;
            offset_ += n;
            if (offset_ == e.Size())
                Next();
        }
    }
    // The entries after the last byte read are empty ones.
    void Finish()
    {
        while (index_ < entries_.size() && entries_[index_].Size() == 0)
            Next();
    }

private:
    void Open(const CabEntry& e)
    {
        fd_ = OpenRegular(e.sourcePath, opened_);
        if (static_cast<uint64_t>(opened_.st_size) != e.size)
            Changed(e);
    }
    void ReadFile(const CabEntry& e, unsigned char* out, size_t n)
    {
        while (n > 0) {
            ssize_t got = read(fd_.get(), out, n);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw ToolError("cannot read " + e.sourcePath + ": " + std::strerror(errno));
            if (got == 0)
                Changed(e);
            out += got;
            n -= static_cast<size_t>(got);
        }
    }
    void Next()
    {
        const CabEntry& e = entries_[index_];
        unsigned char extra;
        if (fd_.get() >= 0 && read(fd_.get(), &extra, 1) > 0)
            Changed(e);
        // Written to while it was read, even at the same size: its times
        // tell (the change time cannot be set back).
        struct stat now;
        if (fd_.get() >= 0 && (fstat(fd_.get(), &now) != 0 || now.st_size != opened_.st_size ||
                               now.st_mtim.tv_sec != opened_.st_mtim.tv_sec ||
                               now.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec ||
                               now.st_ctim.tv_sec != opened_.st_ctim.tv_sec ||
                               now.st_ctim.tv_nsec != opened_.st_ctim.tv_nsec))
            Changed(e);
        fd_ = Fd();
        offset_ = 0;
        ++index_;
    }
    [[noreturn]] static void Changed(const CabEntry& e)
    {
        throw ToolError(e.sourcePath + " changed while it was being packed");
    }

    const std::vector<CabEntry>& entries_;
    std::vector<uint32_t> crcs_;
    size_t index_ = 0;
    uint64_t offset_ = 0;
    Fd fd_;
    struct stat opened_ {};
};

// CFHEADER, the one CFFOLDER and the CFFILE list, with cbCabinet still 0.
std::vector<unsigned char> DirectoryBytes(const std::vector<CabEntry>& entries, uint64_t total, uint16_t typeCompress)
{
    size_t filesBytes = 0;
    for (const CabEntry& e : entries)
        filesBytes += kFileFixedBytes + e.name.size() + 1;
    const size_t filesOffset = kHeaderBytes + kFolderBytes;
    const size_t dataOffset = filesOffset + filesBytes;
    const size_t blockCount = static_cast<size_t>((total + kCabBlockSize - 1) / kCabBlockSize);

    std::vector<unsigned char> out;
    out.reserve(dataOffset);
    // CFHEADER: signature, size, first CFFILE, version 1.3, one folder,
    // no flags, set 0, index 0.
    AppendU32(out, 0x4643534D);
    AppendU32(out, 0);
    AppendU32(out, 0);
    AppendU32(out, 0);
    AppendU32(out, static_cast<uint32_t>(filesOffset));
    AppendU32(out, 0);
    out.push_back(3);
    out.push_back(1);
    AppendU16(out, 1);
    AppendU16(out, static_cast<uint16_t>(entries.size()));
    AppendU16(out, 0);
    AppendU16(out, 0);
    AppendU16(out, 0);
    // CFFOLDER
    AppendU32(out, static_cast<uint32_t>(dataOffset));
    AppendU16(out, static_cast<uint16_t>(blockCount));
    AppendU16(out, typeCompress);
    // CFFILE
    uint32_t offset = 0;
    for (const CabEntry& e : entries) {
        AppendU32(out, static_cast<uint32_t>(e.Size()));
        AppendU32(out, offset);
        AppendU16(out, 0);
        AppendU16(out, e.date);
        AppendU16(out, e.time);
        AppendU16(out, e.attribs);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        offset += static_cast<uint32_t>(e.Size());
    }
    return out;
}

// Writes CFDATA records and keeps the running size and CRC-32 of what
// follows the cbCabinet field.
class DataWriter {
public:
    DataWriter(OutputSink& out, uint64_t written, uint32_t crc) : out_(out), size_(written), crc_(crc) {}

    void Block(const unsigned char* data, size_t size, size_t uncompressed)
    {
        const uint16_t cbData = static_cast<uint16_t>(size), cbUncomp = static_cast<uint16_t>(uncompressed);
        std::vector<unsigned char> head;
        AppendU32(head, CabDataChecksum(data, size, cbData, cbUncomp));
        AppendU16(head, cbData);
        AppendU16(head, cbUncomp);
        Append(head.data(), head.size());
        Append(data, size);
    }
    uint64_t Size() const { return size_; }
    uint32_t Crc() const { return crc_; }

private:
    void Append(const unsigned char* p, size_t n)
    {
        size_ += n;
        if (size_ > 0xFFFFFFFFu)
            throw ToolError("the cabinet would exceed 4 GB");
        crc_ = static_cast<uint32_t>(crc32(crc_, p, static_cast<uInt>(n)));
        out_.Write(p, n);
    }

    OutputSink& out_;
    uint64_t size_;
    uint32_t crc_;
};

void WriteBlocks(const std::vector<CabEntry>& entries, uint64_t total, const CabWriteOptions& options, DataWriter& data,
                 std::vector<uint32_t>& crcs)
{
    EntryStream stream(entries);
    auto read = [&](unsigned char* p, size_t n) { stream.Read(p, n); };
    auto emit = [&](const unsigned char* p, size_t n, size_t uncompressed) {
        data.Block(p, n, uncompressed);
        if (options.progress)
            *options.progress += uncompressed;
    };
    if (options.lzxWindowBits > 0) {
        // Each frame refers back into the ones before: in order, its matches
        // found on a second thread.
        LzxCompressor lzx(options.lzxWindowBits, LzxCanTranslate(total), options.threads);
        std::vector<unsigned char> block(kCabBlockSize);
        for (uint64_t at = 0; at < total; at += kCabBlockSize) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kCabBlockSize, total - at));
            read(block.data(), n);
            lzx.Compress(block.data(), n, emit);
        }
        lzx.Finish(emit);
    } else if (options.level > 0) {
        CompressBlocks(total, options.level, options.threads, read, emit);
    } else {
        std::vector<unsigned char> block(kCabBlockSize);
        for (uint64_t at = 0; at < total; at += kCabBlockSize) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kCabBlockSize, total - at));
            read(block.data(), n);
            emit(block.data(), n, n);
        }
    }
    stream.Finish();
    crcs = stream.Crcs();
}

// The cabinet just written, read back from where it went.
class WrittenCabinet {
public:
    WrittenCabinet(OutputSink& out, uint64_t start, uint64_t size) : out_(out), start_(start), size_(size) {}
    uint64_t Size() const { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const
    {
        if (offset >= size_)
            return 0;
        count = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
        out_.ReadAt(start_ + offset, buffer, count);
        return count;
    }

private:
    OutputSink& out_;
    uint64_t start_, size_;
};

} // namespace

void CheckCabinetEntries(const std::vector<CabEntry>& entries)
{
    if (entries.empty())
        throw ToolError("a cabinet needs at least one file");
    if (entries.size() > kMaxCabinetFiles)
        throw ToolError("there are " + std::to_string(entries.size()) + " files; a cabinet holds at most 65535");
    uint64_t total = 0;
    for (const CabEntry& e : entries) {
        if (e.name.empty() || e.name.size() > 255 || e.name.find('\0') != std::string::npos)
            throw ToolError("cannot store the name \"" + e.name + "\" in a cabinet");
        total += e.Size();
        if (e.Size() > kMaxFolderBytes || total > kMaxFolderBytes)
            throw ToolError("the files add up to more than one cabinet holds (2 GB)");
    }
}

uint32_t CabDataChecksum(const unsigned char* data, size_t count, uint16_t cbData, uint16_t cbUncomp)
{
    unsigned char sizes[4];
    PutU16(sizes, cbData);
    PutU16(sizes + 2, cbUncomp);
    return ChecksumWords(sizes, 4, ChecksumWords(data, count, 0));
}

void DosDateTime(int64_t unixTime, int offsetMinutes, uint16_t& date, uint16_t& time)
{
    std::time_t t = static_cast<std::time_t>(unixTime + int64_t(offsetMinutes) * 60);
    std::tm tm{};
    if (!gmtime_r(&t, &tm) || tm.tm_year < 80) {
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

CabWritten WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options, OutputSink& out)
{
    CheckCabinetEntries(entries);
    if (options.level < 0 || options.level > kBestLevel)
        throw ToolError("compression level must be 0 to 9");
    if (options.lzxWindowBits != 0 &&
        (options.lzxWindowBits < kLzxMinWindowBits || options.lzxWindowBits > kLzxMaxWindowBits))
        throw ToolError("the LZX window is 15 to 21 bits");
    uint64_t total = 0;
    for (const CabEntry& e : entries)
        total += e.Size();

    const uint64_t start = out.Position();
    const uint16_t typeCompress = options.lzxWindowBits ? LzxFolderType(options.lzxWindowBits)
                                                        : static_cast<uint16_t>(options.level > 0 ? 1 : 0);
    std::vector<unsigned char> head = DirectoryBytes(entries, total, typeCompress);
    out.Write(head.data(), head.size());
    DataWriter data(out, head.size(),
                    static_cast<uint32_t>(crc32(0, head.data() + kSizeFieldEnd,
                                                static_cast<uInt>(head.size() - kSizeFieldEnd))));
    std::vector<uint32_t> crcs;
    WriteBlocks(entries, total, options, data, crcs);

    // cbCabinet, and the CRC-32 of the whole with it in place.
    std::vector<unsigned char> size;
    AppendU32(size, static_cast<uint32_t>(data.Size()));
    out.WriteAt(start + 8, size.data(), size.size());
    std::copy(size.begin(), size.end(), head.begin() + 8);
    uint32_t crcHead = static_cast<uint32_t>(crc32(0, head.data(), kSizeFieldEnd));
    CabWritten written;
    written.size = data.Size();
    written.crc = static_cast<uint32_t>(
        crc32_combine(crcHead, data.Crc(), static_cast<z_off_t>(data.Size() - kSizeFieldEnd)));
    // Read back by another decoder, every entry must be the bytes that went
    // in: an encoder's fault never reaches an installer.
    try {
        const WrittenCabinet back(out, start, written.size);
        VerifyCabinet(ByteSource(back), &crcs);
    } catch (const ToolError& e) {
        throw ToolError(std::string("the cabinet just written does not read back: ") + e.what());
    }
    return written;
}

std::vector<unsigned char> WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options)
{
    VectorSink sink;
    WriteCabinet(entries, options, sink);
    return std::move(sink.bytes);
}
