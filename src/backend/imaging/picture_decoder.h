#pragma once
// Image files to pixels, for textures made from files. picture_decoder_jpeg.cpp decodes JPEG
// with libjpeg-turbo; a build that has an image decoder of its own (the browser's) replaces
// that one file.
#include <cstddef>
#include <string>
#include <vector>

// 8-bit samples, rows from the top: 1 per pixel (grey) or 3 (red, green, blue).
struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    unsigned components = 0;
    std::vector<unsigned char> samples;
};

// Decodes a whole file held in memory. Pictures wider or taller than maxSide are refused before
// they are decoded. A damaged file is a failure, never a partial picture; on failure *error
// holds a one-line reason (possibly empty when the decoder gave none).
bool decodePicture(const unsigned char* data, size_t size, unsigned maxSide, Picture* out,
                   std::string* error);
