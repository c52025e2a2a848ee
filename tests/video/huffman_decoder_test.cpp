#include "video/huffman_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "video/record_builder.h"

namespace {

using vidtest::BitWriter;
using vidtest::Bytes;
using vidtest::CodeBook;

const uint8_t kUntouched = 0xEE;

// Decodes a record into a buffer of `capacity` bytes that starts out filled with kUntouched.
Bytes decodeRecord(const Bytes& record, int capacity) {
    HuffmanDecoder decoder;
    decoder.load(record.data(), int(record.size()));
    Bytes out(size_t(capacity), kUntouched);
    decoder.decode(out.data(), capacity);
    return out;
}

Bytes decodeRecord(const Bytes& record) {
    HuffmanDecoder probe;
    probe.load(record.data(), int(record.size()));
    return decodeRecord(record, probe.unpackedSize);
}

// The entropy stage done the slow way: a table and a tree built literally, one bit at a time.
Bytes referenceDecode(const Bytes& record, int capacity) {
    HuffmanDecoder in;
    in.load(record.data(), int(record.size()));
    struct Entry {
        int symbol = 0, length = 0;
    } table[1024];
    struct Node {
        int symbol = 0, child[2] = {-1, -1};
    };
    std::vector<Node> tree(1);
    for (int s = 0; s < 256; ++s) {
        int length = in.codeLengths[s];
        if (length >= 1 && length <= 10) {
            int n = 0;
            for (int i = 0; i < length; ++i) n |= int((in.codes[s] >> (length - 1 - i)) & 1) << i;
            for (; n < 1024; n += 1 << length) table[n] = {s, length};
            continue;
        }
        int node = 0;
        for (int p = length - 1; p >= 0; --p) {
            int bit = (in.codes[s] >> (p % 32)) & 1;
            if (tree[node].child[bit] < 0) {
                tree[node].child[bit] = int(tree.size());
                tree.push_back(Node());
            }
            node = tree[node].child[bit];
        }
        tree[node].symbol = s;
    }
    auto bitAt = [&](int64_t pos) {
        int64_t byte = pos / 8;
        return byte < in.bitstreamSize ? (in.bitstream[byte] >> (pos % 8)) & 1 : 0;
    };
    Bytes out(size_t(capacity), kUntouched);
    int64_t pos = 0;
    for (int64_t j = 0; in.bitstreamSize > 0; ++j) {
        if (j >= in.unpackedSize || j >= capacity) break;
        int w = 0;
        for (int i = 0; i < 10; ++i) w |= bitAt(pos + i) << i;
        if (table[w].length != 0) {
            out[size_t(j)] = uint8_t(table[w].symbol);
            pos += table[w].length;
        } else {
            int node = 0;
            while (tree[node].child[bitAt(pos)] >= 0) node = tree[node].child[bitAt(pos++)];
            out[size_t(j)] = uint8_t(tree[node].symbol);
        }
        if (pos / 8 >= in.bitstreamSize) break;
    }
    return out;
}

TEST(HuffmanDecoder, CodesInTheTable) {
    // One-bit codes: every even index is 'a', every odd one 'b'.
    CodeBook book;
    book.codes['a'] = 0;
    book.codes['b'] = 1;
    book.lengths['a'] = book.lengths['b'] = 1;
    std::mt19937 rng(1);
    BitWriter bits;
    Bytes expected;
    for (int i = 0; i < 2000; ++i) {
        int b = int(rng() & 1);
        bits.bit(b);
        expected.push_back(b ? 'b' : 'a');
    }
    EXPECT_EQ(decodeRecord(vidtest::record(2000, book, bits.bytes)), expected);

    // The 3-bit code 6 is sent as 1, 1, 0: the first stream byte ends in the bits 011.
    CodeBook six;
    six.codes['x'] = 6;
    six.lengths['x'] = 3;
    BitWriter w;
    w.code(6, 3);
    ASSERT_EQ(w.bytes, Bytes{3});
    for (uint8_t byte : {3, 11, 19, 0xFB})
        EXPECT_EQ(decodeRecord(vidtest::record(1, six, Bytes{byte})), Bytes{'x'}) << int(byte);
    // Bits 0, 0, 1 are no code: the walk cannot leave the root, whose symbol is the highest
    // value without a code.
    EXPECT_EQ(decodeRecord(vidtest::record(1, six, Bytes{4})), Bytes{255});
}

TEST(HuffmanDecoder, LongCodesWalkTheTree) {
    // Lengths 1..10 for symbols 1..10, then two 11-bit codes: a complete prefix code.
    uint8_t lengths[256] = {};
    for (int s = 1; s <= 10; ++s) lengths[s] = uint8_t(s);
    lengths[11] = lengths[12] = 11;
    CodeBook book = vidtest::canonicalCodeBook(lengths);
    Bytes message = {11, 10, 12, 1, 12, 12, 10, 3, 11, 2, 11, 9, 10, 1, 1, 12};
    for (int i = 0; i < 300; ++i) message.push_back(uint8_t(1 + (i * 7) % 12));
    Bytes record = vidtest::record(message, book);
    EXPECT_EQ(decodeRecord(record), message);
    EXPECT_EQ(decodeRecord(record), referenceDecode(record, int(message.size())));
}

TEST(HuffmanDecoder, StreamsThatMatchNoCode) {
    // Every value but 5 and 200 has an 8-bit code; the highest value without one is the root's
    // symbol. A pattern that is no code stops the walk at the root without consuming a bit, so
    // the rest of the payload is that symbol.
    CodeBook book = vidtest::plainCodeBook();
    book.lengths[5] = book.lengths[200] = 0;
    BitWriter bits;
    bits.code(7, 8);
    bits.code(200, 8);  // not a code any more
    bits.code(9, 8);
    Bytes out = decodeRecord(vidtest::record(6, book, bits.bytes));
    EXPECT_EQ(out, (Bytes{7, 200, 200, 200, 200, 200}));

    // The walk leaves the tree part-way down and emits that node's symbol (0 for a node that
    // ends no code), having consumed the bits it followed.
    CodeBook deep;
    deep.codes[9] = 0xAAA;  // 101010101010
    deep.lengths[9] = 12;
    deep.codes[7] = 0x5FF;  // 10101111111 (11 bits)
    deep.lengths[7] = 11;
    BitWriter path;
    path.code(0xAAA, 12);
    path.code(0x5FF, 11);
    path.code(0x4, 3);  // 1, 0, 0: leaves the tree after two bits
    for (int i = 0; i < 6; ++i) path.bit(1);
    Bytes walked = decodeRecord(vidtest::record(5, deep, path.bytes));
    EXPECT_EQ(walked, (Bytes{9, 7, 0, 255, 255}));
}

TEST(HuffmanDecoder, CodeValuesOnlyCountUpToTheirLength) {
    // Junk above a code's length is ignored; lengths above 32 take the shift count modulo 32.
    CodeBook book;
    book.codes[1] = 0xFFFFFFF0u | 0x2;  // 4-bit code 0010
    book.lengths[1] = 4;
    book.codes[2] = 0x80000001u;  // 33 bits: bit 0, then bits 31..0
    book.lengths[2] = 33;
    BitWriter bits;
    bits.code(0x2, 4);
    bits.bit(1);
    bits.code(0x80000001u, 32);
    bits.code(0x2, 4);
    Bytes record = vidtest::record(3, book, bits.bytes);
    EXPECT_EQ(decodeRecord(record), (Bytes{1, 2, 1}));
}

TEST(HuffmanDecoder, WhereDecodingStops) {
    const CodeBook plain = vidtest::plainCodeBook();
    const Bytes stream = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    // unpackedSize reached first: spare stream bytes are ignored.
    EXPECT_EQ(decodeRecord(vidtest::record(3, plain, stream)), (Bytes{80, 40, 120}));
    // The stream ends first: the rest of the output keeps its contents.
    Bytes out = decodeRecord(vidtest::record(16, plain, stream));
    EXPECT_EQ(out[11], 30);
    EXPECT_EQ(out[12], kUntouched);
    // An empty stream writes nothing, and neither does a negative size.
    EXPECT_EQ(decodeRecord(vidtest::record(4, plain, Bytes())), Bytes(4, kUntouched));
    EXPECT_EQ(decodeRecord(vidtest::record(-3, plain, stream), 4), Bytes(4, kUntouched));
    // The output capacity bounds the writing whatever unpackedSize says.
    EXPECT_EQ(decodeRecord(vidtest::record(12, plain, stream), 2), (Bytes{80, 40}));
    // A code running past the end of the stream reads zeros there (ASan checks the record is
    // not read beyond its end).
    CodeBook ten;
    ten.codes[42] = 0x200;  // 1000000000
    ten.lengths[42] = 10;
    EXPECT_EQ(decodeRecord(vidtest::record(2, ten, Bytes{1})), (Bytes{42, kUntouched}));
}

TEST(HuffmanDecoder, LongStreamsDecodeAsOne) {
    // Long streams are decoded by several readers at once that must join up seamlessly, also
    // around codes the table lacks, patterns that match no code, and the limits.
    std::mt19937 rng(3);
    for (int round = 0; round < 12; ++round) {
        uint64_t counts[256] = {};
        for (int s = 0; s < 256; ++s) counts[s] = 1 + rng() % 8;
        counts[0x88] = round % 2 == 0 ? 400000 : 2000;  // short codes in even rounds
        for (int s = 240; s < 256; ++s) counts[s] = 1;  // long codes, walked in the tree
        CodeBook book = vidtest::huffmanCodeBook(counts);
        Bytes message;
        for (int i = 0; i < 60000; ++i)
            message.push_back(uint8_t(rng() % 3 == 0    ? 0x88
                                      : rng() % 16 == 0 ? 240 + rng() % 16
                                                        : rng()));
        Bytes record = vidtest::record(message, book);
        Bytes expected = message;
        int capacity = int(message.size());
        if (round % 3 == 1) {
            // A value without a code: where its pattern turns up, the rest is the root symbol.
            book.lengths[message[40000]] = 0;
            record = vidtest::record(int32_t(message.size()), book,
                                     vidtest::encode(message, vidtest::huffmanCodeBook(counts)));
            expected = referenceDecode(record, capacity);
        }
        if (round % 3 == 2) capacity = 30000 + int(rng() % 20000);
        expected.resize(size_t(capacity));
        ASSERT_EQ(decodeRecord(record, capacity), expected) << "round " << round;
        ASSERT_EQ(expected, referenceDecode(record, capacity)) << "round " << round;
    }
}

// Random code tables, prefix codes and junk alike (overlapping codes, where later values
// overwrite table entries and tree nodes; lengths up to 40), on random streams and limits.
TEST(HuffmanDecoder, MatchesTheBitByBitDecoderOnRandomTables) {
    std::mt19937 rng(7);
    HuffmanDecoder reused;
    for (int round = 0; round < 300; ++round) {
        CodeBook book;
        if (round % 2 == 0) {
            // A prefix code built from random counts, and a message in it.
            uint64_t counts[256] = {};
            int used = 2 + int(rng() % 254);
            for (int s = 0; s < used; ++s)
                counts[s] = 1 + (rng() % 5 == 0 ? rng() % 100000 : rng() % 50);
            book = vidtest::huffmanCodeBook(counts);
        } else {
            // Junk: random lengths 0..40 and random 32-bit values.
            for (int s = 0; s < 256; ++s) {
                book.codes[s] = uint32_t(rng());
                book.lengths[s] = uint8_t(rng() % 3 == 0 ? rng() % 41 : 1 + rng() % 12);
            }
        }
        Bytes stream(round % 4 == 3 ? 4000 + rng() % 12000 : rng() % 3000, 0);
        for (auto& b : stream) b = uint8_t(rng() % 4 == 0 ? rng() : (rng() & 0x11));
        int32_t unpacked = int32_t(rng() % (stream.size() * 3 + 10)) - 10;
        int capacity = int(rng() % (stream.size() * 3 + 10));
        Bytes record = vidtest::record(unpacked, book, stream);
        Bytes expected = referenceDecode(record, capacity);
        Bytes out(size_t(capacity), kUntouched);
        reused.load(record.data(), int(record.size()));
        reused.decode(out.data(), capacity);
        ASSERT_EQ(out, expected) << "round " << round;
    }
}

}  // namespace
