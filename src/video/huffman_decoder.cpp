#include "video/huffman_decoder.h"

#include <cstdint>
#include <cstring>

namespace {

const int kTableBits = 10;
const int kTableEntries = 1 << kTableBits;
const uint32_t kTableMask = kTableEntries - 1;

// The fast paths look up 11 bits at a time in a table derived from the 10-bit one: each entry
// holds the one or two symbols those bits decode to (two when both codes fit in the 11 bits).
const int kPairBits = 11;
const int kPairEntries = 1 << kPairBits;
const uint32_t kPairMask = kPairEntries - 1;

// Look-ups per load of stream bits; each consumes at most kPairBits and peeks kPairBits. A
// refilled bit buffer holds at least 49 bits, a word loaded at a byte and shifted at least 57.
const int kLookupsPerRefill = 4;
const int kLookupsPerWord = 5;

struct TableEntry {
    uint8_t symbol;
    uint8_t length;
};

uint64_t loadLE64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The low n bits of v in reverse order, 1 <= n <= 32.
uint32_t reverseBits(uint32_t v, int n) {
    v = (v >> 1 & 0x55555555u) | (v & 0x55555555u) << 1;
    v = (v >> 2 & 0x33333333u) | (v & 0x33333333u) << 2;
    v = (v >> 4 & 0x0F0F0F0Fu) | (v & 0x0F0F0F0Fu) << 4;
    v = (v >> 8 & 0x00FF00FFu) | (v & 0x00FF00FFu) << 8;
    v = v >> 16 | v << 16;
    return v >> (32 - n);
}

// Readers that decode one stream at once (see decodeSplit), and the sizes from which splitting
// pays off.
const int kReaders = 3;
const uint64_t kSplitStreamBytes = 1536;
const int64_t kSplitOutputBytes = 3072;
// Symbols each reader sent ahead decodes one by one at its start, noting where each begins.
const int kSyncSymbols = 16;

struct Stream {
    const unsigned char* bytes;
    uint64_t size;
    const TableEntry* table;
    const uint32_t* pairs;
    const HuffmanDecoder::Node* tree;
};

// One symbol at bit position pos, the careful way: stream bytes past the end read as zero.
uint8_t decodeOne(const Stream& s, uint64_t& pos) {
    const uint64_t byte = pos >> 3;
    uint32_t word = 0;
    if (byte + 4 <= s.size) {
        word = readLE32(s.bytes + byte);
    } else {
        for (uint64_t i = 0; i < 4 && byte + i < s.size; ++i)
            word |= uint32_t(s.bytes[byte + i]) << (8 * i);
    }
    const TableEntry e = s.table[(word >> (pos & 7)) & kTableMask];
    if (e.length != 0) {
        pos += e.length;
        return e.symbol;
    }
    // The walk stops where the bits leave the tree and emits that node's symbol; a walk that
    // cannot leave the root consumes nothing.
    int32_t node = 0;
    for (;;) {
        const uint64_t at = pos >> 3;
        const uint32_t bits = at < s.size ? s.bytes[at] : 0;
        const int32_t child = ((bits >> (pos & 7)) & 1u) ? s.tree[node].one : s.tree[node].zero;
        if (child == 0) break;
        node = child;
        ++pos;
    }
    return s.tree[node].symbol;
}

// Table codes from pos on, as long as the stream holds 8 more bytes, the output room for 8 more
// symbols, and pos is below `stop`; returns early at a code the table lacks. `bits` holds the
// stream from pos on, `count` of them counted as loaded, the rest up to `next` (the first byte
// not counted) still to come; a refill tops it up to at least 56 without waiting for the
// symbols just decoded. Every symbol emitted here is followed by more stream, so the end rule
// never applies inside. The second symbol byte is stored even for one-symbol entries; the next
// symbol, always inside the limit, overwrites it.
void runFast(const Stream& s, uint64_t& pos, unsigned char* out, int64_t& j, int64_t limit,
             uint64_t stop) {
    const int64_t kWindowSymbols = 2 * kLookupsPerRefill;
    if ((pos >> 3) + 8 > s.size || j + kWindowSymbols > limit || pos >= stop) return;
    // Everything in locals: the byte stores could otherwise alias them and force reloads.
    const uint32_t* const pairs = s.pairs;
    const unsigned char* const start = s.bytes;
    const unsigned char* const lastLoad = start + s.size - 8;
    const unsigned char* next = start + (pos >> 3);
    uint64_t bits = loadLE64(next) >> (pos & 7);
    uint32_t count = 56 - uint32_t(pos & 7);
    next += 7;
    int64_t at = j;
    for (;;) {
        int u = 0;
        for (; u < kLookupsPerRefill; ++u) {
            const uint32_t e = pairs[bits & kPairMask];
            if (e == 0) break;
            out[at] = uint8_t(e >> 8);
            out[at + 1] = uint8_t(e >> 16);
            at += e >> 24;
            bits >>= e & 63;
            count -= e & 0xFF;
        }
        if (u < kLookupsPerRefill || at + kWindowSymbols > limit || next > lastLoad) break;
        if (uint64_t(next - start) * 8 - count >= stop) break;
        bits |= loadLE64(next) << count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    j = at;
    pos = uint64_t(next - start) * 8 - count;
}

// Where a reader sent ahead stands, and what it found.
struct Reader {
    uint64_t starts[kSyncSymbols];  // positions of its first symbols
    uint64_t pos;
    unsigned char* first;  // its output
    unsigned char* at;
    bool ended;  // it reached the end of the stream
};

// Brings the true reader (pos, out + j) up to `ahead`'s start and looks for a position both
// pass through. Returns 1 if found (the true reader then takes over `ahead`'s output and
// place), 0 if not, -1 if the decoding ended first, -2 if the true reader is stuck.
int joinReader(const Stream& s, uint64_t& pos, unsigned char* out, int64_t& j, int64_t limit,
               const Reader& ahead) {
    int m = 0;
    for (;;) {
        if (j >= limit) return -1;
        if (pos + 64 <= ahead.starts[0]) runFast(s, pos, out, j, limit, ahead.starts[0] - 64);
        if (j >= limit) return -1;
        if (pos + 64 > ahead.starts[0]) {
            while (m < kSyncSymbols && ahead.starts[m] < pos) ++m;
            if (m == kSyncSymbols) return 0;
            if (ahead.starts[m] == pos) break;
        }
        const uint64_t before = pos;
        out[j++] = decodeOne(s, pos);
        if ((pos >> 3) >= s.size) return -1;
        if (pos == before) return -2;
    }
    // In step: the other reader's symbols from m on are the true reader's next ones.
    const int64_t found = (ahead.at - ahead.first) - m;
    const int64_t taken = found < limit - j ? found : limit - j;
    std::memcpy(out + j, ahead.first + m, size_t(taken));
    j += taken;
    pos = ahead.pos;
    return j >= limit || ahead.ended ? -1 : 1;
}

// Decodes with kReaders readers at once: the first from pos, each of the others from an even
// share of the rest of the stream on, guessing that a code starts there. Codes of this kind
// fall into step after a few symbols whatever the guess, and as the decoding at any position
// depends on that position alone, once the true reader lands on a position a reader ahead
// passed through, that reader's symbols from there on are exactly the ones the true reader
// would produce. So the true reader checks for such a position when it gets there and, if it
// finds one, takes over the other reader's output and place, and goes on to the next. If it
// finds none, it carries on by itself. The readers' lookups are independent, so the processor
// overlaps them.
//
// Returns true when the decoding is complete; otherwise pos and j tell where to go on.
bool decodeSplit(const Stream& s, uint64_t& pos, unsigned char* out, int64_t& j, int64_t limit,
                 unsigned char* spare, int64_t shareCapacity) {
    const uint64_t share = (s.size * 8 - pos) / kReaders;
    Reader ahead[kReaders - 1];
    for (int r = 0; r < kReaders - 1; ++r) {
        Reader& a = ahead[r];
        a.pos = pos + share * uint64_t(r + 1);
        a.first = a.at = spare + shareCapacity * r;
        a.ended = false;
        for (int k = 0; k < kSyncSymbols; ++k) {
            a.starts[k] = a.pos;
            *a.at++ = decodeOne(s, a.pos);
            // Stuck on a pattern that matches nothing, or at the end already: no use.
            if (a.pos == a.starts[k] || (a.pos >> 3) >= s.size) return false;
        }
    }

    // All readers, a window of table codes each per round. Each stays 64 bits short of the
    // next one's start, so it cannot pass a position it must check. State in locals: the byte
    // stores could otherwise alias it and force reloads.
    const int64_t kWindowSymbols = 2 * kLookupsPerWord;
    const uint32_t* const pairs = s.pairs;
    const unsigned char* const bytes = s.bytes;
    const uint64_t size = s.size;
    uint64_t p[kReaders];
    unsigned char* o[kReaders];
    const unsigned char* end[kReaders];
    uint64_t stop[kReaders];
    p[0] = pos;
    o[0] = out + j;
    end[0] = out + limit - kWindowSymbols;
    for (int r = 1; r < kReaders; ++r) {
        p[r] = ahead[r - 1].pos;
        o[r] = ahead[r - 1].at;
        end[r] = ahead[r - 1].first + shareCapacity - kWindowSymbols;
    }
    for (int r = 0; r < kReaders; ++r)
        stop[r] = r + 1 < kReaders ? ahead[r].starts[0] - 64 : (size - 8) * 8;
    for (;;) {
        bool go = true;
#pragma GCC unroll 4
        for (int r = 0; r < kReaders; ++r) go &= p[r] <= stop[r] && o[r] <= end[r];
        if (!go) break;
        uint64_t w[kReaders];
        uint32_t e[kReaders];
        bool hit = true;
#pragma GCC unroll 4
        for (int r = 0; r < kReaders; ++r) w[r] = loadLE64(bytes + (p[r] >> 3)) >> (p[r] & 7);
#pragma GCC unroll 5
        for (int u = 0; u < kLookupsPerWord; ++u) {
#pragma GCC unroll 4
            for (int r = 0; r < kReaders; ++r) {
                e[r] = pairs[w[r] & kPairMask];
                hit &= e[r] != 0;
            }
            if (!hit) break;
#pragma GCC unroll 4
            for (int r = 0; r < kReaders; ++r) {
                o[r][0] = uint8_t(e[r] >> 8);
                o[r][1] = uint8_t(e[r] >> 16);
                o[r] += e[r] >> 24;
                w[r] >>= e[r] & 63;
                p[r] += e[r] & 0xFF;
            }
        }
        if (hit) continue;
        // A code the table lacks: that reader takes one symbol the careful way.
        bool stopped = false;
#pragma GCC unroll 4
        for (int r = 0; r < kReaders; ++r) {
            if (e[r] != 0) continue;
            const uint64_t before = p[r];
            *o[r]++ = decodeOne(s, p[r]);
            if (r == 0) {
                if ((p[0] >> 3) >= size || p[0] == before) {
                    pos = p[0];
                    j = o[0] - out;
                    return p[0] != before;
                }
            } else if (p[r] == before || (p[r] >> 3) >= size) {
                ahead[r - 1].ended = p[r] != before;
                stopped = true;
            }
        }
        if (stopped) break;
    }
    pos = p[0];
    j = o[0] - out;
    for (int r = 1; r < kReaders; ++r) {
        ahead[r - 1].pos = p[r];
        ahead[r - 1].at = o[r];
    }

    for (int r = 0; r < kReaders - 1; ++r) {
        const int joined = joinReader(s, pos, out, j, limit, ahead[r]);
        if (joined < 0) return joined == -1;
        if (joined == 0) return false;
    }
    return false;
}

}  // namespace

HuffmanDecoder::HuffmanDecoder() = default;

HuffmanDecoder::~HuffmanDecoder() {
    delete[] tree;
    delete[] spare;
}

void HuffmanDecoder::load(const unsigned char* record, int size) {
    unpackedSize = int32_t(readLE32(record));
    for (int s = 0; s < kCodeSymbols; ++s) codes[s] = readLE32(record + kRecordCodesAt + 4 * s);
    std::memcpy(codeLengths, record + kRecordLengthsAt, kCodeSymbols);
    bitstream = record + kTableBytes;
    bitstreamSize = size - kTableBytes;
}

void HuffmanDecoder::decode(unsigned char* out, int outCapacity) {
    // Every code too long for the table adds at most one node per bit, so the pool is sized
    // once per record and the tree never allocates while it is built.
    int32_t needed = 1;
    for (int s = 0; s < 256; ++s) {
        int length = codeLengths[s];
        if (length == 0 || length > kTableBits) needed += length;
    }
    if (needed > treeCapacity) {
        Node* pool = new Node[needed];
        delete[] tree;
        tree = pool;
        treeCapacity = needed;
    }
    tree[0] = Node{0, -1, 0, 0};
    treeSize = 1;
    cursor = 0;

    TableEntry table[kTableEntries];
    std::memset(table, 0, sizeof table);
    bool overlapping = false;
    for (int s = 0; s < 256; ++s) {
        int length = codeLengths[s];
        uint32_t code = codes[s];
        if (length >= 1 && length <= kTableBits) {
            uint32_t first = reverseBits(code, length);
            for (uint32_t n = first; n < uint32_t(kTableEntries); n += 1u << length) {
                overlapping |= table[n].length != 0;
                table[n] = TableEntry{uint8_t(s), uint8_t(length)};
            }
            continue;
        }
        int32_t node = 0;
        for (int p = length - 1; p >= 0; --p) {
            bool one = (code >> (p & 31)) & 1u;
            int32_t child = one ? tree[node].one : tree[node].zero;
            if (child == 0) {
                child = treeSize++;
                tree[child] = Node{0, node, 0, 0};
                if (one)
                    tree[node].one = child;
                else
                    tree[node].zero = child;
            }
            node = child;
        }
        tree[node].symbol = uint8_t(s);
    }

    if (bitstreamSize <= 0) return;
    const int64_t limit = unpackedSize < outCapacity ? unpackedSize : outCapacity;
    if (limit <= 0) return;

    // Pair table, indexed by the next kPairBits stream bits: bits consumed in bits 0..7 (0 where
    // the first code is not in the 10-bit table), symbol 1 in bits 8..15, symbol 2 in bits
    // 16..23, symbol count in bits 24..31.
    uint32_t pairs[kPairEntries];
    if (overlapping) {
        // Codes that overlap make an entry depend on more bits than its own length, so a
        // second symbol cannot be read from a partial index: one symbol per entry.
        for (uint32_t i = 0; i < uint32_t(kPairEntries); ++i) {
            const TableEntry e = table[i & kTableMask];
            pairs[i] = e.length == 0 ? 0u : e.length | uint32_t(e.symbol) << 8 | 1u << 24;
        }
    } else {
        // Without overlaps every index whose low L bits are a table code of length L starts
        // with that code, and the entry for the rest depends on its own length only. So each
        // code's indices are filled from the entries for the bits that follow it.
        std::memset(pairs, 0, sizeof pairs);
        for (int s = 0; s < 256; ++s) {
            const uint32_t length = codeLengths[s];
            if (length < 1 || length > uint32_t(kTableBits)) continue;
            const uint32_t first = reverseBits(codes[s], int(length));
            const uint32_t single = length | uint32_t(s) << 8 | 1u << 24;
            const uint32_t room = uint32_t(kPairBits) - length;
            for (uint32_t rest = 0; rest < 1u << room; ++rest) {
                const TableEntry second = table[rest & kTableMask];
                // All ones when the second code fits in the bits left, else zero; no branch,
                // since which it is follows the data.
                const uint32_t both = 0u - uint32_t(uint32_t(second.length) - 1u < room);
                pairs[first | rest << length] =
                    single + ((second.length | uint32_t(second.symbol) << 16 | 1u << 24) & both);
            }
        }
    }

    const Stream stream{bitstream, uint64_t(bitstreamSize), table, pairs, tree};
    uint64_t pos = 0;
    int64_t j = 0;
    bool split = false;
    for (;;) {
        if (j >= limit || (pos >> 3) >= stream.size) return;
        // Long streams are split between readers once, from the start.
        if (!split && stream.size - (pos >> 3) >= kSplitStreamBytes &&
            limit - j >= kSplitOutputBytes) {
            split = true;
            if (spareCapacity < (kReaders - 1) * limit) {
                unsigned char* grown = new unsigned char[size_t((kReaders - 1) * limit)];
                delete[] spare;
                spare = grown;
                spareCapacity = int32_t((kReaders - 1) * limit);
            }
            if (decodeSplit(stream, pos, out, j, limit, spare, limit)) return;
            continue;
        }
        runFast(stream, pos, out, j, limit, UINT64_MAX);
        if (j >= limit) return;
        const uint64_t before = pos;
        out[j++] = decodeOne(stream, pos);
        // A symbol that consumed nothing repeats until the output is full.
        if (pos == before) {
            std::memset(out + j, out[j - 1], size_t(limit - j));
            return;
        }
    }
}
