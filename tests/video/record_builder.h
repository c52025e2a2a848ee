#pragma once
// Hand-made .vid records and images for the decoder tests: code tables written out explicitly,
// bitstreams packed bit by bit, payloads assembled field by field.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace vidtest {

using Bytes = std::vector<uint8_t>;

struct CodeBook {
    uint32_t codes[256] = {};
    uint8_t lengths[256] = {};
};

// Every byte value coded as itself in 8 bits.
inline CodeBook plainCodeBook() {
    CodeBook book;
    for (int s = 0; s < 256; ++s) {
        book.codes[s] = uint32_t(s);
        book.lengths[s] = 8;
    }
    return book;
}

// Canonical codes for the given lengths (0 = no code), shortest codes first.
inline CodeBook canonicalCodeBook(const uint8_t* lengths) {
    CodeBook book;
    uint64_t code = 0;
    int previous = 0;
    for (int length = 1; length <= 32; ++length) {
        for (int s = 0; s < 256; ++s) {
            if (lengths[s] != length) continue;
            code <<= (length - previous);
            previous = length;
            book.codes[s] = uint32_t(code);
            book.lengths[s] = uint8_t(length);
            ++code;
        }
    }
    return book;
}

// Huffman code lengths for the given symbol counts; symbols that never occur get no code.
inline CodeBook huffmanCodeBook(const uint64_t* counts) {
    struct Item {
        uint64_t weight;
        std::vector<int> symbols;
    };
    std::vector<Item> items;
    uint8_t lengths[256] = {};
    for (int s = 0; s < 256; ++s)
        if (counts[s] > 0) items.push_back({counts[s], {s}});
    if (items.size() == 1) lengths[items[0].symbols[0]] = 1;
    while (items.size() > 1) {
        std::sort(items.begin(), items.end(),
                  [](const Item& a, const Item& b) { return a.weight > b.weight; });
        Item a = items.back();
        items.pop_back();
        Item& b = items.back();
        for (int s : a.symbols) ++lengths[s];
        for (int s : b.symbols) ++lengths[s];
        b.weight += a.weight;
        b.symbols.insert(b.symbols.end(), a.symbols.begin(), a.symbols.end());
    }
    return canonicalCodeBook(lengths);
}

// Bits in stream order: least significant bit of each byte first.
class BitWriter {
  public:
    void bit(int b) {
        if (count % 8 == 0) bytes.push_back(0);
        if (b) bytes.back() |= uint8_t(1u << (count % 8));
        ++count;
    }
    // A code of `length` bits, its most significant bit first.
    void code(uint32_t value, int length) {
        for (int p = length - 1; p >= 0; --p) bit((value >> p) & 1u);
    }
    Bytes bytes;
    int64_t count = 0;
};

inline Bytes encode(const Bytes& payload, const CodeBook& book) {
    BitWriter w;
    for (uint8_t v : payload) w.code(book.codes[v], book.lengths[v]);
    return w.bytes;
}

inline void putLE32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A record: unpacked size, the 256 codes, the 256 lengths, then the stream as given.
inline Bytes record(int32_t unpackedSize, const CodeBook& book, const Bytes& stream) {
    Bytes r;
    putLE32(r, uint32_t(unpackedSize));
    for (int s = 0; s < 256; ++s) putLE32(r, book.codes[s]);
    r.insert(r.end(), book.lengths, book.lengths + 256);
    r.insert(r.end(), stream.begin(), stream.end());
    return r;
}

inline Bytes record(const Bytes& payload, const CodeBook& book = plainCodeBook()) {
    return record(int32_t(payload.size()), book, encode(payload, book));
}

// A whole file: entry count, offsets, records back to back.
inline Bytes image(const std::vector<Bytes>& records) {
    Bytes out;
    putLE32(out, uint32_t(records.size() + 1));
    uint32_t offset = 0;
    putLE32(out, 0);
    for (const Bytes& r : records) putLE32(out, offset += uint32_t(r.size()));
    for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}

struct Header {
    int width = 16, height = 16;
    int cellWidth = 0, cellHeight = 0;
    int chromaCellWidth = 8, chromaCellHeight = 8;
    int interpolate = 1, reserved = 0, residualShift = 0, chromaMode = 0;
};

inline Bytes payloadHeader(const Header& h) {
    return Bytes{uint8_t(h.width),           uint8_t(h.width >> 8),       uint8_t(h.height),
                 uint8_t(h.height >> 8),     uint8_t(h.cellWidth),        uint8_t(h.cellHeight),
                 uint8_t(h.chromaCellWidth), uint8_t(h.chromaCellHeight), uint8_t(h.interpolate),
                 uint8_t(h.reserved),        uint8_t(h.residualShift),    uint8_t(h.chromaMode)};
}

inline void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// Byte `lane` of every pixel.
inline Bytes lane(const Bytes& pixels, int which) {
    Bytes out;
    for (size_t i = which; i < pixels.size(); i += 4) out.push_back(pixels[i]);
    return out;
}

}  // namespace vidtest
