// LZX compression of cabinet folders. The folder is one LZX stream cut into
// frames of 32,768 uncompressed bytes; each frame's bits, padded to a 16-bit
// word, are one CFDATA block. Matches reach back up to the window (2^15 to
// 2^21 bytes) across frames but never cross a frame's end, which readers
// check. Each frame is parsed for the fewest bits by the codes before it; a
// verbatim or aligned-offset block, whichever is smaller, covers one frame
// or a few when one code for them costs less. x86 CALL targets (E8 xx xx xx
// xx) are made absolute first, as the readers' Intel E8 translation
// expects, so repeated calls to one function compress. Frames depend on
// each other: one compressor, in order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/pack/cab/Mszip.h"

constexpr int kLzxMinWindowBits = 15;
constexpr int kLzxMaxWindowBits = 21;

// CFFOLDER typeCompress of an LZX folder: type 3, window bits in the high byte.
constexpr uint16_t LzxFolderType(int windowBits) { return static_cast<uint16_t>(3 | windowBits << 8); }

// The E8 translation size in the stream header: call targets inside it are
// translated.
constexpr uint32_t kLzxTranslationSize = 12000000;

// Readers disagree on whether frame 32,768 is translated, so a folder that
// long (1 GB) is written without the translation.
bool LzxCanTranslate(uint64_t folderBytes);

class LzxCompressor {
public:
    // translateCalls sets the E8 bit of the stream header. With threads
    // above 1 (0: one per core) matches are found on a second thread, a
    // frame ahead of the parse; the bytes written are the same.
    LzxCompressor(int windowBits, bool translateCalls, unsigned threads = 1);
    ~LzxCompressor();
    LzxCompressor(const LzxCompressor&) = delete;
    LzxCompressor& operator=(const LzxCompressor&) = delete;

    // Takes the next frame: 32,768 bytes, fewer only for the folder's last.
    // A block covers a few frames and its code comes first, so frames wait
    // for their block: each goes to emit as its CFDATA bytes when the block
    // is written, in order.
    void Compress(const unsigned char* in, size_t len, const BlockEmitter& emit);
    // Writes the frames still waiting; a short frame did that already.
    void Finish(const BlockEmitter& emit);

private:
    struct State;
    std::unique_ptr<State> s_;
};
