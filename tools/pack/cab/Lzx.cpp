#include "tools/pack/cab/Lzx.h"

#include <algorithm>
#include <cstring>

#include "package/LittleEndian.h"
#include "tools/pack/cab/Mszip.h"
#include "tools/pack/ToolError.h"

namespace {

constexpr size_t kFrameSize = kCabBlockSize;
constexpr uint64_t kMaxTranslatedFrames = 32768;
constexpr int kNumChars = 256;
constexpr uint32_t kMinMatch = 2;
constexpr uint32_t kMaxMatch = 257;
constexpr uint32_t kPrimaryLengths = 7;
constexpr int kSecondaryLengths = 249;
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int kMaxSlots = 50;
constexpr int kMaxMainSymbols = kNumChars + kMaxSlots * 8;
constexpr int kMaxCodeBits = 16;
constexpr uint32_t kBlockVerbatim = 1, kBlockAligned = 2;
constexpr int kSlotsByWindow[] = {30, 32, 34, 36, 38, 42, 50};

// Match finder effort: chain links followed per position, and the length
// at which the search stops looking for a longer match. Chains are of
// 4-byte prefixes: in a 2 MB window, chains of 3-byte ones are long with
// matches too short to pay for their offsets (repeated offsets, checked
// apart, still find short matches). Measured on x86-64 programs, longer
// chains gain well under 1% for twice the time.
constexpr int kHashBits = 18;
constexpr uint32_t kHashBytes = 4;
constexpr int kMaxChain = 24;
constexpr uint32_t kNiceLength = 48;
// A match this long is taken without looking one byte further; a shorter
// one is put off for a literal and the next position's match when that
// saves this many bits more.
constexpr uint32_t kLazyEnough = 48;
constexpr int kLazyMargin = 4;

struct SlotTables {
    uint32_t base[kMaxSlots];
    uint8_t extra[kMaxSlots];
    SlotTables()
    {
        uint32_t b = 0;
        for (int i = 0; i < kMaxSlots; ++i) {
            extra[i] = static_cast<uint8_t>(i < 4 ? 0 : std::min(i / 2 - 1, 17));
            base[i] = b;
            b += 1u << extra[i];
        }
    }
};
const SlotTables kSlots;

// Slot of a formatted offset (match offset + 2; 0 to 2 are the repeated
// offsets). Two slots per power of two up to 2^18, then one per 2^17.
int SlotOf(uint32_t f)
{
    if (f < 4)
        return static_cast<int>(f);
    if (f >= kSlots.base[36])
        return 36 + static_cast<int>((f - kSlots.base[36]) >> 17);
    int high = 31 - __builtin_clz(f);
    return 2 * high + static_cast<int>((f >> (high - 1)) & 1);
}

// Bits in 16-bit little-endian words, each filled from its top bit.
class BitWriter {
public:
    explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
    void Put(uint32_t value, int n)
    {
        acc_ = acc_ << n | value;
        bits_ += n;
        while (bits_ >= 16) {
            bits_ -= 16;
            const uint32_t word = static_cast<uint32_t>(acc_ >> bits_) & 0xFFFF;
            out_.push_back(static_cast<unsigned char>(word));
            out_.push_back(static_cast<unsigned char>(word >> 8));
        }
    }
    // A frame ends on a word boundary.
    void Flush()
    {
        if (bits_ > 0)
            Put(0, 16 - bits_);
    }

private:
    std::vector<unsigned char>& out_;
    uint64_t acc_ = 0;
    int bits_ = 0;
};

// Huffman code lengths for freq, none above maxBits. Readers accept only
// complete codes, so at least two symbols get one.
void BuildLengths(const uint32_t* freq, int n, int maxBits, uint8_t* lens)
{
    std::vector<uint32_t> f(freq, freq + n);
    int used = 0;
    for (int i = 0; i < n; ++i)
        used += f[i] > 0;
    for (int i = 0; i < n && used < 2; ++i)
        if (f[i] == 0) {
            f[i] = 1;
            ++used;
        }
    std::vector<std::pair<uint32_t, int>> leaves;
    std::vector<uint64_t> weight;
    std::vector<int> parent, depth;
    for (;;) {
        leaves.clear();
        for (int i = 0; i < n; ++i)
            if (f[i] > 0)
                leaves.emplace_back(f[i], i);
        std::sort(leaves.begin(), leaves.end());
        const int m = static_cast<int>(leaves.size());
        weight.assign(2 * m - 1, 0);
        parent.assign(2 * m - 1, 0);
        depth.assign(2 * m - 1, 0);
        for (int i = 0; i < m; ++i)
            weight[i] = leaves[i].first;
        // Two queues: the sorted leaves, and inner nodes in the order made.
        int leaf = 0, inner = m;
        for (int next = m; next < 2 * m - 1; ++next) {
            for (int k = 0; k < 2; ++k) {
                int pick = (leaf < m && (inner >= next || weight[leaf] <= weight[inner])) ? leaf++ : inner++;
                weight[next] += weight[pick];
                parent[pick] = next;
            }
        }
        int longest = 0;
        for (int i = 2 * m - 3; i >= 0; --i) {
            depth[i] = depth[parent[i]] + 1;
            longest = std::max(longest, depth[i]);
        }
        if (longest <= maxBits) {
            std::fill(lens, lens + n, 0);
            for (int i = 0; i < m; ++i)
                lens[leaves[i].second] = static_cast<uint8_t>(depth[i]);
            return;
        }
        // Flatter counts until the code fits.
        for (uint32_t& x : f)
            if (x > 0)
                x = (x >> 1) | 1;
    }
}

// Canonical codes, shorter first and in symbol order within a length.
void CodesFromLengths(const uint8_t* lens, int n, uint16_t* codes)
{
    uint32_t count[kMaxCodeBits + 1] = {}, next[kMaxCodeBits + 2] = {};
    for (int i = 0; i < n; ++i)
        ++count[lens[i]];
    count[0] = 0;
    uint32_t code = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int i = 0; i < n; ++i)
        codes[i] = lens[i] ? static_cast<uint16_t>(next[lens[i]]++) : 0;
}

struct Code {
    uint8_t lens[kMaxMainSymbols] = {};
    uint16_t codes[kMaxMainSymbols] = {};
    void Build(const uint32_t* freq, int n, int maxBits)
    {
        BuildLengths(freq, n, maxBits, lens);
        CodesFromLengths(lens, n, codes);
    }
    void Put(BitWriter& w, int sym) const { w.Put(codes[sym], lens[sym]); }
};

// A tree's lengths as changes from the previous block's (the pretree): a
// symbol 0-16 is the change mod 17, 17 and 18 are runs of zeros, 19 a run
// of one length.
void WriteLengths(BitWriter& w, const uint8_t* lens, const uint8_t* prev, int count)
{
    struct Token {
        uint8_t sym, extraBits;
        uint8_t extra;
        int8_t delta; // the symbol after a 19, else -1
    };
    std::vector<Token> tokens;
    auto change = [&](int i) { return static_cast<uint8_t>((prev[i] - lens[i] + 17) % 17); };
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && lens[i + run] == lens[i])
            ++run;
        if (lens[i] == 0 && run >= 20) {
            run = std::min(run, 51);
            tokens.push_back({18, 5, static_cast<uint8_t>(run - 20), -1});
        } else if (lens[i] == 0 && run >= 4) {
            run = std::min(run, 19);
            tokens.push_back({17, 4, static_cast<uint8_t>(run - 4), -1});
        } else if (run >= 4) {
            run = std::min(run, 5);
            tokens.push_back({19, 1, static_cast<uint8_t>(run - 4), static_cast<int8_t>(change(i))});
        } else {
            run = 1;
            tokens.push_back({change(i), 0, 0, -1});
        }
        i += run;
    }
    uint32_t freq[kPretreeSymbols] = {};
    for (const Token& t : tokens) {
        ++freq[t.sym];
        if (t.delta >= 0)
            ++freq[t.delta];
    }
    Code pre;
    pre.Build(freq, kPretreeSymbols, 15);
    for (int i = 0; i < kPretreeSymbols; ++i)
        w.Put(pre.lens[i], 4);
    for (const Token& t : tokens) {
        pre.Put(w, t.sym);
        w.Put(t.extra, t.extraBits);
        if (t.delta >= 0)
            pre.Put(w, t.delta);
    }
}

uint32_t Hash(const unsigned char* p)
{
    return (GetU32(p) * 2654435761u) >> (32 - kHashBits);
}

uint32_t MatchLength(const unsigned char* a, const unsigned char* b, uint32_t limit)
{
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// A literal (len 0) or a match: f is the formatted offset, 0 to 2 naming a
// repeated offset.
struct Item {
    uint32_t len;
    uint32_t f;
    unsigned char literal;
};

void TranslateCalls(unsigned char* p, size_t len, uint64_t framePos)
{
    if (len <= 10)
        return;
    const int64_t size = kLzxTranslationSize;
    const int64_t base = static_cast<int64_t>(framePos);
    for (size_t i = 0; i < len - 10;) {
        if (p[i] != 0xE8) {
            ++i;
            continue;
        }
        // Readers map an absolute target in [-pos, size) back to relative.
        const int64_t cur = base + static_cast<int64_t>(i);
        const int64_t rel = static_cast<int32_t>(GetU32(p + i + 1));
        int64_t abs = rel;
        if (rel >= -cur && rel < size - cur)
            abs = rel + cur;
        else if (rel >= size - cur && rel < size)
            abs = rel - size;
        PutU32(p + i + 1, static_cast<uint32_t>(abs));
        i += 5;
    }
}

} // namespace

bool LzxCanTranslate(uint64_t folderBytes) { return folderBytes <= kMaxTranslatedFrames * kFrameSize; }

struct LzxCompressor::State {
    uint32_t window;
    int mainSymbols;
    bool translate;
    bool headerWritten = false;
    bool ended = false;      // a short frame was the last
    std::vector<unsigned char> buf;
    uint64_t bufStart = 0;   // stream position of buf[0]
    std::vector<uint32_t> head, prev; // stream positions + 1, 0 for none
    uint64_t inserted = 0;   // positions below this are in the chains
    uint64_t end = 0;        // stream bytes in buf
    uint32_t R[3] = {1, 1, 1};
    uint8_t mainPrev[kMaxMainSymbols] = {}, lengthPrev[kSecondaryLengths] = {};
    std::vector<Item> items;
    // Costs in bits while parsing a frame, from the code lengths of the one
    // before: literals, match symbols (slot * 8 + length header), lengths.
    uint8_t literalBits[kNumChars], matchBits[kMaxMainSymbols - kNumChars], lengthBits[kSecondaryLengths];
    std::vector<uint32_t> literalSum; // literal bits from the frame start
    uint64_t frameStart = 0;

    void StartCosts(uint64_t from, uint64_t to)
    {
        // The first frame has no codes before it: guesses.
        const bool first = std::count(mainPrev, mainPrev + kNumChars, 0) == kNumChars;
        for (int i = 0; i < kNumChars; ++i)
            literalBits[i] = first ? 8 : mainPrev[i] ? mainPrev[i] : 12;
        for (int i = 0; i < mainSymbols - kNumChars; ++i)
            matchBits[i] = first ? (i < 24 ? 7 : 9) : mainPrev[kNumChars + i] ? mainPrev[kNumChars + i] : 12;
        for (int i = 0; i < kSecondaryLengths; ++i)
            lengthBits[i] = first ? 5 : lengthPrev[i] ? lengthPrev[i] : 10;
        frameStart = from;
        literalSum.resize(to - from + 1);
        literalSum[0] = 0;
        for (uint64_t p = from; p < to; ++p)
            literalSum[p - from + 1] = literalSum[p - from] + literalBits[*At(p)];
    }

    // Bits a match at p saves against literals.
    int Gain(uint64_t p, uint32_t len, uint32_t f) const
    {
        const int slot = SlotOf(f);
        const uint32_t header = std::min(len - kMinMatch, kPrimaryLengths);
        int cost = matchBits[slot * 8 + header] + kSlots.extra[slot];
        if (header == kPrimaryLengths)
            cost += lengthBits[len - kMinMatch - kPrimaryLengths];
        return static_cast<int>(literalSum[p + len - frameStart] - literalSum[p - frameStart]) - cost;
    }

    const unsigned char* At(uint64_t p) const { return buf.data() + (p - bufStart); }

    void Append(const unsigned char* in, size_t len)
    {
        if (end - bufStart + len > buf.size()) {
            const uint64_t keep = std::min<uint64_t>(end - bufStart, window);
            std::memmove(buf.data(), buf.data() + (end - keep - bufStart), keep);
            bufStart = end - keep;
        }
        std::memcpy(buf.data() + (end - bufStart), in, len);
        if (translate && end / kFrameSize < kMaxTranslatedFrames)
            TranslateCalls(buf.data() + (end - bufStart), len, end);
        end += len;
    }

    void InsertUpTo(uint64_t p)
    {
        const uint64_t last = std::min(p, end >= kHashBytes ? end - (kHashBytes - 1) : 0);
        for (; inserted < last; ++inserted) {
            uint32_t& h = head[Hash(At(inserted))];
            prev[inserted & (window - 1)] = h;
            h = static_cast<uint32_t>(inserted + 1);
        }
    }

    // The longest match at p of kHashBytes or more, within maxLen.
    uint32_t FindMatch(uint64_t p, uint32_t maxLen, uint32_t& offset)
    {
        const uint64_t reach = std::min<uint64_t>(p, window - 3);
        const unsigned char* s = At(p);
        uint32_t best = 0;
        uint32_t link = head[Hash(s)];
        for (int chain = kMaxChain; link && chain > 0; --chain) {
            const uint64_t c = link - 1;
            if (p - c > reach)
                break;
            const unsigned char* t = At(c);
            if (t[best] == s[best]) {
                uint32_t len = MatchLength(s, t, maxLen);
                if (len > best) {
                    best = len;
                    offset = static_cast<uint32_t>(p - c);
                    if (len >= std::min(maxLen, kNiceLength))
                        break;
                }
            }
            link = prev[c & (window - 1)];
        }
        return best >= kHashBytes ? best : 0;
    }

    struct Choice {
        uint32_t len = 0, f = 0;
        int gain = 0;
    };

    Choice Best(uint64_t p, uint64_t frameEnd)
    {
        InsertUpTo(p);
        Choice best;
        const uint32_t maxLen = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, frameEnd - p));
        if (maxLen < kMinMatch)
            return best;
        const unsigned char* s = At(p);
        for (uint32_t r = 0; r < 3; ++r) {
            if (R[r] > p)
                continue;
            uint32_t len = MatchLength(s, s - R[r], maxLen);
            if (len >= kMinMatch && Gain(p, len, r) > best.gain)
                best = {len, r, Gain(p, len, r)};
        }
        uint32_t offset = 0;
        if (maxLen >= kHashBytes) {
            if (uint32_t len = FindMatch(p, maxLen, offset)) {
                if (Gain(p, len, offset + 2) > best.gain)
                    best = {len, offset + 2, Gain(p, len, offset + 2)};
            }
        }
        return best;
    }

    void UseMatch(uint32_t f)
    {
        if (f == 1)
            std::swap(R[0], R[1]);
        else if (f == 2)
            std::swap(R[0], R[2]);
        else if (f > 2) {
            R[2] = R[1];
            R[1] = R[0];
            R[0] = f - 2;
        }
    }

    // Lazy matching, matches weighed by the bits they save against the
    // previous frame's codes.
    void Parse(uint64_t from, uint64_t to, bool literalsOnly)
    {
        items.clear();
        if (literalsOnly) {
            for (uint64_t p = from; p < to; ++p)
                items.push_back({0, 0, *At(p)});
            InsertUpTo(to);
            return;
        }
        StartCosts(from, to);
        uint64_t p = from;
        Choice cur = Best(p, to);
        while (p < to) {
            if (cur.len == 0 || cur.gain <= 0) {
                items.push_back({0, 0, *At(p)});
                cur = Best(++p, to);
                continue;
            }
            if (cur.len < kLazyEnough && p + 1 < to) {
                Choice next = Best(p + 1, to);
                if (next.gain > cur.gain + kLazyMargin) {
                    items.push_back({0, 0, *At(p)});
                    ++p;
                    cur = next;
                    continue;
                }
            }
            items.push_back({cur.len, cur.f, 0});
            UseMatch(cur.f);
            p += cur.len;
            cur = Best(p, to);
        }
        InsertUpTo(to);
    }

    void Encode(size_t frameLen, std::vector<unsigned char>& out)
    {
        uint32_t mainFreq[kMaxMainSymbols] = {}, lengthFreq[kSecondaryLengths] = {}, alignedFreq[kAlignedSymbols] = {};
        uint64_t alignedOffsets = 0;
        for (const Item& it : items) {
            if (it.len == 0) {
                ++mainFreq[it.literal];
                continue;
            }
            const int slot = SlotOf(it.f);
            const uint32_t header = std::min(it.len - kMinMatch, kPrimaryLengths);
            ++mainFreq[kNumChars + slot * 8 + header];
            if (header == kPrimaryLengths)
                ++lengthFreq[it.len - kMinMatch - kPrimaryLengths];
            if (kSlots.extra[slot] >= 3) {
                ++alignedFreq[(it.f - kSlots.base[slot]) & 7];
                ++alignedOffsets;
            }
        }
        Code main, length, aligned;
        main.Build(mainFreq, mainSymbols, kMaxCodeBits);
        // A frame without long matches keeps the last length tree: its
        // changes cost a few bits, a new dummy tree more.
        if (std::count(lengthFreq, lengthFreq + kSecondaryLengths, 0u) == kSecondaryLengths &&
            std::count(lengthPrev, lengthPrev + kSecondaryLengths, 0) != kSecondaryLengths) {
            std::copy(lengthPrev, lengthPrev + kSecondaryLengths, length.lens);
            CodesFromLengths(length.lens, kSecondaryLengths, length.codes);
        } else {
            length.Build(lengthFreq, kSecondaryLengths, kMaxCodeBits);
        }
        // Aligned-offset blocks code the low 3 bits of longer offsets
        // instead of writing them: worth it when they are skewed.
        bool useAligned = false;
        if (alignedOffsets > 0) {
            aligned.Build(alignedFreq, kAlignedSymbols, 7);
            uint64_t bits = 3 * kAlignedSymbols;
            for (int i = 0; i < kAlignedSymbols; ++i)
                bits += uint64_t(alignedFreq[i]) * aligned.lens[i];
            useAligned = bits < 3 * alignedOffsets;
        }

        BitWriter w(out);
        if (!headerWritten) {
            w.Put(translate ? 1 : 0, 1);
            if (translate) {
                w.Put(kLzxTranslationSize >> 16, 16);
                w.Put(kLzxTranslationSize & 0xFFFF, 16);
            }
        }
        w.Put(useAligned ? kBlockAligned : kBlockVerbatim, 3);
        w.Put(static_cast<uint32_t>(frameLen >> 8), 16);
        w.Put(static_cast<uint32_t>(frameLen & 0xFF), 8);
        if (useAligned)
            for (int i = 0; i < kAlignedSymbols; ++i)
                w.Put(aligned.lens[i], 3);
        WriteLengths(w, main.lens, mainPrev, kNumChars);
        WriteLengths(w, main.lens + kNumChars, mainPrev + kNumChars, mainSymbols - kNumChars);
        WriteLengths(w, length.lens, lengthPrev, kSecondaryLengths);
        std::copy(main.lens, main.lens + mainSymbols, mainPrev);
        std::copy(length.lens, length.lens + kSecondaryLengths, lengthPrev);

        for (const Item& it : items) {
            if (it.len == 0) {
                main.Put(w, it.literal);
                continue;
            }
            const int slot = SlotOf(it.f);
            const uint32_t header = std::min(it.len - kMinMatch, kPrimaryLengths);
            main.Put(w, kNumChars + slot * 8 + static_cast<int>(header));
            if (header == kPrimaryLengths)
                length.Put(w, static_cast<int>(it.len - kMinMatch - kPrimaryLengths));
            const int extra = kSlots.extra[slot];
            const uint32_t footer = it.f - kSlots.base[slot];
            if (useAligned && extra >= 3) {
                w.Put(footer >> 3, extra - 3);
                aligned.Put(w, static_cast<int>(footer & 7));
            } else if (extra > 0) {
                w.Put(footer, extra);
            }
        }
        w.Flush();
    }
};

LzxCompressor::LzxCompressor(int windowBits, bool translateCalls) : s_(std::make_unique<State>())
{
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits)
        throw ToolError("the LZX window is 15 to 21 bits");
    s_->window = 1u << windowBits;
    s_->mainSymbols = kNumChars + kSlotsByWindow[windowBits - kLzxMinWindowBits] * 8;
    s_->translate = translateCalls;
    s_->buf.resize(2 * size_t(s_->window));
    s_->head.assign(size_t(1) << kHashBits, 0);
    s_->prev.assign(s_->window, 0);
}

LzxCompressor::~LzxCompressor() = default;

void LzxCompressor::Compress(const unsigned char* in, size_t len, std::vector<unsigned char>& out)
{
    State& s = *s_;
    if (len == 0 || len > kFrameSize || s.ended)
        throw ToolError("LZX frames are 32768 bytes, only the last one shorter");
    s.ended = len < kFrameSize;
    const uint64_t from = s.end;
    s.Append(in, len);

    // A frame that would not fit a data block goes out as literals.
    const uint32_t R[3] = {s.R[0], s.R[1], s.R[2]};
    uint8_t mainPrev[kMaxMainSymbols], lengthPrev[kSecondaryLengths];
    std::copy(s.mainPrev, s.mainPrev + kMaxMainSymbols, mainPrev);
    std::copy(s.lengthPrev, s.lengthPrev + kSecondaryLengths, lengthPrev);
    out.clear();
    s.Parse(from, s.end, false);
    s.Encode(len, out);
    if (out.size() > kMaxCompressedBlock) {
        std::copy(R, R + 3, s.R);
        std::copy(mainPrev, mainPrev + kMaxMainSymbols, s.mainPrev);
        std::copy(lengthPrev, lengthPrev + kSecondaryLengths, s.lengthPrev);
        out.clear();
        s.Parse(from, s.end, true);
        s.Encode(len, out);
    }
    s.headerWritten = true;
}
