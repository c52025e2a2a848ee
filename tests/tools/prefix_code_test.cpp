// The length-limited prefix code and the record it goes into, checked through the show's own
// entropy decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <queue>

#include "vid/prefix_code.h"
#include "vid/vid_encoder.h"
#include "video/huffman_decoder.h"

namespace {

std::vector<uint8_t> unpack(const std::vector<uint8_t>& record, size_t payloadSize) {
    HuffmanDecoder decoder;
    decoder.load(record.data(), int(record.size()));
    std::vector<uint8_t> out(payloadSize + 16, 0xEE);
    decoder.decode(out.data(), int(out.size()));
    return out;
}

void expectRoundTrip(const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> record = encodeRecord(payload);
    std::vector<uint8_t> out = unpack(record, payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin()));
    // Nothing is written past the payload.
    EXPECT_EQ(out[payload.size()], 0xEE);
}

// Unlimited Huffman cost (sum of count x length), for comparison.
uint64_t huffmanCost(const uint64_t* counts) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> q;
    for (int s = 0; s < 256; ++s)
        if (counts[s]) q.push(counts[s]);
    uint64_t cost = 0;
    while (q.size() > 1) {
        const uint64_t a = q.top();
        q.pop();
        const uint64_t b = q.top();
        q.pop();
        cost += a + b;
        q.push(a + b);
    }
    return cost;
}

uint64_t cost(const uint64_t* counts, const uint8_t* lengths) {
    uint64_t c = 0;
    for (int s = 0; s < 256; ++s) c += counts[s] * lengths[s];
    return c;
}

// Kraft sum in units of 2^-32: exactly 2^32 for a complete prefix code.
uint64_t kraft(const uint8_t* lengths) {
    uint64_t sum = 0;
    for (int s = 0; s < 256; ++s)
        if (lengths[s]) sum += uint64_t(1) << (32 - lengths[s]);
    return sum;
}

TEST(PrefixCode, PayloadsOfOneByteValueDecodeAtEveryLength) {
    // A one-bit code: lengths that are and are not whole bytes of stream.
    for (size_t n : {1u, 7u, 8u, 9u, 16u, 1000u}) {
        SCOPED_TRACE(n);
        expectRoundTrip(std::vector<uint8_t>(n, 0x2A));
        const std::vector<uint8_t> record = encodeRecord(std::vector<uint8_t>(n, 0x2A));
        EXPECT_EQ(record.size(), 1284 + (n + 7) / 8);
        EXPECT_EQ(record[1028 + 0x2A], 1);
    }
}

TEST(PrefixCode, SkewedPayloadNeedsCodesLongerThanTheTable) {
    // Fibonacci-like counts give one code per extra bit of length: far past the 10-bit table.
    std::vector<uint8_t> payload;
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 22; ++s) {
        payload.insert(payload.end(), size_t(a), uint8_t(s * 11));
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    std::rotate(payload.begin(), payload.begin() + payload.size() / 3, payload.end());
    const std::vector<uint8_t> record = encodeRecord(payload);
    const uint8_t longest = *std::max_element(record.begin() + 1028, record.begin() + 1284);
    EXPECT_GT(longest, 10);
    expectRoundTrip(payload);

    // Every byte value, each once, plus a long run: 8- and 9-bit codes beside a 1-bit one.
    std::vector<uint8_t> all(4000, 0x80);
    for (int s = 0; s < 256; ++s) all.push_back(uint8_t(s));
    expectRoundTrip(all);
}

TEST(PrefixCode, LengthsStayWithinTheLimitAndStayOptimal) {
    // 40 Fibonacci counts: an unlimited code would need 39 bits for the rarest values.
    uint64_t counts[256] = {};
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 40; ++s) {
        counts[s * 3] = a;
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    uint8_t lengths[256];
    limitedCodeLengths(counts, 32, lengths);
    EXPECT_EQ(*std::max_element(lengths, lengths + 256), 32);
    EXPECT_EQ(kraft(lengths), uint64_t(1) << 32);
    for (int s = 0; s < 256; ++s) EXPECT_EQ(lengths[s] != 0, counts[s] != 0) << s;
    EXPECT_GE(cost(counts, lengths), huffmanCost(counts));

    // When the limit does not bind, the cost is exactly Huffman's.
    uint32_t seed = 5;
    for (int trial = 0; trial < 20; ++trial) {
        uint64_t random[256] = {};
        for (int s = 0; s < 256; ++s) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) % 3) random[s] = (seed >> 8) % 5000;
        }
        uint8_t l[256];
        limitedCodeLengths(random, 32, l);
        EXPECT_EQ(cost(random, l), huffmanCost(random));
        EXPECT_EQ(kraft(l), uint64_t(1) << 32);
    }

    // A tight limit: 256 values in 8 bits must all get exactly 8.
    uint64_t skewed[256];
    for (int s = 0; s < 256; ++s) skewed[s] = uint64_t(1) << (s % 40);
    limitedCodeLengths(skewed, 8, lengths);
    EXPECT_EQ(std::count(lengths, lengths + 256, 8), 256);
}

TEST(PrefixCode, ThirtyTwoBitCodesDecode) {
    uint64_t counts[256] = {};
    uint64_t a = 1, b = 1;
    for (int s = 0; s < 40; ++s) {
        counts[255 - s] = a;
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    uint8_t lengths[256];
    uint32_t codes[256];
    limitedCodeLengths(counts, 32, lengths);
    canonicalCodes(lengths, codes);
    // A payload using every coded value a few times, the 32-bit ones included, in mixed order.
    std::vector<uint8_t> payload;
    for (int round = 0; round < 3; ++round)
        for (int s = 0; s < 40; ++s) payload.push_back(uint8_t(255 - (s * 7 + round) % 40));
    const std::vector<uint8_t> stream = packCodes(payload, lengths, codes);

    std::vector<uint8_t> record;
    for (int i = 0; i < 4; ++i) record.push_back(uint8_t(payload.size() >> (8 * i)));
    for (int s = 0; s < 256; ++s)
        for (int i = 0; i < 4; ++i) record.push_back(uint8_t(codes[s] >> (8 * i)));
    record.insert(record.end(), lengths, lengths + 256);
    record.insert(record.end(), stream.begin(), stream.end());
    const std::vector<uint8_t> out = unpack(record, payload.size());
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin()));
}

}  // namespace
