#pragma once
// PNG files through libpng, and the conversion from RGB to the encoder's YCbCr.
#include <cstdint>
#include <string>
#include <vector>

#include "vid/vid_encoder.h"

// 8-bit samples, row by row, `channels` per pixel: 3 (R, G, B) or 4 (R, G, B, A).
struct RgbImage {
    int width = 0, height = 0;
    int channels = 3;
    std::vector<uint8_t> pixels;
};

// Reads any PNG (grey, palette, RGB, with or without alpha, 8 or 16 bits) as 8-bit RGB;
// transparent parts are composited onto black. False with a one-line reason in *error.
bool readPng(const std::string& path, RgbImage* image, std::string* error);

// Writes a 3- or 4-channel image as an 8-bit RGB or RGBA PNG.
bool writePng(const std::string& path, const RgbImage& image, std::string* error);

// Studio-range BT.601: luma 16..235, colour differences 16..240 centred on 128.
YuvPicture rgbToYuv(const RgbImage& image);
