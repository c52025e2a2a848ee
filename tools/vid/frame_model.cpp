#include "vid/frame_model.h"

#include <cstddef>

namespace {

bool fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

// Horizontal then vertical pass over a whole grid into `plane` (W bytes per row).
// `scale` multiplies the node values (4 for luma); `signedRows` says how the vertical pass
// reads the row samples (chroma reads them as signed bytes, luma as unsigned).
void interpolateGrid(const uint8_t* nodes, int width, int across, int down, int cw, int ch,
                     int scale, bool interpolateRows, bool interpolateColumns, bool signedRows,
                     uint8_t* plane) {
    std::vector<uint8_t> rows(size_t(width) * size_t(down + 1));
    for (int r = 0; r <= down; ++r) {
        const int8_t* row = reinterpret_cast<const int8_t*>(nodes) + r * (across + 1);
        for (int c = 0; c < across; ++c)
            rampSamples(scale * row[c], scale * row[c + 1], cw, interpolateRows,
                        &rows[size_t(r) * width + size_t(c) * cw], 1);
    }
    for (int r = 0; r < down; ++r) {
        for (int x = 0; x < width; ++x) {
            const uint8_t a = rows[size_t(r) * width + x], b = rows[size_t(r + 1) * width + x];
            const int av = signedRows ? int(int8_t(a)) : int(a);
            const int bv = signedRows ? int(int8_t(b)) : int(b);
            rampSamples(av, bv, ch, interpolateColumns, &plane[size_t(r) * ch * width + x], width);
        }
    }
}

}  // namespace

void rampSamples(int a, int b, int n, bool interpolate, uint8_t* out, int stride) {
    const int log2n = cellLog2(n);
    uint32_t acc = uint32_t(a) << 16;
    const uint32_t step = interpolate ? uint32_t(b - a) << (16 - log2n) : 0u;
    for (int i = 0; i < n; ++i, acc += step) out[size_t(i) * size_t(stride)] = uint8_t(acc >> 16);
}

void cellBase(int topLeft, int topRight, int bottomLeft, int bottomRight, int cw, int ch,
              bool interpolateRows, bool interpolateColumns, uint8_t* out) {
    uint8_t top[16], bottom[16];
    rampSamples(topLeft, topRight, cw, interpolateRows, top, 1);
    rampSamples(bottomLeft, bottomRight, cw, interpolateRows, bottom, 1);
    for (int x = 0; x < cw; ++x)
        rampSamples(top[x], bottom[x], ch, interpolateColumns, out + x, cw);
}

bool modelFrame(const std::vector<uint8_t>& payload, std::vector<uint8_t>* pixels,
                std::string* error) {
    if (payload.size() < size_t(kPayloadHeaderBytes))
        return fail(error, "payload shorter than its header");
    const PayloadHeader h = readPayloadHeader(payload.data());
    const int w = h.width, ht = h.height;
    if (w <= 0 || ht <= 0) return fail(error, "frame size is not positive");
    const size_t count = size_t(w) * size_t(ht);
    const bool smooth = h.interpolate != 0;
    size_t at = kPayloadHeaderBytes;
    auto need = [&](size_t bytes) { return at + bytes <= payload.size(); };

    pixels->assign(count * 4, 0);
    std::vector<uint8_t> luma(count);
    if (h.cellWidth != 0) {
        const int cw = h.cellWidth, ch = h.cellHeight;
        if (!cellLog2(cw) || !cellLog2(ch) || w % cw || ht % ch)
            return fail(error, "luma cells do not tile the frame");
        const int nx = w / cw, ny = ht / ch;
        const size_t nodes = size_t(nx + 1) * size_t(ny + 1);
        if (!need(nodes)) return fail(error, "payload ends inside the luma nodes");
        interpolateGrid(&payload[at], w, nx, ny, cw, ch, 4, smooth, smooth, false, luma.data());
        at += nodes;
        const unsigned shift = unsigned(h.residualShift);
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                if (!need(1)) return fail(error, "payload ends inside the cell data");
                if (payload[at++] != 0) continue;
                if (!need(size_t(ch) * size_t(cw / 2)))
                    return fail(error, "payload ends inside the residuals");
                for (int y = 0; y < ch; ++y) {
                    for (int m = 0; m < cw / 2; ++m) {
                        const uint8_t v = payload[at++];
                        const size_t idx = size_t(j * ch + y) * w + size_t(i * cw + 2 * m);
                        // Residuals move the base modulo 256; a shift of 8 or more moves it by
                        // a multiple of 256, that is not at all.
                        const uint32_t lo = shift >= 8 ? 0u : uint32_t((v & 15) - 8) << shift;
                        const uint32_t hi = shift >= 8 ? 0u : uint32_t((v >> 4) - 8) << shift;
                        luma[idx] = uint8_t(luma[idx] - lo);
                        luma[idx + 1] = uint8_t(luma[idx + 1] - hi);
                    }
                }
            }
        }
    } else {
        if (!need(count)) return fail(error, "payload ends inside the raw luma");
        for (size_t i = 0; i < count; ++i) luma[i] = payload[at + i];
        at += count;
    }
    for (size_t i = 0; i < count; ++i) (*pixels)[4 * i] = luma[i];

    if (h.chromaMode != kNoChromaMode) {
        const int cw = h.chromaCellWidth, ch = h.chromaCellHeight;
        if (!cellLog2(cw) || !cellLog2(ch) || w % cw || ht % ch)
            return fail(error, "chroma cells do not tile the frame");
        const int nx = w / cw, ny = ht / ch;
        const size_t grid = size_t(nx + 1) * size_t(ny + 1);
        if (!need(2 * grid)) return fail(error, "payload ends inside the chroma grids");
        std::vector<uint8_t> plane(count);
        for (int g = 0; g < 2; ++g) {
            interpolateGrid(&payload[at + g * grid], w, nx, ny, cw, ch, 1, true, smooth, true,
                            plane.data());
            for (size_t i = 0; i < count; ++i) (*pixels)[4 * i + 1 + g] = plane[i];
        }
    }
    return true;
}
