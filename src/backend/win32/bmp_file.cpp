#include "backend/win32/bmp_file.h"

#include <cstdio>

namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = uint8_t(value);
    out[at + 1] = uint8_t(value >> 8);
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    put16(out, at, value & 0xFFFF);
    put16(out, at + 2, value >> 16);
}

constexpr size_t kHeaderBytes = 14 + 40;

}  // namespace

std::vector<uint8_t> encodeBmp(const uint32_t* pixels, int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0) return {};
    // Each row is padded to a multiple of four bytes.
    const uint64_t rowBytes = (uint64_t(width) * 3 + 3) / 4 * 4;
    const uint64_t fileBytes = kHeaderBytes + rowBytes * uint64_t(height);
    if (fileBytes > 0x7FFFFFFFu) return {};
    std::vector<uint8_t> out(size_t(fileBytes), 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, uint32_t(fileBytes));
    put32(out, 10, uint32_t(kHeaderBytes));
    put32(out, 14, 40);
    put32(out, 18, uint32_t(width));
    // A positive height: rows are stored from the bottom up, which every reader understands.
    put32(out, 22, uint32_t(height));
    put16(out, 26, 1);
    put16(out, 28, 24);
    put32(out, 34, uint32_t(rowBytes * uint64_t(height)));
    put32(out, 38, 2835);  // 72 dots per inch
    put32(out, 42, 2835);
    for (int y = 0; y < height; ++y) {
        const uint32_t* source = pixels + size_t(y) * size_t(width);
        uint8_t* row = out.data() + kHeaderBytes + size_t(height - 1 - y) * size_t(rowBytes);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = source[x];
            row[x * 3] = uint8_t(p);
            row[x * 3 + 1] = uint8_t(p >> 8);
            row[x * 3 + 2] = uint8_t(p >> 16);
        }
    }
    return out;
}

std::string captureFileName(uint64_t frame) {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%06llu.bmp", static_cast<unsigned long long>(frame));
    return name;
}
