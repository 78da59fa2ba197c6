// MSZIP compression of cabinet data blocks, apart from the cabinet's byte
// layout. A block is "CK" and one complete raw deflate stream that may refer
// back into the previous block's 32 KB, which readers keep as history. That
// history is known before anything is compressed, so blocks compress in
// parallel and the result does not depend on the number of threads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

constexpr uint32_t kCabBlockSize = 32768;
// Readers reject a compressed block larger than this.
constexpr size_t kMaxCompressedBlock = 32768 + 6144;

// Levels 1 to 8 are zlib's levels, one pass per block. Level 9 compresses
// each block four ways (zlib's level 9 with smaller and smaller deflate
// blocks, which adapt their codes to mixed data) and keeps the smallest.
constexpr int kDefaultLevel = 7;
constexpr int kBestLevel = 9;

// One per thread: keeps its zlib streams from block to block.
class MszipCompressor {
public:
    explicit MszipCompressor(int level);
    ~MszipCompressor();
    MszipCompressor(const MszipCompressor&) = delete;
    MszipCompressor& operator=(const MszipCompressor&) = delete;
    // out := "CK" and the deflate data of in, given the history before it.
    void Compress(const unsigned char* history, size_t historyLen, const unsigned char* in, size_t inLen,
                  std::vector<unsigned char>& out);

private:
    struct Stream;
    std::vector<std::unique_ptr<Stream>> streams_;
    std::vector<unsigned char> other_;
};

// Reads exactly count bytes of the uncompressed stream (throws otherwise).
using BlockReader = std::function<void(unsigned char* out, size_t count)>;
// Gets each compressed block in order, with its uncompressed length.
using BlockEmitter = std::function<void(const unsigned char* data, size_t size, size_t uncompressed)>;

// Compresses totalBytes from read in 32 KB blocks on `threads` threads while
// the calling thread reads and emits, holding a few blocks per thread.
void CompressBlocks(uint64_t totalBytes, int level, unsigned threads, const BlockReader& read,
                    const BlockEmitter& emit);
