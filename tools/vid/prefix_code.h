#pragma once
// Length-limited prefix codes for the .vid entropy stage.
#include <cstdint>
#include <vector>

// Optimal code lengths, none longer than maxLength, for the 256 byte-value counts (package-merge).
// A value with count 0 gets length 0; a single used value gets length 1. maxLength must be at
// least 8 so that all 256 values can always be coded.
void limitedCodeLengths(const uint64_t counts[256], int maxLength, uint8_t lengths[256]);

// Canonical code values for the lengths: shorter codes first, equal lengths in byte-value order.
// Code s is the low lengths[s] bits of codes[s].
void canonicalCodes(const uint8_t lengths[256], uint32_t codes[256]);

// The bitstream of a payload under a code: each code most significant bit first, the stream
// filled from the least significant bit of each byte. Every payload byte value needs a code.
std::vector<uint8_t> packCodes(const std::vector<uint8_t>& payload, const uint8_t lengths[256],
                               const uint32_t codes[256]);
