#pragma once
// Captured frames as BMP files: 24-bit, no compression, the layout every image tool reads.
#include <cstdint>
#include <string>
#include <vector>

// The file's bytes for width x height pixels (0xAARRGGBB, rows from the top). Alpha is not
// part of the picture and is dropped. Empty for a size of zero or less, or one whose file would
// not fit the format's 32-bit sizes.
std::vector<uint8_t> encodeBmp(const uint32_t* pixels, int width, int height);

// "frame_000123.bmp": the k-th frame of the show, numbered as the Linux capture numbers its files.
std::string captureFileName(uint64_t frame);
