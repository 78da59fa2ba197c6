#include "package/LittleEndian.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/cab/CabWriter.h"
#include "tools/pack/ToolError.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "PackTestUtil.h"

namespace {

using Bytes = std::vector<unsigned char>;

uint16_t U16(const Bytes& b, size_t at) { return GetU16(&b[at]); }
uint32_t U32(const Bytes& b, size_t at) { return GetU32(&b[at]); }

struct Block {
    uint32_t checksum;
    uint16_t cbData;
    uint16_t cbUncomp;
    size_t dataAt;
};

std::vector<Block> DataBlocks(const Bytes& cab)
{
    CabInfo info = ReadCabinetDirectory(cab);
    std::vector<Block> blocks;
    size_t at = info.folders.at(0).dataOffset;
    for (unsigned i = 0; i < info.folders[0].blockCount; ++i) {
        Block b{U32(cab, at), U16(cab, at + 4), U16(cab, at + 6), at + 8};
        blocks.push_back(b);
        at += 8 + b.cbData;
    }
    EXPECT_EQ(at, cab.size()) << "blocks must end where the cabinet ends";
    return blocks;
}

std::vector<CabEntry> MakeEntries(const std::vector<Bytes>& contents)
{
    std::vector<CabEntry> entries;
    for (size_t i = 0; i < contents.size(); ++i) {
        CabEntry e;
        e.name = "file" + std::to_string(i) + ".dat";
        e.data = contents[i];
        e.date = static_cast<uint16_t>(0x5000 + i);
        e.time = static_cast<uint16_t>(0x6000 + i);
        entries.push_back(e);
    }
    return entries;
}

struct RoundTripCase {
    const char* label;
    std::vector<Bytes> contents;
    int level;
    int lzxWindowBits = 0;
};

Bytes Repeated(const Bytes& unit, size_t times)
{
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

// x86 code as far as the E8 translation sees it: noise with calls to a few
// dozen functions, each call's operand relative to the byte after it.
Bytes CallHeavyCode(size_t size, unsigned seed)
{
    Bytes code = Noise(size, seed);
    Bytes targets = Noise(64 * 4, seed + 1);
    for (size_t at = 0, k = 0; at + 5 <= size; at += 13 + k % 7, ++k) {
        const uint32_t target = GetU32(&targets[(k * 7 % 64) * 4]) % 0x100000;
        code[at] = 0xE8;
        PutU32(&code[at + 1], static_cast<uint32_t>(target - (at + 5)));
    }
    return code;
}

// E8 bytes whose operands sit on each edge of the translation (targets
// before the start of the stream, at the translation size, the extremes of
// 32 bits), at every place in a frame including its last ten bytes.
Bytes CallEdges(unsigned frames)
{
    Bytes out = Noise(32768 * frames + 777, 40);
    const int64_t size = kLzxTranslationSize;
    size_t k = 0;
    for (size_t at = 0; at + 5 <= out.size(); at += 1 + (k * 37) % 61, ++k) {
        const int64_t cur = static_cast<int64_t>(at);
        const int64_t edges[] = {-cur - 1, -cur, -cur + 1, size - cur - 1, size - cur, size - 1,
                                 size, INT32_MIN, INT32_MAX, 0, -1};
        out[at] = 0xE8;
        PutU32(&out[at + 1], static_cast<uint32_t>(edges[k % 11]));
    }
    return out;
}

// Pieces from a few places of a pool in turn, each followed by a byte of
// noise: the same three distances come back, one after the other, so the
// repeated offsets swap in every order.
Bytes RotatingPieces(size_t size, unsigned seed)
{
    const Bytes pool = Noise(3000, seed);
    const Bytes noise = Noise(size / 50 + 1, seed + 1);
    Bytes out = pool;
    for (size_t k = 0; out.size() < size; ++k) {
        const size_t from = out.size() - 1000 * (1 + k % 3) - k % 2;
        for (size_t i = 0; i < 20 + k % 40; ++i)
            out.push_back(out[from + i]);
        out.push_back(noise[k % noise.size()]);
    }
    out.resize(size);
    return out;
}

// Runs of one byte as long as a match can be and one longer, between noise.
Bytes RunsAroundTheLongestMatch(unsigned seed)
{
    Bytes out;
    const Bytes noise = Noise(4000, seed);
    for (size_t k = 0; k < 400; ++k) {
        out.insert(out.end(), 256 + k % 4, static_cast<unsigned char>(k % 3));
        out.insert(out.end(), noise.begin() + k % 3000, noise.begin() + k % 3000 + 3 + k % 5);
    }
    return out;
}

// A table whose every record is the one before with a byte or two
// changed: a match, a literal or two and the same offset again, over and
// over.
Bytes RecordsBytesApart(size_t size, unsigned seed)
{
    const Bytes noise = Noise(size / 10 + 64, seed);
    Bytes out(noise.begin(), noise.begin() + 24);
    for (size_t k = 0; out.size() < size; ++k) {
        const size_t width = 24 + 8 * (k / 500 % 3); // a few tables, a few widths
        Bytes record(out.end() - static_cast<std::ptrdiff_t>(width), out.end());
        const size_t at = noise[k % noise.size()] % (width - 1);
        record[at] = noise[(k + 7) % noise.size()];
        if (k % 3 == 0)
            record[at + 1] = noise[(k + 11) % noise.size()];
        out.insert(out.end(), record.begin(), record.end());
    }
    out.resize(size);
    return out;
}

// Text as a writer's files hold it: words of a small vocabulary, lines,
// now and then a run of noise. Over megabytes the same phrases come back
// from everywhere in the window, each frame's end cutting through some.
Bytes WordSoup(size_t size, unsigned seed)
{
    uint32_t x = seed * 2654435761u + 7;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    std::vector<std::string> words(2000);
    for (std::string& w : words)
        for (uint32_t n = 2 + next() % 8; n > 0; --n)
            w += static_cast<char>('a' + next() % 26);
    Bytes pool;
    while (pool.size() < (4u << 20)) {
        const std::string& w = words[next() % words.size()];
        pool.insert(pool.end(), w.begin(), w.end());
        if (next() % 10 == 0)
            pool.insert(pool.end(), {'\r', '\n'});
        else
            pool.push_back(' ');
    }
    Bytes out;
    while (out.size() < size) {
        const size_t at = next() % (pool.size() - 16384), len = 1024 + next() % 15360;
        out.insert(out.end(), pool.begin() + at, pool.begin() + at + len);
        if (next() % 5 == 0)
            for (uint32_t n = 50 + next() % 350; n > 0; --n)
                out.push_back(static_cast<unsigned char>(next()));
    }
    out.resize(size);
    return out;
}

std::vector<RoundTripCase> RoundTripCases()
{
    std::vector<Bytes> tiny;
    for (unsigned i = 0; i < 300; ++i)
        tiny.push_back(Pattern(1 + i % 50, i));
    return {
        {"one small file", {Pattern(100, 1)}, 9},
        {"empty files around a file", {{}, Pattern(100, 2), {}}, 9},
        {"exactly one block", {Pattern(32768, 3)}, 9},
        {"one block and a byte", {Pattern(32769, 4)}, 9},
        {"files straddle block boundaries", {Pattern(20000, 5), Noise(30000, 6), Pattern(50000, 7)}, 9},
        {"incompressible file over 32 KB", {Noise(100000, 8)}, 9},
        {"many tiny files in one block", tiny, 9},
        {"fastest level", {Pattern(70000, 9), Noise(40000, 10)}, 1},
        {"stored blocks", {Pattern(20000, 11), Noise(50000, 12), {}}, 0},
        {"LZX:21 one small file", {Pattern(100, 1)}, 0, 21},
        {"LZX:15 a single byte", {{0x41}}, 0, 15},
        {"LZX:21 empty files around a file", {{}, Pattern(100, 2), {}}, 0, 21},
        {"LZX:21 exactly one frame", {Pattern(32768, 3)}, 0, 21},
        {"LZX:15 one frame and a byte", {Pattern(32769, 4)}, 0, 15},
        {"LZX:15 files straddle frames", {Pattern(20000, 5), Noise(30000, 6), Pattern(50000, 7)}, 0, 15},
        {"LZX:16 incompressible, longer than the window", {Noise(200000, 8)}, 0, 16},
        {"LZX:17 many tiny files in one frame", tiny, 0, 17},
        {"LZX:18 one byte over and over", {Bytes(300000, 0xE8)}, 0, 18},
        {"LZX:19 repeats farther back than a frame", {Repeated(Noise(50000, 9), 5)}, 0, 19},
        {"LZX:15 repeats farther back than the window", {Repeated(Noise(40000, 10), 4)}, 0, 15},
        {"LZX:20 x86 calls", {CallHeavyCode(150000, 11)}, 0, 20},
        {"LZX:21 calls at the translation's edges", {CallEdges(3)}, 0, 21},
        {"LZX:15 calls at the translation's edges", {CallEdges(3)}, 0, 15},
        {"LZX:21 text, repeats and noise", {Pattern(300000, 12), Noise(70000, 13), Pattern(90000, 12)}, 0, 21},
        {"LZX:21 nothing but empty files", {{}, {}}, 0, 21},
        {"LZX:21 a period of 1,000 bytes over every frame's end", {Repeated(Noise(1000, 14), 200)}, 0, 21},
        {"LZX:15 repeats as far back as a match may reach", {Repeated(Noise(32765, 15), 3)}, 0, 15},
        {"LZX:15 repeats a byte farther than a match may reach", {Repeated(Noise(32766, 16), 3)}, 0, 15},
        {"LZX:16 pieces taken from three distances in turn", {RotatingPieces(250000, 17)}, 0, 16},
        {"LZX:21 runs of 256 to 259 equal bytes", {RunsAroundTheLongestMatch(17)}, 0, 21},
        {"LZX:17 records a byte or two apart", {RecordsBytesApart(150000, 19)}, 0, 17},
        {"LZX:21 megabytes of text, phrases from all over the window", {WordSoup(12u << 20, 18)}, 0, 21},
    };
}

} // namespace

TEST(CabWriter, RoundTripsThroughLibmspack)
{
    for (const RoundTripCase& c : RoundTripCases()) {
        SCOPED_TRACE(c.label);
        CabWriteOptions opt;
        opt.level = c.level;
        opt.lzxWindowBits = c.lzxWindowBits;
        std::vector<CabEntry> entries = MakeEntries(c.contents);
        entries.back().attribs = kAttrArchive | kAttrRun | kAttrHidden;
        Bytes cab = WriteCabinet(entries, opt);

        std::vector<Bytes> decoded = VerifyCabinet(cab, true);
        ASSERT_EQ(decoded.size(), c.contents.size());
        for (size_t i = 0; i < decoded.size(); ++i)
            EXPECT_EQ(decoded[i], c.contents[i]) << "entry " << i;

        CabInfo info = ReadCabinetDirectory(cab);
        ASSERT_EQ(info.files.size(), entries.size());
        ASSERT_EQ(info.folders.size(), 1u);
        EXPECT_EQ(info.folders[0].compression,
                  c.lzxWindowBits ? 3 | c.lzxWindowBits << 8 : c.level > 0 ? 1 : 0);
        EXPECT_EQ(info.flags, 0);
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(info.files[i].name, entries[i].name);
            EXPECT_EQ(info.files[i].size, c.contents[i].size());
            EXPECT_EQ(info.files[i].date, entries[i].date);
            EXPECT_EQ(info.files[i].time, entries[i].time);
            EXPECT_EQ(info.files[i].attribs, entries[i].attribs);
        }

        size_t total = 0;
        for (const Bytes& b : c.contents)
            total += b.size();
        std::vector<Block> blocks = DataBlocks(cab);
        ASSERT_EQ(blocks.size(), (total + 32767) / 32768);
        for (size_t i = 0; i < blocks.size(); ++i) {
            const Block& b = blocks[i];
            // Full blocks but the last: readers keep a 32 KB window in step.
            EXPECT_EQ(b.cbUncomp, i + 1 < blocks.size() ? 32768u : total - 32768 * i);
            EXPECT_LE(b.cbData, 32768u + 6144u);
            EXPECT_EQ(b.checksum, CabDataChecksum(&cab[b.dataAt], b.cbData, b.cbData, b.cbUncomp));
            EXPECT_NE(b.checksum, 0u);
            // LZX frames end on a 16-bit word.
            if (c.lzxWindowBits)
                EXPECT_EQ(b.cbData % 2, 0u) << "block " << i;
            else if (c.level > 0) {
                EXPECT_TRUE(cab[b.dataAt] == 'C' && cab[b.dataAt + 1] == 'K') << "block " << i;
            }
        }
    }
}

TEST(CabWriter, SameInputSameBytesWhateverTheThreads)
{
    std::vector<CabEntry> entries = MakeEntries({Pattern(300000, 1), Noise(90000, 2), Pattern(5, 3)});
    CabWriteOptions one;
    one.threads = 1;
    CabWriteOptions many;
    many.threads = 7;
    for (int lzx : {0, 15, 21}) {
        SCOPED_TRACE(lzx);
        one.lzxWindowBits = many.lzxWindowBits = lzx;
        Bytes a = WriteCabinet(entries, one);
        EXPECT_EQ(a, WriteCabinet(entries, many));
        EXPECT_EQ(a, WriteCabinet(entries, one));
    }
}

TEST(CabWriter, EachBlockUsesThePreviousAsDictionary)
{
    // 16 KB of noise four times: the second block starts with a copy of the
    // first block's end, which only the dictionary can point back to.
    Bytes noise = Noise(16384, 5);
    Bytes twice;
    for (int i = 0; i < 4; ++i)
        twice.insert(twice.end(), noise.begin(), noise.end());
    Bytes cab = WriteCabinet(MakeEntries({twice}), CabWriteOptions{});
    std::vector<Block> blocks = DataBlocks(cab);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_LT(blocks[1].cbData, 1000u);
    EXPECT_EQ(VerifyCabinet(cab, true).at(0), twice);
}

// Bits of an LZX frame as readers take them: 16-bit little-endian words,
// each from its top bit.
uint32_t FrameBits(const Bytes& frame, unsigned from, unsigned count)
{
    uint32_t v = 0;
    for (unsigned i = from; i < from + count; ++i)
        v = v << 1 | ((GetU16(&frame[i / 16 * 2]) >> (15 - i % 16)) & 1);
    return v;
}

std::vector<Bytes> LzxFrames(const Bytes& data, int windowBits, bool translate)
{
    LzxCompressor lzx(windowBits, translate);
    std::vector<Bytes> frames;
    auto emit = [&](const unsigned char* p, size_t n, size_t uncompressed) {
        EXPECT_EQ(uncompressed, std::min<size_t>(32768, data.size() - 32768 * frames.size()));
        frames.emplace_back(p, p + n);
    };
    for (size_t at = 0; at < data.size(); at += 32768)
        lzx.Compress(&data[at], std::min<size_t>(32768, data.size() - at), emit);
    lzx.Finish(emit);
    EXPECT_EQ(frames.size(), (data.size() + 32767) / 32768);
    return frames;
}

size_t TotalSize(const std::vector<Bytes>& frames)
{
    size_t n = 0;
    for (const Bytes& f : frames)
        n += f.size();
    return n;
}

TEST(LzxCompressor, BlocksAreTheSmallerKindAndCoverWholeFrames)
{
    // Records of 8 bytes from a pool: matches 8 bytes apart, whose offsets'
    // low bits an aligned-offset block codes in fewer than 3 bits.
    Bytes pool = Noise(8 * 3000, 20), records;
    Bytes picks = Noise(20000, 21);
    for (size_t i = 0; i + 1 < picks.size(); i += 2) {
        size_t r = GetU16(&picks[i]) % 3000;
        records.insert(records.end(), pool.begin() + 8 * r, pool.begin() + 8 * r + 8);
    }
    Bytes noiseThenText = Noise(65536, 24);
    Bytes text = Pattern(65536, 25);
    noiseThenText.insert(noiseThenText.end(), text.begin(), text.end());
    struct Case {
        const char* label;
        Bytes data;
        uint32_t firstType; // 1 verbatim, 2 aligned offsets
        size_t firstFrames; // frames the first block covers, 0: all
        uint32_t secondType;
    };
    for (const Case& c : std::vector<Case>{{"records", records, 2, 1, 2},
                                           {"noise", Noise(70000, 22), 1, 0, 0},
                                           {"text", Pattern(70000, 23), 1, 0, 0},
                                           {"noise, then text", noiseThenText, 1, 2, 1}}) {
        SCOPED_TRACE(c.label);
        std::vector<Bytes> frames = LzxFrames(c.data, 21, true);
        ASSERT_GE(frames.size(), 2u);
        // The stream header: the E8 bit and the translation size.
        EXPECT_EQ(FrameBits(frames[0], 0, 1), 1u);
        EXPECT_EQ(FrameBits(frames[0], 1, 16) << 16 | FrameBits(frames[0], 17, 16), kLzxTranslationSize);
        EXPECT_EQ(FrameBits(frames[0], 33, 3), c.firstType);
        // A block ends where a frame ends.
        const size_t firstLen = c.firstFrames ? 32768 * c.firstFrames : c.data.size();
        EXPECT_EQ(FrameBits(frames[0], 36, 24), firstLen);
        if (c.firstFrames) {
            EXPECT_EQ(FrameBits(frames[c.firstFrames], 0, 3), c.secondType);
            EXPECT_EQ(FrameBits(frames[c.firstFrames], 3, 24), c.data.size() - firstLen);
        }
        CabWriteOptions opt;
        opt.lzxWindowBits = 21;
        EXPECT_EQ(VerifyCabinet(WriteCabinet(MakeEntries({c.data}), opt), true).at(0), c.data);
    }
}

TEST(LzxCompressor, CallTranslationMakesCodeSmaller)
{
    Bytes code = CallHeavyCode(300000, 30);
    EXPECT_LT(TotalSize(LzxFrames(code, 21, true)) * 100, TotalSize(LzxFrames(code, 21, false)) * 97);
    // Without calls it changes nothing.
    Bytes text = Pattern(100000, 31);
    EXPECT_EQ(TotalSize(LzxFrames(text, 21, true)), TotalSize(LzxFrames(text, 21, false)) + 4);
    EXPECT_TRUE(LzxCanTranslate(1ull << 30));
    EXPECT_FALSE(LzxCanTranslate((1ull << 30) + 1));
}

TEST(LzxCompressor, FramesAreWholeButTheLast)
{
    Bytes data = Pattern(32769, 40);
    size_t emitted = 0;
    auto emit = [&](const unsigned char*, size_t, size_t) { ++emitted; };
    LzxCompressor lzx(15, true);
    EXPECT_THROW(lzx.Compress(data.data(), 32769, emit), ToolError);
    EXPECT_THROW(lzx.Compress(data.data(), 0, emit), ToolError);
    lzx.Compress(data.data(), 32768, emit);
    lzx.Compress(data.data(), 100, emit);
    // The short frame ends the stream: its block is written at once.
    EXPECT_EQ(emitted, 2u);
    EXPECT_THROW(lzx.Compress(data.data(), 100, emit), ToolError);
    EXPECT_THROW(LzxCompressor(14, true), ToolError);
    EXPECT_THROW(LzxCompressor(22, true), ToolError);
}

TEST(CabWriter, HigherLevelIsNotLarger)
{
    std::vector<CabEntry> entries = MakeEntries({Pattern(200000, 9), Noise(10000, 1)});
    CabWriteOptions fast;
    fast.level = 1;
    EXPECT_LE(WriteCabinet(entries, CabWriteOptions{}).size(), WriteCabinet(entries, fast).size());
}

TEST(CabWriter, DamagedDataIsFoundByTheChecksum)
{
    Bytes cab = WriteCabinet(MakeEntries({Pattern(70000, 2)}), CabWriteOptions{});
    std::vector<Block> blocks = DataBlocks(cab);
    Bytes bad = cab;
    bad[blocks[1].dataAt + 10] ^= 0x55;
    EXPECT_THROW(VerifyCabinet(bad, false), ToolError);
    // A stream that decodes without a fault to other bytes than went in
    // (what a faulty encoder would write, checksums and all) is found by
    // the CRC-32 of each entry, which the writer checks after writing.
    const Bytes a = Pattern(70000, 2), b = Pattern(100, 3);
    const Bytes two = WriteCabinet(MakeEntries({a, b}), CabWriteOptions{});
    std::vector<uint32_t> crcs = {static_cast<uint32_t>(crc32(0, a.data(), static_cast<uInt>(a.size()))),
                                  static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())))};
    EXPECT_NO_THROW(VerifyCabinet(BufferSource(two), &crcs));
    crcs[1] ^= 1;
    try {
        VerifyCabinet(BufferSource(two), &crcs);
        ADD_FAILURE();
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("entry 2 ("), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("decodes to other bytes than went in"), std::string::npos) << e.what();
    }
}

TEST(CabWriter, WritesTheAttributesItIsGivenUtf8FlagIncluded)
{
    std::vector<CabEntry> entries = MakeEntries({Pattern(10, 1), Bytes()});
    entries[0].attribs = 0xFF;
    CabInfo info = ReadCabinetDirectory(WriteCabinet(entries, CabWriteOptions{}));
    EXPECT_EQ(info.files[0].attribs, 0xFF);
}

TEST(CabWriter, RefusesWhatACabinetCannotHold)
{
    // Sizes as a folder walk reports them: refused before any file is read
    // (none of these exists).
    auto sized = [](std::vector<uint64_t> sizes) {
        std::vector<CabEntry> e;
        for (uint64_t size : sizes) {
            CabEntry x;
            x.name = "f" + std::to_string(e.size()) + ".bin";
            x.sourcePath = "/nonexistent/" + x.name;
            x.size = size;
            e.push_back(x);
        }
        return e;
    };
    std::vector<CabEntry> named = MakeEntries({Pattern(10, 1)});
    struct Case {
        const char* label;
        std::vector<CabEntry> entries;
        int level;
        std::string message;
    };
    std::vector<Case> cases = {
        {"no entry", {}, 6, "at least one file"},
        {"empty name", named, 6, "cannot store the name"},
        {"name of 256 bytes", named, 6, "cannot store the name"},
        {"level 10", named, 10, "compression level must be 0 to 9"},
        {"65536 files", sized(std::vector<uint64_t>(65536, 0)), 6, "a cabinet holds at most 65535"},
        {"one 3 GB file", sized({3ull << 30}), 6, "more than one cabinet holds (2 GB)"},
        {"two files over 2 GB together", sized({0x40000000, 0x40000000}), 6, "more than one cabinet holds"},
        {"a file that is gone", sized({10}), 6, "missing file: /nonexistent/f0.bin"},
    };
    cases[1].entries[0].name = "";
    cases[2].entries[0].name = std::string(256, 'a');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CabWriteOptions opt;
        opt.level = c.level;
        try {
            WriteCabinet(c.entries, opt);
            ADD_FAILURE() << "written";
        } catch (const ToolError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(CabReader, RefusesBrokenHeaders)
{
    Bytes cab = WriteCabinet(MakeEntries({Pattern(1000, 1), Pattern(10, 2)}), CabWriteOptions{});
    struct Case {
        const char* label;
        Bytes bytes;
    };
    Bytes badSig = cab;
    badSig[0] = 'X';
    Bytes cut(cab.begin(), cab.begin() + 50);
    Bytes longer = cab;
    longer.push_back(0);
    Bytes badVersion = cab;
    badVersion[25] = 2;
    Bytes badFolder = cab;
    badFolder[36 + 8 + 8] = 5; // first CFFILE's iFolder
    for (const Case& c : std::vector<Case>{{"signature", badSig},
                                           {"cut short", cut},
                                           {"size field", longer},
                                           {"version", badVersion},
                                           {"folder index", badFolder}}) {
        SCOPED_TRACE(c.label);
        EXPECT_THROW(ReadCabinetDirectory(c.bytes), ToolError);
    }
    EXPECT_THROW(VerifyCabinet(badSig, false), ToolError);
}

TEST(DosDateTime, FixedOffsetClampedToTheDosRange)
{
    // The environment's zone must not matter.
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    struct Case {
        int64_t unix;
        int offset;
        uint16_t date, time;
    };
    for (const Case& c : std::vector<Case>{
             {946684800, 0, 20 << 9 | 1 << 5 | 1, 0},                         // 2000-01-01 00:00:00
             {1796651159, 0, 46 << 9 | 12 << 5 | 7, 13 << 11 | 45 << 5 | 29}, // 2026-12-07 13:45:59, odd second
             {0, 0, 0x21, 0},                                                  // 1970: before DOS time
             {4354819200LL, 0, 127 << 9 | 12 << 5 | 31, 23 << 11 | 59 << 5 | 29}, // 2108
             {946684800, -300, 19 << 9 | 12 << 5 | 31, 19 << 11},              // 1999-12-31 19:00:00
             {1700000000, 540, 43 << 9 | 11 << 5 | 15, 7 << 11 | 13 << 5 | 10}, // 2023-11-15 07:13:20
         }) {
        uint16_t d = 0, t = 0;
        DosDateTime(c.unix, c.offset, d, t);
        EXPECT_EQ(d, c.date) << c.unix << " at " << c.offset;
        EXPECT_EQ(t, c.time) << c.unix << " at " << c.offset;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
