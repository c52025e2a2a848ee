// Feeds arbitrary bytes to the encoder's PNG frame reader, as one file of a folder, and turns
// what it reads into the encoder's YCbCr. A picture it accepts must hold every pixel and give
// studio-range samples; a refusal must leave the caller's image as it was and say why.
#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "vid/png_io.h"

namespace {

// A picture over a few megapixels costs seconds to fill before the data runs out, and teaches
// the fuzzer nothing a small one does not: such inputs are skipped, judged by the header
// libpng itself reads.
bool declaresLargePicture(const uint8_t* data, size_t size) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return false;
    const bool large = uint64_t(image.width) * image.height > (1u << 22);
    png_image_free(&image);
    return large;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 18) || declaresLargePicture(data, size)) return 0;
    const std::string& path = writeFuzzFile("frame0001.png", data, size);
    RgbImage image;
    image.width = image.height = 1;
    image.channels = 4;
    image.pixels = {1, 2, 3, 4};
    std::string error;
    if (!readPng(path, &image, &error)) {
        FUZZ_CHECK(image.width == 1 && image.height == 1 && image.channels == 4 &&
                       image.pixels == std::vector<uint8_t>({1, 2, 3, 4}),
                   "a refused picture changed the image");
        FUZZ_CHECK(!error.empty() && error.find('\n') == std::string::npos,
                   "a refusal gives a one-line reason");
        return 0;
    }
    const size_t count = size_t(image.width) * size_t(image.height);
    FUZZ_CHECK(image.width > 0 && image.height > 0 && image.width <= kMaxFrameSide &&
                   image.height <= kMaxFrameSide,
               "a frame side the encoder can hold");
    FUZZ_CHECK(image.channels == 3 && image.pixels.size() == count * 3, "every pixel as RGB");
    const YuvPicture picture = rgbToYuv(image);
    FUZZ_CHECK(
        picture.y.size() == count && picture.cb.size() == count && picture.cr.size() == count,
        "a whole picture");
    for (size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(picture.y[i] >= 16 && picture.y[i] <= 235, "luma in studio range");
        FUZZ_CHECK(picture.cb[i] >= 16 && picture.cb[i] <= 240 && picture.cr[i] >= 16 &&
                       picture.cr[i] <= 240,
                   "colour differences in studio range");
    }
    return 0;
}
