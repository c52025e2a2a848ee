#include "vid/vid_encoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "vid/frame_model.h"
#include "vid/prefix_code.h"

namespace {

const int kMaxNode = 63;
const int kLumaScale = 4;
// Passes of node refinement; a third one rarely moves a node.
const int kRefinePasses = 2;

std::string dimensionReason(const char* what, int w, int h) {
    if (!cellLog2(w) || !cellLog2(h))
        return std::string(what) + " " + std::to_string(w) + "x" + std::to_string(h) +
               ": each side must be 2, 4, 8 or 16";
    return "";
}

std::string tilingReason(const char* what, int width, int height, int cw, int ch) {
    if (width % cw != 0 || height % ch != 0)
        return "frame " + std::to_string(width) + "x" + std::to_string(height) +
               " is not a whole number of " + what + " " + std::to_string(cw) + "x" +
               std::to_string(ch);
    // The decoder keeps one interpolated row per grid row, W bytes each.
    if (int64_t(width) * (height / ch + 1) > kMaxGridRowBytes)
        return std::string(what) + " " + std::to_string(cw) + "x" + std::to_string(ch) +
               " make too many grid rows for a frame " + std::to_string(width) + " wide (at most " +
               std::to_string(kMaxGridRowBytes) + " bytes of rows); use taller cells";
    return "";
}

// The grid of one plane: cell geometry and how the decoder interpolates it.
struct Grid {
    int width, height;
    int cw, ch;
    int across, down;
    int scale;
    bool interpolateRows, interpolateColumns;
    int nodesAcross() const { return across + 1; }
};

// Sum of squared errors of one cell's base against the target.
double cellError(const Grid& g, const std::vector<uint8_t>& nodes, const std::vector<float>& target,
                 int c, int r, uint8_t* base) {
    const int n = g.nodesAcross();
    cellBase(g.scale * nodes[r * n + c], g.scale * nodes[r * n + c + 1],
             g.scale * nodes[(r + 1) * n + c], g.scale * nodes[(r + 1) * n + c + 1], g.cw, g.ch,
             g.interpolateRows, g.interpolateColumns, base);
    double sum = 0;
    for (int y = 0; y < g.ch; ++y) {
        const float* t = &target[size_t(r * g.ch + y) * g.width + size_t(c) * g.cw];
        for (int x = 0; x < g.cw; ++x) {
            const double d = double(base[y * g.cw + x]) - t[x];
            sum += d * d;
        }
    }
    return sum;
}

// Weight of a sample at distance d (in samples, from the node onward) along one axis: a tent
// over the two cells beside the node when that axis is interpolated, otherwise the node's own
// cell only, which is what a flat cell shows.
double axisWeight(int d, int cell, bool interpolated) {
    if (interpolated) return d > -cell && d < cell ? 1.0 - std::abs(double(d)) / cell : 0.0;
    return d >= 0 && d < cell ? 1.0 : 0.0;
}

// Node values for one plane: start from a weighted average of the samples around every node,
// then move single nodes up or down while that lowers the error of the cells they touch.
std::vector<uint8_t> fitGrid(const Grid& g, const std::vector<float>& target) {
    const int n = g.nodesAcross();
    std::vector<uint8_t> nodes(size_t(n) * (g.down + 1));
    for (int r = 0; r <= g.down; ++r) {
        for (int c = 0; c <= g.across; ++c) {
            const int x0 = c * g.cw, y0 = r * g.ch;
            double sum = 0, weight = 0;
            for (int y = std::max(0, y0 - g.ch + 1); y < std::min(g.height, y0 + g.ch); ++y) {
                const double wy = axisWeight(y - y0, g.ch, g.interpolateColumns);
                if (wy == 0) continue;
                for (int x = std::max(0, x0 - g.cw + 1); x < std::min(g.width, x0 + g.cw); ++x) {
                    const double wx = axisWeight(x - x0, g.cw, g.interpolateRows);
                    sum += wx * wy * target[size_t(y) * g.width + x];
                    weight += wx * wy;
                }
            }
            // Nodes on the far edges of flat grids cover no samples; they copy a neighbour.
            double value;
            if (weight > 0)
                value = sum / weight;
            else if (c > 0)
                value = double(nodes[r * n + c - 1]) * g.scale;
            else
                value = double(nodes[(r - 1) * n + c]) * g.scale;
            nodes[r * n + c] = uint8_t(std::clamp(int(std::lround(value / g.scale)), 0, kMaxNode));
        }
    }

    std::vector<double> errors(size_t(g.across) * g.down);
    uint8_t base[16 * 16];
    for (int r = 0; r < g.down; ++r)
        for (int c = 0; c < g.across; ++c)
            errors[r * g.across + c] = cellError(g, nodes, target, c, r, base);
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        bool moved = false;
        for (int r = 0; r <= g.down; ++r) {
            for (int c = 0; c <= g.across; ++c) {
                const int cLo = std::max(0, c - 1), cHi = std::min(g.across - 1, c);
                const int rLo = std::max(0, r - 1), rHi = std::min(g.down - 1, r);
                double current = 0;
                for (int rr = rLo; rr <= rHi; ++rr)
                    for (int cc = cLo; cc <= cHi; ++cc) current += errors[rr * g.across + cc];
                uint8_t& node = nodes[r * n + c];
                const uint8_t original = node;
                for (int direction = -1; direction <= 1; direction += 2) {
                    for (;;) {
                        const int candidate = node + direction;
                        if (candidate < 0 || candidate > kMaxNode) break;
                        const uint8_t keep = node;
                        node = uint8_t(candidate);
                        double trial = 0;
                        double cells[4];
                        int k = 0;
                        for (int rr = rLo; rr <= rHi; ++rr)
                            for (int cc = cLo; cc <= cHi; ++cc) {
                                cells[k] = cellError(g, nodes, target, cc, rr, base);
                                trial += cells[k++];
                            }
                        if (trial >= current) {
                            node = keep;
                            break;
                        }
                        current = trial;
                        k = 0;
                        for (int rr = rLo; rr <= rHi; ++rr)
                            for (int cc = cLo; cc <= cHi; ++cc)
                                errors[rr * g.across + cc] = cells[k++];
                    }
                    if (node != original) break;
                }
                moved |= node != original;
            }
        }
        if (!moved) break;
    }
    return nodes;
}

// The nibble that brings `base` closest to `target` without wrapping past 0 or 255.
uint8_t bestNibble(int base, int target, int shift) {
    int best = 8, bestError = std::abs(base - target);
    for (int n = 0; n < 16; ++n) {
        const int value = base - (n - 8) * (1 << shift);
        if (value < 0 || value > 255) continue;
        const int error = std::abs(value - target);
        if (error < bestError) {
            best = n;
            bestError = error;
        }
    }
    return uint8_t(best);
}

void appendLumaCells(const YuvPicture& picture, const EncoderOptions& options,
                     std::vector<uint8_t>& out, int* residualCells) {
    const int bits = options.residualShift;
    Grid g{picture.width,
           picture.height,
           options.cellWidth,
           options.cellHeight,
           picture.width / options.cellWidth,
           picture.height / options.cellHeight,
           kLumaScale,
           options.interpolate,
           options.interpolate};
    std::vector<float> target(picture.y.begin(), picture.y.end());
    const std::vector<uint8_t> nodes = fitGrid(g, target);
    out.insert(out.end(), nodes.begin(), nodes.end());

    uint8_t base[16 * 16];
    const double area = double(g.cw) * g.ch;
    for (int r = 0; r < g.down; ++r) {
        for (int c = 0; c < g.across; ++c) {
            const double mse = cellError(g, nodes, target, c, r, base) / area;
            if (!(mse > options.threshold)) {
                out.push_back(1);
                continue;
            }
            out.push_back(0);
            ++*residualCells;
            for (int y = 0; y < g.ch; ++y) {
                const uint8_t* source =
                    &picture.y[size_t(r * g.ch + y) * g.width + size_t(c) * g.cw];
                for (int x = 0; x < g.cw; x += 2) {
                    const uint8_t lo = bestNibble(base[y * g.cw + x], source[x], bits);
                    const uint8_t hi = bestNibble(base[y * g.cw + x + 1], source[x + 1], bits);
                    out.push_back(uint8_t(lo | hi << 4));
                }
            }
        }
    }
}

void appendChromaGrid(const YuvPicture& picture, const EncoderOptions& options,
                      const std::vector<uint8_t>& plane, std::vector<uint8_t>& out) {
    Grid g{picture.width,
           picture.height,
           options.chromaCellWidth,
           options.chromaCellHeight,
           picture.width / options.chromaCellWidth,
           picture.height / options.chromaCellHeight,
           1,
           true,
           options.interpolate};
    // Index p stands for the colour difference 4p - 128, so the target is the sample over 4.
    std::vector<float> target(plane.size());
    for (size_t i = 0; i < plane.size(); ++i) target[i] = float(plane[i]) / 4.0f;
    const std::vector<uint8_t> nodes = fitGrid(g, target);
    out.insert(out.end(), nodes.begin(), nodes.end());
}

}  // namespace

std::string validateFrameSize(int width, int height, const EncoderOptions& options) {
    if (width <= 0 || height <= 0)
        return "frame size " + std::to_string(width) + "x" + std::to_string(height) + " is empty";
    if (width > kMaxFrameSide || height > kMaxFrameSide)
        return "frame " + std::to_string(width) + "x" + std::to_string(height) +
               " is too large: each side must be at most " + std::to_string(kMaxFrameSide);
    if (int64_t(width) * height > kMaxFramePixels)
        return "frame " + std::to_string(width) + "x" + std::to_string(height) +
               " is too large: at most " + std::to_string(kMaxFramePixels) +
               " pixels (for example 1024x512)";
    if (options.residualShift < 0 || options.residualShift > 7)
        return "residual shift " + std::to_string(options.residualShift) + " is not in 0..7";
    if (std::isnan(options.threshold)) return "threshold is not a number";
    if (!options.rawLuma) {
        std::string reason = dimensionReason("luma cells", options.cellWidth, options.cellHeight);
        if (reason.empty())
            reason =
                tilingReason("luma cells", width, height, options.cellWidth, options.cellHeight);
        if (!reason.empty()) return reason;
    }
    if (!options.noChroma) {
        std::string reason =
            dimensionReason("chroma cells", options.chromaCellWidth, options.chromaCellHeight);
        if (reason.empty())
            reason = tilingReason("chroma cells", width, height, options.chromaCellWidth,
                                  options.chromaCellHeight);
        if (!reason.empty()) return reason;
    }
    return "";
}

std::string validateOptions(const YuvPicture& picture, const EncoderOptions& options) {
    std::string reason = validateFrameSize(picture.width, picture.height, options);
    if (!reason.empty()) return reason;
    const size_t count = size_t(picture.width) * size_t(picture.height);
    if (picture.y.size() != count) return "luma plane does not hold width x height samples";
    if (!options.noChroma && (picture.cb.size() != count || picture.cr.size() != count))
        return "chroma planes do not hold width x height samples";
    return "";
}

double planePsnr(const uint8_t* a, const uint8_t* b, size_t count) {
    if (count == 0) return std::numeric_limits<double>::infinity();
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * double(count) / sum);
}

std::vector<uint8_t> encodePayload(const YuvPicture& picture, const EncoderOptions& options,
                                   FrameStats* stats) {
    const std::string reason = validateOptions(picture, options);
    if (!reason.empty()) throw std::invalid_argument(reason);

    PayloadHeader header;
    header.width = picture.width;
    header.height = picture.height;
    header.cellWidth = options.rawLuma ? 0 : options.cellWidth;
    header.cellHeight = options.rawLuma ? 0 : options.cellHeight;
    header.chromaCellWidth = options.noChroma ? 0 : options.chromaCellWidth;
    header.chromaCellHeight = options.noChroma ? 0 : options.chromaCellHeight;
    header.interpolate = options.interpolate ? 1 : 0;
    header.residualShift = uint8_t(options.residualShift);
    header.chromaMode = options.noChroma ? uint8_t(kNoChromaMode) : 0;
    std::vector<uint8_t> out(kPayloadHeaderBytes);
    writePayloadHeader(header, out.data());

    int residualCells = 0;
    if (options.rawLuma)
        out.insert(out.end(), picture.y.begin(), picture.y.end());
    else
        appendLumaCells(picture, options, out, &residualCells);
    if (!options.noChroma) {
        appendChromaGrid(picture, options, picture.cr, out);
        appendChromaGrid(picture, options, picture.cb, out);
    }
    if (int64_t(out.size()) > kMaxPayloadBytes)
        throw std::invalid_argument("frame payload of " + std::to_string(out.size()) +
                                    " bytes exceeds the decoder's " +
                                    std::to_string(kMaxPayloadBytes));

    if (stats) {
        stats->payloadBytes = out.size();
        stats->residualCells = residualCells;
        std::vector<uint8_t> pixels;
        modelFrame(out, &pixels);
        std::vector<uint8_t> luma(picture.y.size());
        for (size_t i = 0; i < luma.size(); ++i) luma[i] = pixels[4 * i];
        stats->lumaPsnr = planePsnr(luma.data(), picture.y.data(), luma.size());
    }
    return out;
}

std::vector<uint8_t> encodeRecord(const std::vector<uint8_t>& payload) {
    if (payload.size() > size_t(std::numeric_limits<int32_t>::max()))
        throw std::length_error("payload too large for a record");
    uint64_t counts[kCodeSymbols] = {};
    for (uint8_t v : payload) ++counts[v];
    uint8_t lengths[kCodeSymbols];
    uint32_t codes[kCodeSymbols];
    limitedCodeLengths(counts, kMaxCodeLength, lengths);
    canonicalCodes(lengths, codes);

    const std::vector<uint8_t> stream = packCodes(payload, lengths, codes);
    std::vector<uint8_t> out(kRecordTableBytes);
    writeLE32(out.data(), uint32_t(payload.size()));
    for (int s = 0; s < kCodeSymbols; ++s) writeLE32(&out[kRecordCodesAt + 4 * s], codes[s]);
    std::copy(lengths, lengths + kCodeSymbols, &out[kRecordLengthsAt]);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::vector<uint8_t> encodeFrame(const YuvPicture& picture, const EncoderOptions& options,
                                 FrameStats* stats) {
    std::vector<uint8_t> record = encodeRecord(encodePayload(picture, options, stats));
    if (stats) stats->recordBytes = record.size();
    return record;
}

std::vector<uint8_t> buildVideoImage(const std::vector<std::vector<uint8_t>>& records) {
    if (records.empty()) throw std::invalid_argument("a video needs at least one frame");
    const int64_t entries = int64_t(records.size()) + 1;
    uint64_t total = uint64_t(recordsStart(entries));
    for (const auto& r : records) total += r.size();
    if (total > uint64_t(std::numeric_limits<int32_t>::max()))
        throw std::length_error("video larger than 2 GiB");
    std::vector<uint8_t> out(size_t(recordsStart(entries)));
    out.reserve(size_t(total));
    writeLE32(out.data(), uint32_t(entries));
    uint32_t offset = 0;
    for (int64_t i = 0; i < entries; ++i) {
        writeLE32(&out[size_t(frameTableEntryAt(i))], offset);
        if (i < entries - 1) offset += uint32_t(records[size_t(i)].size());
    }
    for (const auto& r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}
