// Feeds arbitrary bytes to the CPU renderer's JPEG texture loader. A picture it accepts must
// give a power-of-two texture no smaller than the picture, with every texel opaque; one it
// refuses must leave the texture empty and say why in one line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backend/imaging/jpeg_texture.h"
#include "fuzz_file.h"

namespace {

// A picture over a megapixel costs the loader a quarter of a second or more before it finds
// the data missing, and teaches the fuzzer nothing a small one does not: such inputs are
// skipped. Any frame header counts, wherever it lies, so no large picture slips through.
bool declaresLargePicture(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 9 <= size; ++at) {
        if (data[at] != 0xFF) continue;
        const uint8_t m = data[at + 1];
        if (m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC) continue;
        const uint32_t h = uint32_t(data[at + 5]) << 8 | data[at + 6];
        const uint32_t w = uint32_t(data[at + 7]) << 8 | data[at + 8];
        if (uint64_t(w) * h > (1u << 20)) return true;
    }
    return false;
}

bool powerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 18) || declaresLargePicture(data, size)) return 0;
    const std::string& path = writeFuzzFile("picture.jpg", data, size);
    TextureImage texture;
    texture.width = texture.height = 3;
    texture.texels.assign(9, 0x12345678u);
    std::string error = "untouched";
    if (!loadJpegTexture(path, &texture, &error)) {
        FUZZ_CHECK(texture.width == 0 && texture.height == 0 && texture.texels.empty(),
                   "a refused picture left texels behind");
        FUZZ_CHECK(!error.empty() && error != "untouched", "a refusal gave no reason");
        FUZZ_CHECK(error.find('\n') == std::string::npos, "the reason is not one line");
        return 0;
    }
    FUZZ_CHECK(powerOfTwo(texture.width) && powerOfTwo(texture.height),
               "texture sides are powers of two");
    FUZZ_CHECK(texture.width <= kMaxJpegTextureSide && texture.height <= kMaxJpegTextureSide,
               "texture within the largest side");
    FUZZ_CHECK(texture.texels.size() == size_t(texture.width) * texture.height,
               "one texel per place");
    for (uint32_t texel : texture.texels) FUZZ_CHECK(texel >> 24 == 0xFF, "every texel opaque");
    return 0;
}
