#pragma once
// Pictures and streams the tool tests encode.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "vid/vid_encoder.h"

namespace vidtools_test {

// Smooth luma ramp with gentle chroma waves: what the interpolated grids are made for.
inline YuvPicture gradientPicture(int w, int h) {
    YuvPicture p;
    p.width = w;
    p.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            p.y.push_back(uint8_t(16 + (219 * (x + y)) / (w + h - 2)));
            p.cb.push_back(uint8_t(128 + 80 * std::sin(x / 20.0)));
            p.cr.push_back(uint8_t(128 + 80 * std::cos(y / 16.0)));
        }
    return p;
}

// The gradient with mild noise (+-6) on the luma: the residuals' work.
inline YuvPicture texturedPicture(int w, int h, uint32_t seed = 3) {
    YuvPicture p = gradientPicture(w, h);
    for (uint8_t& v : p.y) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(int(v) + int((seed >> 24) % 13) - 6);
    }
    return p;
}

// Full-range noise over a few hard edges, including samples at 0 and 255.
inline YuvPicture noisyPicture(int w, int h, uint32_t seed = 7) {
    YuvPicture p;
    p.width = w;
    p.height = h;
    uint32_t s = seed;
    auto next = [&]() {
        s = s * 1664525u + 1013904223u;
        return s >> 24;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int edge = (x / 5 + y / 3) % 2 ? 200 : 40;
            int v = edge + int(next() % 61) - 30;
            if ((x * 7 + y * 3) % 23 == 0) v = 255;
            if ((x * 5 + y * 11) % 29 == 0) v = 0;
            p.y.push_back(uint8_t(v < 0 ? 0 : v > 255 ? 255 : v));
            p.cb.push_back(uint8_t(next()));
            p.cr.push_back(uint8_t(next()));
        }
    return p;
}

// A YUV4MPEG2 stream of the given frames in 4:2:0 (chroma averaged over 2x2) or 4:4:4.
inline std::string y4mStream(const std::vector<YuvPicture>& frames, bool full,
                             const std::string& extraHeader = "") {
    const int w = frames.at(0).width, h = frames.at(0).height;
    std::string out = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) +
                      " F25:1 Ip A1:1" + (full ? " C444" : "") + extraHeader + "\n";
    for (const YuvPicture& f : frames) {
        out += "FRAME\n";
        out.append(f.y.begin(), f.y.end());
        for (const std::vector<uint8_t>* plane : {&f.cb, &f.cr}) {
            if (full) {
                out.append(plane->begin(), plane->end());
                continue;
            }
            for (int y = 0; y < (h + 1) / 2; ++y)
                for (int x = 0; x < (w + 1) / 2; ++x) {
                    int sum = 0, n = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx)
                            if (2 * y + dy < h && 2 * x + dx < w) {
                                sum += (*plane)[size_t(2 * y + dy) * w + size_t(2 * x + dx)];
                                ++n;
                            }
                    out.push_back(char(sum / n));
                }
        }
    }
    return out;
}

}  // namespace vidtools_test
