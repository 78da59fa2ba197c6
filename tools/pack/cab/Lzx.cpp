#include "tools/pack/cab/Lzx.h"

#include <algorithm>
#include <cstring>
#include <thread>

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

// Match finder: per 4-byte prefix, a binary tree of the window's positions
// ordered by what follows them, so each position finds its longest matches
// of every length in few steps; a table of 3-byte prefixes adds the nearest
// 3-byte match. kTreeDepth bounds the nodes visited per position: on
// programs, 64 or 80 gained under 0.05% and 20 lost 0.2%.
constexpr int kHashBits = 19;
constexpr int kHash3Bits = 14;
constexpr uint32_t kHashBytes = 4;
constexpr uint32_t kMinFound = 3;
constexpr int kTreeDepth = 40;
// A match this long is taken as it is, without weighing what else could
// cover its bytes: long matches are where weighing costs most and gains least.
constexpr uint32_t kNiceLength = 128;
// A block covers up to this many frames, as long as one code for them
// costs less than a code of their own for the last one (4 and 16 measured
// within 0.1% of 8).
constexpr size_t kMaxBlockFrames = 8;
// Each frame is parsed twice: with the codes before it, then with the codes
// that parse gave, and the smaller result kept (a third pass gained 0.1%
// for a quarter more time).
constexpr int kParsePasses = 2;
// After a match, the same offset is tried again past this many literals at
// most: records that differ in a byte or two (1 gave 0.3% less on
// programs, 3 to 5 no more than 2).
constexpr uint32_t kLitsBetween = 2;
// The farthest one step of the parse reaches: a match, those literals and a
// match again.
constexpr uint32_t kFarthestStep = kMaxMatch + kLitsBetween + kMaxMatch;

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
    uint64_t Bits() const { return out_.size() * 8 + static_cast<uint64_t>(bits_); }
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

uint32_t Hash3(const unsigned char* p)
{
    // Three bytes alone: a fourth may be past the data.
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHash3Bits);
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

struct Match {
    uint32_t len, offset;
};

// Bits each symbol costs while parsing: main tree (literals, then slot * 8 +
// length header) and length tree.
struct Costs {
    uint8_t main[kMaxMainSymbols];
    uint8_t length[kSecondaryLengths];

    // From a frame's code lengths. A symbol the code left out costs less
    // than a rare one: taking it once gives it a length of its own
    // (measured on programs and mixed files, 13 and 10 bits gave 0.1 to
    // 0.2% more than 10 and 8).
    void From(const uint8_t* mainLens, const uint8_t* lengthLens)
    {
        for (int i = 0; i < kMaxMainSymbols; ++i)
            main[i] = mainLens[i] ? mainLens[i] : 10;
        for (int i = 0; i < kSecondaryLengths; ++i)
            length[i] = lengthLens[i] ? lengthLens[i] : 8;
    }
    // Guesses for the first frame, which has no codes before it.
    void Guess()
    {
        std::fill(main, main + kNumChars, 8);
        for (int i = kNumChars; i < kMaxMainSymbols; ++i)
            main[i] = i < kNumChars + 24 ? 7 : 9;
        std::fill(length, length + kSecondaryLengths, 5);
    }
};

// Symbol counts of a frame's items, and the bits written beside them.
struct Counts {
    uint32_t main[kMaxMainSymbols] = {}, length[kSecondaryLengths] = {}, aligned[kAlignedSymbols] = {};
    uint64_t alignedOffsets = 0, extraBits = 0;

    void Add(const std::vector<Item>& items)
    {
        for (const Item& it : items) {
            if (it.len == 0) {
                ++main[it.literal];
                continue;
            }
            const int slot = SlotOf(it.f);
            const uint32_t header = std::min(it.len - kMinMatch, kPrimaryLengths);
            ++main[kNumChars + slot * 8 + header];
            if (header == kPrimaryLengths)
                ++length[it.len - kMinMatch - kPrimaryLengths];
            extraBits += kSlots.extra[slot];
            if (kSlots.extra[slot] >= 3) {
                ++aligned[(it.f - kSlots.base[slot]) & 7];
                ++alignedOffsets;
            }
        }
    }
    void Add(const Counts& o)
    {
        for (int i = 0; i < kMaxMainSymbols; ++i)
            main[i] += o.main[i];
        for (int i = 0; i < kSecondaryLengths; ++i)
            length[i] += o.length[i];
        for (int i = 0; i < kAlignedSymbols; ++i)
            aligned[i] += o.aligned[i];
        alignedOffsets += o.alignedOffsets;
        extraBits += o.extraBits;
    }
};

// A block's codes.
struct Trees {
    Code main, length, aligned;
    bool useAligned = false;

    void Build(const Counts& c, int mainSymbols, const uint8_t* lengthPrev)
    {
        main.Build(c.main, mainSymbols, kMaxCodeBits);
        // A block without long matches keeps the last length tree: its
        // changes cost a few bits, a new dummy tree more.
        if (std::count(c.length, c.length + kSecondaryLengths, 0u) == kSecondaryLengths &&
            std::count(lengthPrev, lengthPrev + kSecondaryLengths, 0) != kSecondaryLengths) {
            std::copy(lengthPrev, lengthPrev + kSecondaryLengths, length.lens);
            CodesFromLengths(length.lens, kSecondaryLengths, length.codes);
        } else {
            length.Build(c.length, kSecondaryLengths, kMaxCodeBits);
        }
        // Aligned-offset blocks code the low 3 bits of longer offsets
        // instead of writing them: worth it when they are skewed.
        useAligned = false;
        if (c.alignedOffsets > 0) {
            aligned.Build(c.aligned, kAlignedSymbols, 7);
            useAligned = AlignedBits(c) < 3 * c.alignedOffsets;
        }
    }
    uint64_t AlignedBits(const Counts& c) const
    {
        uint64_t bits = 3 * kAlignedSymbols;
        for (int i = 0; i < kAlignedSymbols; ++i)
            bits += uint64_t(c.aligned[i]) * aligned.lens[i];
        return bits;
    }
    // The items' bits by these codes.
    uint64_t ItemBits(const Counts& c, int mainSymbols) const
    {
        uint64_t bits = c.extraBits;
        for (int i = 0; i < mainSymbols; ++i)
            bits += uint64_t(c.main[i]) * main.lens[i];
        for (int i = 0; i < kSecondaryLengths; ++i)
            bits += uint64_t(c.length[i]) * length.lens[i];
        if (useAligned)
            bits += AlignedBits(c) - 3 * c.alignedOffsets;
        return bits;
    }
    void WriteTrees(BitWriter& w, int mainSymbols, const uint8_t* mainPrev, const uint8_t* lengthPrev) const
    {
        if (useAligned)
            for (int i = 0; i < kAlignedSymbols; ++i)
                w.Put(aligned.lens[i], 3);
        WriteLengths(w, main.lens, mainPrev, kNumChars);
        WriteLengths(w, main.lens + kNumChars, mainPrev + kNumChars, mainSymbols - kNumChars);
        WriteLengths(w, length.lens, lengthPrev, kSecondaryLengths);
    }
    void WriteItems(BitWriter& w, const std::vector<Item>& items) const
    {
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
    }
};

// A parsed frame waiting for its block to be written.
struct Frame {
    std::vector<Item> items;
    Counts counts;
    size_t len = 0;
};

void ApplyOffset(uint32_t* R, uint32_t f)
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

// The stream's last bytes: the window before the newest frame, and it.
struct History {
    std::vector<unsigned char> buf;
    uint64_t bufStart = 0; // stream position of buf[0]
    uint64_t end = 0;      // stream bytes in buf
    uint32_t window = 0;

    // Room for 8 frames past the window and the frame being worked on: the
    // window moves down once in 8 frames, and the two copies (finder's,
    // parser's) stay near 2 MB each.
    explicit History(uint32_t w) : buf(size_t(w) + 9 * kFrameSize), window(w) {}
    const unsigned char* At(uint64_t p) const { return buf.data() + (p - bufStart); }
    void Append(const unsigned char* in, size_t len)
    {
        if (end - bufStart + len > buf.size()) {
            // A match from the first byte of the frame appended now reaches
            // a whole window back from there: the window before end is not
            // enough, the frame before end is kept with it.
            const uint64_t keep = std::min<uint64_t>(end - bufStart, window + kFrameSize);
            std::memmove(buf.data(), buf.data() + (end - keep - bufStart), keep);
            bufStart = end - keep;
        }
        std::memcpy(buf.data() + (end - bufStart), in, len);
        end += len;
    }
};

// Finds each frame's matches. It depends on the bytes alone, not on how
// they are parsed, so it works on the next frame while the parser takes
// this one.
struct MatchFinder {
    History h;
    // Stream positions + 1, 0 for none: the newest position of each hash,
    // and each window position's two subtrees (smaller, larger).
    std::vector<uint32_t> head, head3, tree;
    // The frame's matches: those of position i are found[at[i]] to
    // found[at[i + 1]], longer and farther each.
    std::vector<Match> found;
    std::vector<uint32_t> at;

    explicit MatchFinder(uint32_t window)
        : h(window), head(size_t(1) << kHashBits, 0), head3(size_t(1) << kHash3Bits, 0), tree(2 * size_t(window), 0)
    {
    }
    const unsigned char* At(uint64_t p) const { return h.At(p); }

    // Puts p in its tree and appends its matches within avail bytes.
    void FindMatches(uint64_t p, uint32_t avail)
    {
        if (avail < kMinFound)
            return;
        const uint64_t reach = std::min<uint64_t>(p, h.window - 3);
        const unsigned char* s = At(p);
        const uint32_t limit = std::min(avail, kMaxMatch);
        uint32_t best = kMinFound - 1;
        uint32_t& near = head3[Hash3(s)];
        if (near && p - (near - 1) <= reach) {
            const uint32_t len = MatchLength(s, At(near - 1), limit);
            if (len >= kMinFound) {
                found.push_back({len, static_cast<uint32_t>(p - (near - 1))});
                best = len;
            }
        }
        near = static_cast<uint32_t>(p + 1);
        if (avail < kHashBytes)
            return;
        // The tree orders whole kMaxMatch-byte strings. Near the frame's
        // end fewer bytes are known: such a position is looked up but not
        // put in the tree, where an order by its first bytes alone would
        // mislead later searches into matches longer than they are.
        const bool insert = limit == kMaxMatch;
        uint32_t& newest = head[Hash(s)];
        uint32_t link = newest;
        if (insert)
            newest = static_cast<uint32_t>(p + 1);
        uint32_t* smaller = &tree[2 * (p & (h.window - 1))];
        uint32_t* larger = smaller + 1;
        uint32_t lenSmaller = 0, lenLarger = 0;
        for (int depth = kTreeDepth;; --depth) {
            if (!link || p - (link - 1) > reach || depth == 0) {
                if (insert)
                    *smaller = *larger = 0;
                return;
            }
            const uint64_t c = link - 1;
            uint32_t* pair = &tree[2 * (c & (h.window - 1))];
            const unsigned char* t = At(c);
            uint32_t len = std::min(lenSmaller, lenLarger);
            len += MatchLength(s + len, t + len, limit - len);
            if (len > best) {
                best = len;
                found.push_back({len, static_cast<uint32_t>(p - c)});
            }
            if (len >= limit) {
                // As good as equal: p takes c's place in the tree.
                if (insert) {
                    *smaller = pair[0];
                    *larger = pair[1];
                }
                return;
            }
            // Looked up only: the tree is followed, never changed.
            if (!insert) {
                (t[len] < s[len] ? lenSmaller : lenLarger) = len;
                link = t[len] < s[len] ? pair[1] : pair[0];
                continue;
            }
            if (t[len] < s[len]) {
                *smaller = link;
                smaller = pair + 1;
                link = *smaller;
                lenSmaller = len;
            } else {
                *larger = link;
                larger = pair;
                link = *larger;
                lenLarger = len;
            }
        }
    }

    void FindFrameMatches(uint64_t from, uint64_t to)
    {
        found.clear();
        at.resize(to - from + 1);
        for (uint64_t p = from; p < to; ++p) {
            at[p - from] = static_cast<uint32_t>(found.size());
            FindMatches(p, static_cast<uint32_t>(to - p));
        }
        at[to - from] = static_cast<uint32_t>(found.size());
    }

};

} // namespace

bool LzxCanTranslate(uint64_t folderBytes) { return folderBytes <= kMaxTranslatedFrames * kFrameSize; }

struct LzxCompressor::State {
    uint32_t window;
    int mainSymbols;
    bool translate;
    bool useThread = false;
    bool headerWritten = false;
    bool ended = false;      // a short frame was the last
    History h;
    MatchFinder finder;
    // The frame whose matches are found and which waits for its parse.
    uint64_t pendingFrom = 0;
    size_t pendingLen = 0;
    std::vector<Match> found;
    std::vector<uint32_t> at;
    uint32_t R[3] = {1, 1, 1};
    uint8_t mainPrev[kMaxMainSymbols] = {}, lengthPrev[kSecondaryLengths] = {};
    std::vector<Item> items;
    std::vector<Frame> held; // parsed, for the block being gathered
    // The cheapest way found to each position of the frame: its cost from
    // the segment's start, the last step (length 0: a literal) and the
    // repeated offsets after it. A step with len1 set is a match (len1,
    // f1), lits literals and a match of len at the first's offset.
    struct Node {
        uint32_t cost, len, f;
        uint32_t R[3];
        uint32_t len1, f1, lits;
        uint32_t Step() const { return len1 ? len1 + lits + len : len ? len : 1; }
    };
    std::vector<Node> nodes;

    State(uint32_t w) : window(w), h(w), finder(w) {}
    const unsigned char* At(uint64_t p) const { return h.At(p); }

    // Appends the cheapest steps from segment start s to e, in order.
    void TakePath(uint32_t s, uint32_t e, uint64_t from)
    {
        const size_t first = items.size();
        for (uint32_t j = e; j > s;) {
            const Node& n = nodes[j];
            if (n.len == 0) {
                items.push_back({0, 0, *At(from + j - 1)});
            } else {
                items.push_back({n.len, n.f, 0});
                if (n.len1) {
                    for (uint32_t k = 1; k <= n.lits; ++k)
                        items.push_back({0, 0, *At(from + j - n.len - k)});
                    items.push_back({n.len1, n.f1, 0});
                }
            }
            j -= n.Step();
        }
        std::reverse(items.begin() + static_cast<std::ptrdiff_t>(first), items.end());
    }

    // Position j's repeated offsets, from the step that reached it.
    void Arrive(uint32_t j)
    {
        Node& nd = nodes[j];
        const Node& before = nodes[j - nd.Step()];
        std::copy(before.R, before.R + 3, nd.R);
        if (nd.len1)
            ApplyOffset(nd.R, nd.f1);
        else if (nd.len)
            ApplyOffset(nd.R, nd.f);
    }

    // The cheapest literals and matches for the frame by the costs c: each
    // position's cheapest way is known before it is left, the repeated
    // offsets after it with it. A match of kNiceLength or more is taken at
    // once and the weighing starts again after it.
    void Parse(uint64_t from, uint64_t to, const Costs& c)
    {
        items.clear();
        const uint32_t n = static_cast<uint32_t>(to - from);
        nodes.resize(n + 1);
        const uint32_t none = UINT32_MAX;
        for (Node& nd : nodes)
            nd.cost = none;
        nodes[0] = {0, 0, 0, {R[0], R[1], R[2]}, 0, 0, 0};
        uint32_t segment = 0;
        auto relax = [&](uint32_t j, uint32_t cost, uint32_t len, uint32_t f, uint32_t len1 = 0, uint32_t f1 = 0,
                         uint32_t lits = 0) {
            if (cost < nodes[j].cost) {
                nodes[j].cost = cost;
                nodes[j].len = len;
                nodes[j].f = f;
                nodes[j].len1 = len1;
                nodes[j].lits = lits;
                nodes[j].f1 = f1;
            }
        };
        auto matchCost = [&](int slot, uint32_t len) {
            const uint32_t header = std::min(len - kMinMatch, kPrimaryLengths);
            uint32_t cost = kSlots.extra[slot] + c.main[kNumChars + slot * 8 + header];
            if (header == kPrimaryLengths)
                cost += c.length[len - kMinMatch - kPrimaryLengths];
            return cost;
        };
        for (uint32_t i = 0; i < n; ++i) {
            Node& nd = nodes[i];
            if (i != segment)
                Arrive(i);
            const uint64_t p = from + i;
            const unsigned char* s = At(p);
            relax(i + 1, nd.cost + c.main[*s], 0, 0);
            const uint32_t maxLen = std::min(kMaxMatch, n - i);
            if (maxLen < kMinMatch)
                continue;
            uint32_t longest = 0, longestF = 0;
            auto matchesOf = [&](uint32_t f, uint32_t fromLen, uint32_t toLen) {
                const int slot = SlotOf(f);
                for (uint32_t len = fromLen; len <= toLen; ++len)
                    relax(i + len, nd.cost + matchCost(slot, len), len, f);
                if (toLen > longest) {
                    longest = toLen;
                    longestF = f;
                }
                // Records that differ in a byte or two: an offset often
                // matches again a byte or two on, as the repeated offset.
                // (After a match at the newest repeated offset the plain
                // parse sees that; weighing it here too made programs
                // larger.)
                if (f == 0)
                    return;
                const uint32_t off = f < 3 ? nd.R[f] : f - 2;
                uint32_t cost = nd.cost + matchCost(slot, toLen);
                for (uint32_t lits = 1; lits <= kLitsBetween; ++lits) {
                    const uint32_t next = i + toLen + lits;
                    if (next + kMinMatch > n)
                        return;
                    cost += c.main[s[toLen + lits - 1]];
                    const unsigned char* q = s + toLen + lits;
                    const uint32_t again = MatchLength(q, q - off, std::min(kMaxMatch, n - next));
                    if (again >= kMinMatch)
                        relax(next + again, cost + matchCost(0, again), again, 0, toLen, f, lits);
                }
            };
            for (uint32_t r = 0; r < 3; ++r) {
                if (nd.R[r] > p)
                    continue;
                const uint32_t len = MatchLength(s, s - nd.R[r], maxLen);
                if (len >= kMinMatch)
                    matchesOf(r, kMinMatch, len);
            }
            uint32_t shorter = kMinMatch;
            for (uint32_t k = at[i]; k < at[i + 1]; ++k) {
                const uint32_t len = std::min(found[k].len, maxLen);
                const uint32_t off = found[k].offset;
                if (off != nd.R[0] && off != nd.R[1] && off != nd.R[2])
                    matchesOf(off + 2, shorter + 1, len);
                shorter = len;
            }
            if (longest >= kNiceLength) {
                TakePath(segment, i, from);
                items.push_back({longest, longestF, 0});
                const uint32_t next = i + longest;
                for (uint32_t j = i + 1; j <= std::min(n, i + kFarthestStep); ++j)
                    nodes[j].cost = none;
                nodes[next] = {0, longest, longestF, {nd.R[0], nd.R[1], nd.R[2]}, 0, 0, 0};
                ApplyOffset(nodes[next].R, longestF);
                segment = next;
                i = next - 1;
            }
        }
        TakePath(segment, n, from);
        if (n != segment)
            Arrive(n);
        std::copy(nodes[n].R, nodes[n].R + 3, R);
    }

    void Literals(uint64_t from, uint64_t to)
    {
        items.clear();
        for (uint64_t p = from; p < to; ++p)
            items.push_back({0, 0, *At(p)});
    }

    // Writes the held frames as one block, each frame's bits in its own
    // bytes, and forgets them.
    void WriteBlock(const BlockEmitter& emit)
    {
        Counts all;
        size_t blockLen = 0;
        for (const Frame& f : held) {
            all.Add(f.counts);
            blockLen += f.len;
        }
        Trees t;
        t.Build(all, mainSymbols, lengthPrev);
        std::vector<unsigned char> out;
        for (size_t k = 0; k < held.size(); ++k) {
            out.clear();
            BitWriter w(out);
            if (k == 0) {
                if (!headerWritten) {
                    w.Put(translate ? 1 : 0, 1);
                    if (translate) {
                        w.Put(kLzxTranslationSize >> 16, 16);
                        w.Put(kLzxTranslationSize & 0xFFFF, 16);
                    }
                    headerWritten = true;
                }
                w.Put(t.useAligned ? kBlockAligned : kBlockVerbatim, 3);
                w.Put(static_cast<uint32_t>(blockLen >> 8), 16);
                w.Put(static_cast<uint32_t>(blockLen & 0xFF), 8);
                t.WriteTrees(w, mainSymbols, mainPrev, lengthPrev);
                std::copy(t.main.lens, t.main.lens + mainSymbols, mainPrev);
                std::copy(t.length.lens, t.length.lens + kSecondaryLengths, lengthPrev);
            }
            t.WriteItems(w, held[k].items);
            w.Flush();
            emit(out.data(), out.size(), held[k].len);
        }
        held.clear();
    }

    // Bits of a block of counts c after the block whose lengths are
    // mainBefore and lengthBefore; t gets its codes.
    uint64_t BlockBits(const Counts& c, const uint8_t* mainBefore, const uint8_t* lengthBefore, Trees& t) const
    {
        t.Build(c, mainSymbols, lengthBefore);
        std::vector<unsigned char> scratch;
        BitWriter w(scratch);
        t.WriteTrees(w, mainSymbols, mainBefore, lengthBefore);
        return 27 + w.Bits() + t.ItemBits(c, mainSymbols);
    }

    // Costs for parsing the next frame: the codes of the held frames, else
    // those of the last block.
    void NextCosts(Costs& costs) const
    {
        if (held.empty()) {
            if (headerWritten)
                costs.From(mainPrev, lengthPrev);
            else
                costs.Guess();
            return;
        }
        Counts all;
        for (const Frame& f : held)
            all.Add(f.counts);
        Trees t;
        t.Build(all, mainSymbols, lengthPrev);
        costs.From(t.main.lens, t.length.lens);
    }
    // Parses the pending frame and holds it, writing the held frames first
    // when it does not join their block.
    void ParseFrame(const BlockEmitter& emit)
    {
        const uint64_t from = pendingFrom;
        const size_t len = pendingLen;
        pendingLen = 0;
        // Counts of the held frames, which this one joins or follows.
        Counts before;
        for (const Frame& f : held)
            before.Add(f.counts);
        const uint32_t start[3] = {R[0], R[1], R[2]};
        uint32_t bestR[3];
        Frame frame, tried;
        frame.len = tried.len = len;
        uint64_t best = UINT64_MAX;
        Costs costs;
        NextCosts(costs);
        Trees t;
        for (int pass = 0; pass < kParsePasses; ++pass) {
            std::copy(start, start + 3, R);
            Parse(from, from + len, costs);
            tried.items.swap(items);
            tried.counts = before;
            tried.counts.Add(tried.items);
            const uint64_t bits = BlockBits(tried.counts, mainPrev, lengthPrev, t);
            if (bits < best) {
                best = bits;
                std::swap(frame, tried);
                std::copy(R, R + 3, bestR);
            }
            // The next pass weighs by the codes this one gave.
            costs.From(t.main.lens, t.length.lens);
        }
        std::copy(bestR, bestR + 3, R);
        frame.counts = Counts();
        frame.counts.Add(frame.items);

        // A frame that might not fit a data block by itself goes out as literals.
        Trees alone;
        if (BlockBits(frame.counts, mainPrev, lengthPrev, alone) / 8 + 512 > kMaxCompressedBlock) {
            std::copy(start, start + 3, R);
            Literals(from, from + len);
            frame.items.swap(items);
            frame.counts = Counts();
            frame.counts.Add(frame.items);
        }
        // It joins the held frames when one code for all costs less.
        if (!held.empty()) {
            Counts all = before;
            all.Add(frame.counts);
            Trees joined, first, second;
            const uint64_t one = BlockBits(all, mainPrev, lengthPrev, joined);
            const uint64_t two = BlockBits(before, mainPrev, lengthPrev, first) +
                                 BlockBits(frame.counts, first.main.lens, first.length.lens, second);
            // Each frame's bytes stay within a data block under the joined code.
            bool fits = joined.ItemBits(frame.counts, mainSymbols) / 8 + 1024 <= kMaxCompressedBlock;
            for (const Frame& f : held)
                fits = fits && joined.ItemBits(f.counts, mainSymbols) / 8 + 1024 <= kMaxCompressedBlock;
            if (one > two || !fits || held.size() == kMaxBlockFrames)
                WriteBlock(emit);
        }
        held.push_back(std::move(frame));
    }
};

LzxCompressor::LzxCompressor(int windowBits, bool translateCalls, unsigned threads)
{
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits)
        throw ToolError("the LZX window is 15 to 21 bits");
    s_ = std::make_unique<State>(1u << windowBits);
    s_->mainSymbols = kNumChars + kSlotsByWindow[windowBits - kLzxMinWindowBits] * 8;
    s_->translate = translateCalls;
    s_->useThread = (threads ? threads : std::thread::hardware_concurrency()) > 1;
}

LzxCompressor::~LzxCompressor() = default;

void LzxCompressor::Compress(const unsigned char* in, size_t len, const BlockEmitter& emit)
{
    State& s = *s_;
    if (len == 0 || len > kFrameSize || s.ended)
        throw ToolError("LZX frames are 32768 bytes, only the last one shorter");
    s.ended = len < kFrameSize;
    std::vector<unsigned char> frame(in, in + len);
    const uint64_t from = s.finder.h.end;
    if (s.translate && from / kFrameSize < kMaxTranslatedFrames)
        TranslateCalls(frame.data(), len, from);
    s.finder.h.Append(frame.data(), len);
    {
        // The finder takes this frame while the parser takes the one before.
        struct Joined {
            std::thread t;
            ~Joined()
            {
                if (t.joinable())
                    t.join();
            }
        } worker;
        auto find = [&s, from, len] { s.finder.FindFrameMatches(from, from + len); };
        if (s.useThread && s.pendingLen)
            worker.t = std::thread(find);
        else
            find();
        if (s.pendingLen)
            s.ParseFrame(emit);
    }
    s.found.swap(s.finder.found);
    s.at.swap(s.finder.at);
    s.h.Append(frame.data(), len);
    s.pendingFrom = from;
    s.pendingLen = len;
    if (s.ended)
        Finish(emit);
}

void LzxCompressor::Finish(const BlockEmitter& emit)
{
    State& s = *s_;
    if (s.pendingLen)
        s.ParseFrame(emit);
    if (!s.held.empty())
        s.WriteBlock(emit);
    s.ended = true;
}
