// Writes a small seed corpus of valid .vid images for the fuzzer, made by our encoder with a
// spread of options so every branch of the decoder has a starting point.
#include <cstdio>
#include <string>
#include <vector>

#include "vid/vid_encoder.h"

namespace {

YuvPicture picture(int w, int h, int seed) {
    YuvPicture p;
    p.width = w;
    p.height = h;
    p.y.resize(size_t(w) * h);
    p.cb.resize(size_t(w) * h);
    p.cr.resize(size_t(w) * h);
    uint32_t s = 12345u + uint32_t(seed) * 7919u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1103515245u + 12345u;
            size_t i = size_t(y) * w + x;
            p.y[i] = uint8_t(16 + (x * 7 + y * 3 + seed * 40) % 200 + ((s >> 16) % 24));
            p.cb[i] = uint8_t(128 + ((x - y) * 2 + seed * 11) % 90);
            p.cr[i] = uint8_t(128 - ((x + y) * 3 + seed * 5) % 90);
        }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    struct Variant {
        int w, h;
        EncoderOptions options;
    };
    std::vector<Variant> variants;
    EncoderOptions base;
    variants.push_back({32, 32, base});
    EncoderOptions cells2 = base;
    cells2.cellWidth = cells2.cellHeight = 2;
    cells2.chromaCellWidth = cells2.chromaCellHeight = 2;
    cells2.threshold = 0;
    variants.push_back({16, 16, cells2});
    EncoderOptions cells16 = base;
    cells16.cellWidth = cells16.cellHeight = 16;
    cells16.chromaCellWidth = cells16.chromaCellHeight = 16;
    cells16.interpolate = false;
    variants.push_back({64, 32, cells16});
    EncoderOptions raw = base;
    raw.rawLuma = true;
    variants.push_back({16, 8, raw});
    EncoderOptions grey = base;
    grey.noChroma = true;
    grey.residualShift = 3;
    variants.push_back({32, 16, grey});

    int written = 0;
    for (size_t v = 0; v < variants.size(); ++v) {
        std::vector<std::vector<uint8_t>> records;
        for (int f = 0; f < 3; ++f)
            records.push_back(encodeFrame(picture(variants[v].w, variants[v].h, f + int(v)),
                                          variants[v].options));
        std::vector<uint8_t> image = buildVideoImage(records);
        std::string path = std::string(argv[1]) + "/seed" + std::to_string(v) + ".vid";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(image.data(), 1, image.size(), f) != image.size()) {
            std::fprintf(stderr, "make_corpus: cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(f);
        ++written;
    }
    std::fprintf(stderr, "make_corpus: %d seeds in %s\n", written, argv[1]);
    return 0;
}
