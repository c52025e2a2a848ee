#pragma once
// The .vid format as its writer (tools/vid) and its reader (VideoDecoder) both state it: the
// container's frame table, a record's code table, the frame payload's header, and the largest
// frames the decoder's working buffers take. Kept in one place so that what the encoder writes
// and what the decoder accepts cannot drift apart.
//
// Every number is little-endian. A file is
//   entry count N (int32), N offsets (int32, from the end of this table), the records;
// record k runs from offset k to offset k + 1, so a file holds N - 1 frames. A record is
//   unpacked size (int32), 256 codes (uint32), 256 code lengths (uint8), the bitstream;
// and the bitstream unpacks to a payload that starts with the frame header below.
#include <cstdint>

// ---- container ----

constexpr int kEntryCountBytes = 4;
constexpr int kOffsetBytes = 4;

// Where frame-table entry `entry` lies in the file.
constexpr int64_t frameTableEntryAt(int64_t entry) {
    return kEntryCountBytes + kOffsetBytes * entry;
}
// Where the records start in a file of `entries` table entries.
constexpr int64_t recordsStart(int64_t entries) {
    return frameTableEntryAt(entries);
}

// ---- record ----

constexpr int kCodeSymbols = 256;
constexpr int kRecordCodesAt = 4;
constexpr int kRecordLengthsAt = kRecordCodesAt + 4 * kCodeSymbols;
constexpr int kRecordTableBytes = kRecordLengthsAt + kCodeSymbols;
static_assert(kRecordTableBytes == 1284, "a record's code table is 1284 bytes");
// Longest code the decoder's bit reader takes.
constexpr int kMaxCodeLength = 32;

// ---- frame payload ----

constexpr int kPayloadHeaderBytes = 12;
// chromaMode of a frame without chroma: it decodes to grey.
constexpr int kNoChromaMode = 255;

// The frame header, field by field in file order: width and height (int16), luma cell width
// and height (int8; width 0 means raw luma), chroma cell width and height (int8), then the
// interpolate flag, a reserved byte, the residual shift and the chroma mode (uint8 each).
struct PayloadHeader {
    int32_t width = 0, height = 0;
    int32_t cellWidth = 0, cellHeight = 0, chromaCellWidth = 0, chromaCellHeight = 0;
    uint8_t interpolate = 0, reserved = 0, residualShift = 0, chromaMode = 0;
};

// ---- the decoder's limits ----

// Pixels in a frame: the interpolated luma base holds one byte per pixel.
constexpr int64_t kMaxFramePixels = 512 * 512 * 2;
// Interpolated grid rows (W bytes each) of one plane: one row per grid row, cells + 1.
constexpr int64_t kMaxGridRowBytes = 256 * 512 * 2;
// An unpacked payload.
constexpr int64_t kMaxPayloadBytes = 1 << 20;
// A side of a frame: the header's int16 fields.
constexpr int kMaxFrameSide = 32767;

// ---- reading and writing the fields ----

inline uint32_t readLE32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The entry count and the frame-table offsets are signed: a negative one marks a damaged file.
inline int32_t readInt32(const unsigned char* p) {
    return int32_t(readLE32(p));
}

inline void writeLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// log2 of a cell dimension the format allows (2, 4, 8, 16), else 0.
constexpr int cellLog2(int32_t dimension) {
    return dimension == 2 ? 1 : dimension == 4 ? 2 : dimension == 8 ? 3 : dimension == 16 ? 4 : 0;
}

// Reads the header from the first kPayloadHeaderBytes of `p`.
inline PayloadHeader readPayloadHeader(const unsigned char* p) {
    PayloadHeader h;
    h.width = int16_t(uint16_t(p[0] | p[1] << 8));
    h.height = int16_t(uint16_t(p[2] | p[3] << 8));
    h.cellWidth = int8_t(p[4]);
    h.cellHeight = int8_t(p[5]);
    h.chromaCellWidth = int8_t(p[6]);
    h.chromaCellHeight = int8_t(p[7]);
    h.interpolate = p[8];
    h.reserved = p[9];
    h.residualShift = p[10];
    h.chromaMode = p[11];
    return h;
}

// Writes the header into the first kPayloadHeaderBytes of `p`: what readPayloadHeader reads.
inline void writePayloadHeader(const PayloadHeader& h, unsigned char* p) {
    p[0] = static_cast<unsigned char>(h.width);
    p[1] = static_cast<unsigned char>(h.width >> 8);
    p[2] = static_cast<unsigned char>(h.height);
    p[3] = static_cast<unsigned char>(h.height >> 8);
    p[4] = static_cast<unsigned char>(h.cellWidth);
    p[5] = static_cast<unsigned char>(h.cellHeight);
    p[6] = static_cast<unsigned char>(h.chromaCellWidth);
    p[7] = static_cast<unsigned char>(h.chromaCellHeight);
    p[8] = h.interpolate;
    p[9] = h.reserved;
    p[10] = h.residualShift;
    p[11] = h.chromaMode;
}
