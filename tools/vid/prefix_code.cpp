#include "vid/prefix_code.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

namespace {

// One coin of the package-merge: a symbol at some level, or a package of two coins of the
// level below.
struct Coin {
    uint64_t weight;
    int symbol;  // -1 for a package
    int32_t left, right;
};

void countLeaves(const std::vector<Coin>& pool, int32_t index, uint8_t lengths[256]) {
    // Packages nest at most maxLength deep, so plain recursion is shallow.
    const Coin& coin = pool[size_t(index)];
    if (coin.symbol >= 0) {
        ++lengths[coin.symbol];
        return;
    }
    countLeaves(pool, coin.left, lengths);
    countLeaves(pool, coin.right, lengths);
}

}  // namespace

void limitedCodeLengths(const uint64_t counts[256], int maxLength, uint8_t lengths[256]) {
    std::fill(lengths, lengths + 256, uint8_t(0));
    std::vector<int> used;
    for (int s = 0; s < 256; ++s)
        if (counts[s] != 0) used.push_back(s);
    if (used.empty()) return;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return;
    }
    std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return counts[a] < counts[b]; });

    // Every used symbol has one coin per level 1..maxLength; the cheapest 2n - 2 coins of the
    // merged list at level 1 decide the lengths: a symbol's length is the number of its coins
    // among them, packages counted through.
    std::vector<Coin> pool;
    std::vector<int32_t> leaves;
    for (int s : used) {
        leaves.push_back(int32_t(pool.size()));
        pool.push_back(Coin{counts[s], s, -1, -1});
    }
    std::vector<int32_t> current = leaves;
    for (int level = maxLength; level > 1; --level) {
        std::vector<int32_t> packages;
        for (size_t i = 0; i + 1 < current.size(); i += 2) {
            const Coin& a = pool[size_t(current[i])];
            const Coin& b = pool[size_t(current[i + 1])];
            Coin package{a.weight + b.weight, -1, current[i], current[i + 1]};
            packages.push_back(int32_t(pool.size()));
            pool.push_back(package);
        }
        std::vector<int32_t> merged;
        merged.reserve(leaves.size() + packages.size());
        std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(),
                   std::back_inserter(merged), [&](int32_t a, int32_t b) {
                       return pool[size_t(a)].weight < pool[size_t(b)].weight;
                   });
        current.swap(merged);
    }
    const size_t take = 2 * used.size() - 2;
    for (size_t i = 0; i < take; ++i) countLeaves(pool, current[i], lengths);
}

void canonicalCodes(const uint8_t lengths[256], uint32_t codes[256]) {
    uint64_t code = 0;
    int previous = 0;
    std::fill(codes, codes + 256, 0u);
    for (int length = 1; length <= 32; ++length) {
        for (int s = 0; s < 256; ++s) {
            if (lengths[s] != length) continue;
            code <<= (length - previous);
            previous = length;
            codes[s] = uint32_t(code);
            ++code;
        }
    }
}

std::vector<uint8_t> packCodes(const std::vector<uint8_t>& payload, const uint8_t lengths[256],
                               const uint32_t codes[256]) {
    uint64_t bits = 0;
    for (uint8_t v : payload) bits += lengths[v];
    std::vector<uint8_t> out;
    out.reserve(size_t((bits + 7) / 8));
    // Reversing a code's bits once lets it be appended to the low end of the bit buffer.
    uint32_t reversed[256];
    for (int s = 0; s < 256; ++s) {
        uint32_t r = 0;
        for (int i = 0; i < lengths[s]; ++i) r |= ((codes[s] >> i) & 1u) << (lengths[s] - 1 - i);
        reversed[s] = r;
    }
    uint64_t buffer = 0;
    int pending = 0;
    for (uint8_t v : payload) {
        buffer |= uint64_t(reversed[v]) << pending;
        pending += lengths[v];
        while (pending >= 8) {
            out.push_back(uint8_t(buffer));
            buffer >>= 8;
            pending -= 8;
        }
    }
    // Every symbol but the last is followed by at least one more bit, so a decoder that stops
    // once it has read the last stream byte still reaches the final symbol.
    if (pending > 0) out.push_back(uint8_t(buffer));
    return out;
}
