#include "vid/png_io.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Larger pictures cannot be .vid frames; refusing them early keeps a hostile header from
// making us allocate gigabytes.
const png_uint_32 kMaxSide = png_uint_32(kMaxFrameSide);

uint8_t toByte(double v) {
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

bool readPng(const std::string& path, RgbImage* out, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = "cannot read PNG " + path + ": " + image.message;
        return false;
    }
    if (image.width > kMaxSide || image.height > kMaxSide) {
        png_image_free(&image);
        *error = "PNG " + path + " is too large (" + std::to_string(image.width) + "x" +
                 std::to_string(image.height) + ")";
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    // Decoded aside: a damaged file must leave the caller's image as it was.
    RgbImage read;
    read.width = int(image.width);
    read.height = int(image.height);
    read.channels = 3;
    read.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    const png_color black = {0, 0, 0};
    if (!png_image_finish_read(&image, &black, read.pixels.data(), 0, nullptr)) {
        *error = "cannot decode PNG " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    *out = std::move(read);
    return true;
}

bool writePng(const std::string& path, const RgbImage& in, std::string* error) {
    if (in.channels != 3 && in.channels != 4) {
        *error = "PNG output needs 3 or 4 channels";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(in.width);
    image.height = png_uint_32(in.height);
    image.format = in.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, in.pixels.data(), 0, nullptr)) {
        *error = "cannot write PNG " + path + ": " + image.message;
        return false;
    }
    return true;
}

YuvPicture rgbToYuv(const RgbImage& image) {
    YuvPicture p;
    p.width = image.width;
    p.height = image.height;
    const size_t count = size_t(image.width) * size_t(image.height);
    p.y.resize(count);
    p.cb.resize(count);
    p.cr.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* px = &image.pixels[i * size_t(image.channels)];
        const double r = px[0], g = px[1], b = px[2];
        p.y[i] = toByte(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
        p.cb[i] = toByte(128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0);
        p.cr[i] = toByte(128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0);
    }
    return p;
}
