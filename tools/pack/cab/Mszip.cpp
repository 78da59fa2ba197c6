#include "tools/pack/cab/Mszip.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "package/LittleEndian.h"
#include "tools/pack/ToolError.h"

namespace {

// zlib's memLevel also sets how many symbols go into one deflate block;
// smaller blocks adapt their codes to the data, which pays on mixed files.
// The best level tries these and keeps the smallest (the first on a tie).
constexpr int kBestMemLevels[] = {9, 6, 5, 4};
constexpr int kMemLevel = 8;

// A block as one stored deflate block: always fits, needs no history.
void StoreBlock(const unsigned char* in, size_t inLen, std::vector<unsigned char>& out)
{
    const uint16_t len = static_cast<uint16_t>(inLen);
    unsigned char head[7] = {'C', 'K', 0x01};
    PutU16(head + 3, len);
    PutU16(head + 5, static_cast<uint16_t>(~len));
    out.assign(head, head + sizeof head);
    out.insert(out.end(), in, in + inLen);
}

} // namespace

struct MszipCompressor::Stream {
    z_stream z{};
    explicit Stream(int level, int memLevel)
    {
        if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, Z_DEFAULT_STRATEGY) != Z_OK)
            throw ToolError("zlib cannot start compression");
    }
    ~Stream() { deflateEnd(&z); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void Run(const unsigned char* history, size_t historyLen, const unsigned char* in, size_t inLen,
             std::vector<unsigned char>& out)
    {
        if (deflateReset(&z) != Z_OK)
            throw ToolError("zlib cannot restart compression");
        if (historyLen > 0 && deflateSetDictionary(&z, history, static_cast<uInt>(historyLen)) != Z_OK)
            throw ToolError("zlib refused the block history");
        out.resize(2 + deflateBound(&z, static_cast<uLong>(inLen)) + 64);
        out[0] = 'C';
        out[1] = 'K';
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = static_cast<uInt>(inLen);
        z.next_out = out.data() + 2;
        z.avail_out = static_cast<uInt>(out.size() - 2);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END)
            throw ToolError("zlib could not finish a block");
        out.resize(2 + z.total_out);
    }
};

MszipCompressor::MszipCompressor(int level)
{
    if (level < 1 || level > kBestLevel)
        throw ToolError("compression level must be 0 to 9");
    if (level == kBestLevel) {
        for (int mem : kBestMemLevels)
            streams_.push_back(std::make_unique<Stream>(level, mem));
    } else {
        streams_.push_back(std::make_unique<Stream>(level, kMemLevel));
    }
}

MszipCompressor::~MszipCompressor() = default;

void MszipCompressor::Compress(const unsigned char* history, size_t historyLen, const unsigned char* in, size_t inLen,
                               std::vector<unsigned char>& out)
{
    streams_[0]->Run(history, historyLen, in, inLen, out);
    for (size_t i = 1; i < streams_.size(); ++i) {
        streams_[i]->Run(history, historyLen, in, inLen, other_);
        if (other_.size() < out.size())
            out.swap(other_);
    }
    if (out.size() > kMaxCompressedBlock)
        StoreBlock(in, inLen, out);
}

namespace {

// The blocks between reading and emitting. Block b sits in slot b % size;
// a slot is filled again only after its block and the block that used it
// as history are both emitted.
class BlockRing {
public:
    BlockRing(uint64_t totalBytes, int level, unsigned threads)
        : total_(totalBytes), count_((totalBytes + kCabBlockSize - 1) / kCabBlockSize), level_(level),
          slots_(threads * 4 + 2)
    {
        for (Slot& s : slots_)
            s.in.resize(kCabBlockSize);
        for (unsigned t = 0; t < threads; ++t)
            workers_.emplace_back([this] { Work(); });
    }
    ~BlockRing()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        ready_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }

    void Run(const BlockReader& read, const BlockEmitter& emit)
    {
        for (uint64_t next = 0; next < count_; ++next) {
            while (read_ < count_ && read_ - next < slots_.size() - 1)
                Fill(read);
            Slot& s = slots_[next % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(m_);
                done_.wait(lock, [&] { return s.done || error_; });
                if (error_)
                    std::rethrow_exception(error_);
            }
            emit(s.out.data(), s.out.size(), s.len);
        }
    }

private:
    struct Slot {
        std::vector<unsigned char> in, out;
        size_t len = 0;
        bool done = false;
    };

    void Fill(const BlockReader& read)
    {
        Slot& s = slots_[read_ % slots_.size()];
        s.len = static_cast<size_t>(std::min<uint64_t>(kCabBlockSize, total_ - read_ * kCabBlockSize));
        read(s.in.data(), s.len);
        {
            std::lock_guard<std::mutex> lock(m_);
            s.done = false;
            ++read_;
        }
        ready_.notify_one();
    }

    void Work()
    {
        try {
            MszipCompressor compressor(level_);
            for (;;) {
                uint64_t b;
                {
                    std::unique_lock<std::mutex> lock(m_);
                    ready_.wait(lock, [&] { return stop_ || taken_ < read_; });
                    if (stop_)
                        return;
                    b = taken_++;
                }
                Slot& s = slots_[b % slots_.size()];
                const Slot* prev = b > 0 ? &slots_[(b - 1) % slots_.size()] : nullptr;
                compressor.Compress(prev ? prev->in.data() : nullptr, prev ? prev->len : 0, s.in.data(), s.len, s.out);
                {
                    std::lock_guard<std::mutex> lock(m_);
                    s.done = true;
                }
                done_.notify_one();
            }
        } catch (...) {
            // Nothing may leave a thread: the reading thread raises it.
            std::lock_guard<std::mutex> lock(m_);
            if (!error_)
                error_ = std::current_exception();
            stop_ = true;
            done_.notify_all();
        }
    }

    const uint64_t total_, count_;
    const int level_;
    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    std::mutex m_;
    std::condition_variable ready_, done_;
    uint64_t read_ = 0, taken_ = 0; // guarded by m_
    bool stop_ = false;
    std::exception_ptr error_;
};

} // namespace

void CompressBlocks(uint64_t totalBytes, int level, unsigned threads, const BlockReader& read, const BlockEmitter& emit)
{
    if (totalBytes == 0)
        return;
    MszipCompressor check(level); // a bad level fails here, before any thread starts
    threads = std::max(1u, threads ? threads : std::thread::hardware_concurrency());
    const uint64_t blocks = (totalBytes + kCabBlockSize - 1) / kCabBlockSize;
    threads = static_cast<unsigned>(std::min<uint64_t>(threads, blocks));
    BlockRing ring(totalBytes, level, threads);
    ring.Run(read, emit);
}
