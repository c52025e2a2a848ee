// Feeds arbitrary bytes to the video path the show runs: open, decode every frame (and one index
// past the end), run the image effects with parameters taken from the input, convert to texels.
// The surface is exactly the frame's size, so the sanitizer catches a write past it; the texels
// are followed by a guard that must stay as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_file.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

VideoDecoder& decoder() {
    static VideoDecoder* instance = [] {
        auto* d = new VideoDecoder();
        d->init();
        return d;
    }();
    return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 22)) return 0;
    // A copy of exactly the input's size, so any read past the image is caught.
    std::vector<uint8_t> bytes(data, data + size);
    VideoImage image{bytes.data(), static_cast<int32_t>(size)};
    VideoDecoder& dec = decoder();
    dec.frameCount(image);
    int entries = dec.open(image);
    if (entries < 2) return 0;
    int w = dec.width(), h = dec.height();
    YUVSurface surface(w, h);
    std::memset(surface.pixels(), 0, size_t(surface.bytes()));
    // The texture's rows, then a guard the conversions must never reach.
    const size_t texelBytes = size_t(w) * size_t(h) * 4;
    const size_t kGuard = 64;
    std::vector<uint8_t> texels(texelBytes + kGuard, 0xA5);
    auto guardIntact = [&] {
        for (size_t i = texelBytes; i < texels.size(); ++i)
            if (texels[i] != 0xA5) return false;
        return true;
    };

    uint8_t knob = size > 8 ? data[size - 1] : 0;
    int frames = entries - 1 < 6 ? entries - 1 : 6;
    for (int index = 0; index <= frames; ++index) {
        dec.decodeFrame(image, surface.pixels(), surface.bytes(), index);
        surface.addNoise(0, knob % 40);
        surface.adjustLevels(0, (knob % 7) * 0.5f - 1.0f, (knob % 5) * 1.5f);
        surface.blurRun(0, int(knob % 17) - 8);
        surface.blurColumns(0, int((knob >> 3) % 17) - 8);
        surface.sharpen(0, knob % 8);
        dec.toARGB(surface.pixels(), texels.data(), w * 4, w, h);
        surface.adjustLevels(0, 1.5f, 3.0f);
        dec.copyLane(surface.pixels(), texels.data(), 3, w * 4, w, h);
        FUZZ_CHECK(guardIntact(), "a conversion wrote past the texture");
    }
    return 0;
}
