#pragma once
// Encoder for .vid files: turns YCbCr pictures into frame payloads, entropy-codes them into
// records and assembles the records into a video image.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "video/vid_format.h"

// Full-resolution 8-bit planes, BT.601 studio range (luma 16..235, chroma centred on 128).
// cb and cr may be left empty when the picture is encoded without chroma.
struct YuvPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> y, cb, cr;
};

struct EncoderOptions {
    // Luma and chroma cell sizes: 2, 4, 8 or 16 each; the picture must divide into whole cells.
    int cellWidth = 4, cellHeight = 4;
    int chromaCellWidth = 8, chromaCellHeight = 8;
    // Residual nibbles move the base luma in steps of 2^residualShift (0..7).
    int residualShift = 1;
    // A cell gets residuals when the mean squared error of its interpolated base against the
    // source luma exceeds this value; a negative threshold gives every cell residuals.
    double threshold = 12.0;
    // Off: every cell is flat (luma) or flat down the cell (chroma).
    bool interpolate = true;
    // Luma stored as one byte per pixel instead of grid and residuals.
    bool rawLuma = false;
    // No chroma section: the frame decodes to grey.
    bool noChroma = false;
};

struct FrameStats {
    size_t recordBytes = 0;   // filled by encodeFrame
    size_t payloadBytes = 0;  // uncompressed payload
    double lumaPsnr = 0;      // decoded luma against the source; +infinity when identical
    int residualCells = 0;
};

// "" when a frame of this size can be encoded with these options, otherwise a one-line reason.
std::string validateFrameSize(int width, int height, const EncoderOptions& options);
// The same for a whole picture, plane sizes included.
std::string validateOptions(const YuvPicture& picture, const EncoderOptions& options);

// The uncompressed frame payload. Throws std::invalid_argument (with validateOptions' reason)
// for a picture or options that cannot be encoded.
std::vector<uint8_t> encodePayload(const YuvPicture& picture, const EncoderOptions& options,
                                   FrameStats* stats = nullptr);
// Code table and bitstream for a payload: a length-limited prefix code (at most 32 bits) with a
// code for every byte value the payload uses.
std::vector<uint8_t> encodeRecord(const std::vector<uint8_t>& payload);
std::vector<uint8_t> encodeFrame(const YuvPicture& picture, const EncoderOptions& options,
                                 FrameStats* stats = nullptr);
// Entry count, offset table and the records back to back. Throws std::invalid_argument for an
// empty list and std::length_error when the offsets would not fit in 32 bits.
std::vector<uint8_t> buildVideoImage(const std::vector<std::vector<uint8_t>>& records);

// Peak signal-to-noise ratio of two equally long 8-bit planes, +infinity when identical.
double planePsnr(const uint8_t* a, const uint8_t* b, size_t count);
