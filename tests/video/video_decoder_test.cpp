#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "video/record_builder.h"

namespace {

using vidtest::Bytes;
using vidtest::Header;

const uint8_t kUntouched = 0xEE;

Bytes blankPixels(int w, int h) {
    return Bytes(size_t(w) * size_t(h) * 4, kUntouched);
}

int decodePayload(VideoDecoder& d, const Bytes& payload, Bytes& pixels, int outBytes = -2) {
    const Bytes record = vidtest::record(payload);
    return d.decodeRecord(record.data(), pixels.data(),
                          outBytes == -2 ? int(pixels.size()) : outBytes, int(record.size()));
}

// Frame reconstruction done literally: one 16.16 accumulator per run, one sample at a time.
void referenceFrame(const Bytes& p, Bytes& out) {
    auto s8 = [&](size_t i) { return int(int8_t(p[i])); };
    auto log2 = [](int v) {
        int k = 0;
        while ((1 << k) < v) ++k;
        return k;
    };
    auto ramp = [](int a, int b, int k, bool on, int n,
                   const std::function<void(int, uint8_t)>& put) {
        uint32_t step = on ? uint32_t(b - a) << (16 - k) : 0, acc = uint32_t(a) << 16;
        for (int i = 0; i < n; ++i, acc += step) put(i, uint8_t(acc >> 16));
    };
    const int w = int16_t(p[0] | p[1] << 8), h = int16_t(p[2] | p[3] << 8);
    const int cw = s8(4), ch = s8(5), ccw = s8(6), cch = s8(7);
    const bool smooth = p[8] != 0;
    size_t pos = 12;
    if (cw != 0) {
        const int nx = w / cw, ny = h / ch;
        std::vector<uint8_t> rows(size_t(w * (ny + 1))), base(size_t(w * h));
        for (int r = 0; r <= ny; ++r)
            for (int c = 0; c < nx; ++c)
                ramp(4 * s8(pos + r * (nx + 1) + c), 4 * s8(pos + r * (nx + 1) + c + 1), log2(cw),
                     smooth, cw, [&](int x, uint8_t v) { rows[size_t(r * w + c * cw + x)] = v; });
        for (int r = 0; r < ny; ++r)
            for (int x = 0; x < w; ++x)
                ramp(rows[size_t(r * w + x)], rows[size_t((r + 1) * w + x)], log2(ch), smooth, ch,
                     [&](int y, uint8_t v) { base[size_t((r * ch + y) * w + x)] = v; });
        pos += size_t((nx + 1) * (ny + 1));
        int moved[16];
        for (int n = 0; n < 16; ++n) {
            moved[n] = n - 8;
            for (int s = 0; s < p[10]; ++s) moved[n] = (moved[n] * 2) % 256;
        }
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const bool flat = p[pos++] != 0;
                for (int y = 0; y < ch; ++y)
                    for (int x = 0; x < cw; x += 2) {
                        const size_t idx = size_t((j * ch + y) * w + i * cw + x);
                        const int v = flat ? 8 * 17 : p[pos++];
                        for (int half = 0; half < 2; ++half)
                            out[4 * (idx + half)] =
                                uint8_t(base[idx + half] - moved[half ? v >> 4 : v & 15]);
                    }
            }
    } else {
        for (int i = 0; i < w * h; ++i) out[size_t(4 * i)] = p[pos++];
    }
    if (p[11] == 255) return;
    const int cnx = w / ccw, cny = h / cch;
    for (int lane = 1; lane <= 2; ++lane) {
        std::vector<uint8_t> rows(size_t(w * (cny + 1)));
        for (int r = 0; r <= cny; ++r)
            for (int c = 0; c < cnx; ++c)
                ramp(s8(pos + r * (cnx + 1) + c), s8(pos + r * (cnx + 1) + c + 1), log2(ccw), true,
                     ccw, [&](int x, uint8_t v) { rows[size_t(r * w + c * ccw + x)] = v; });
        for (int r = 0; r < cny; ++r)
            for (int x = 0; x < w; ++x)
                ramp(int8_t(rows[size_t(r * w + x)]), int8_t(rows[size_t((r + 1) * w + x)]),
                     log2(cch), smooth, cch, [&](int y, uint8_t v) {
                         out[size_t(4 * ((r * cch + y) * w + x) + lane)] = v;
                     });
        pos += size_t((cnx + 1) * (cny + 1));
    }
}

// A payload of the given header with every section filled from `fill`; sections whose size
// the header makes meaningless are left out.
Bytes payloadOf(
    const Header& h, const std::function<uint8_t(size_t)>& fill,
    const std::function<uint8_t()>& flag = [] { return uint8_t(0); }) {
    Bytes p = vidtest::payloadHeader(h);
    auto add = [&](int64_t n) {
        for (int64_t i = 0; i < n; ++i) p.push_back(fill(p.size()));
    };
    auto per = [](int total, int cell) { return total > 0 && cell > 0 ? total / cell : 0; };
    if (h.cellWidth != 0) {
        const int nx = per(h.width, h.cellWidth), ny = per(h.height, h.cellHeight);
        add(int64_t(nx + 1) * (ny + 1));
        for (int c = 0; c < nx * ny; ++c) {
            p.push_back(flag());
            if (p.back() == 0) add(h.cellHeight * h.cellWidth / 2);
        }
    } else {
        add(int64_t(std::max(h.width, 0)) * std::max(h.height, 0));
    }
    if (h.chromaMode != 255)
        add(2 * int64_t(per(h.width, h.chromaCellWidth) + 1) *
            (per(h.height, h.chromaCellHeight) + 1));
    return p;
}

class VideoDecoderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(decoder.init(), 1); }
    VideoDecoder decoder;
};

TEST_F(VideoDecoderTest, RawLumaIsCopiedAndChromaFollowsIt) {
    Header h;
    h.width = 16;
    h.height = 8;
    Bytes p = payloadOf(h, [](size_t at) {
        return uint8_t(at < 12 + 128 ? at * 3 : at < 12 + 134 ? 10 : 20);
    });
    Bytes px = blankPixels(16, 8);
    ASSERT_EQ(decodePayload(decoder, p, px), 1);
    EXPECT_EQ(decoder.lastResult, 1);
    EXPECT_EQ(decoder.chromaOffset, 128);
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(px[4 * i], uint8_t((12 + i) * 3));
        ASSERT_EQ(px[4 * i + 1], 10);
        ASSERT_EQ(px[4 * i + 2], 20);
        ASSERT_EQ(px[4 * i + 3], kUntouched);
    }
}

TEST_F(VideoDecoderTest, InterpolationOffLeavesLumaFlatAndChromaFlatDownward) {
    Header h;
    h.width = 8;
    h.height = 4;
    h.cellWidth = h.cellHeight = 4;
    h.chromaCellWidth = h.chromaCellHeight = 4;
    h.interpolate = 0;
    Bytes p = vidtest::payloadHeader(h);
    vidtest::append(p, {10, 20, 30, 40, 50, 60, 1, 1});               // nodes, two flat cells
    vidtest::append(p, {0, 8, 16, 32, 40, 48, 63, 63, 63, 0, 0, 0});  // Cr, Cb grids
    Bytes px = blankPixels(8, 4);
    ASSERT_EQ(decodePayload(decoder, p, px), 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            const int i = 4 * (y * 8 + x);
            EXPECT_EQ(px[i], x < 4 ? 40 : 80);
            EXPECT_EQ(px[i + 1], 2 * x) << "Cr still runs along the row";
            EXPECT_EQ(px[i + 2], 63);
        }
}

TEST_F(VideoDecoderTest, ResidualsWrapAroundAndNodesRampAlongTheRow) {
    Header h;
    h.width = h.height = 2;
    h.cellWidth = h.cellHeight = 2;
    h.chromaMode = 255;
    h.residualShift = 2;
    Bytes p = vidtest::payloadHeader(h);
    vidtest::append(p, {60, 60, 60, 60, 0, 0x80, 0xF1});
    Bytes px = blankPixels(2, 2);
    ASSERT_EQ(decodePayload(decoder, p, px), 1);
    // Base 240: nibble 0 adds 32 and wraps to 16; 8 keeps it; 1 adds 28 (wraps); 15 subtracts 28.
    EXPECT_EQ(vidtest::lane(px, 0), (Bytes{16, 240, 12, 212}));
    EXPECT_EQ(vidtest::lane(px, 1), Bytes(4, kUntouched)) << "no chroma section";
    EXPECT_EQ(vidtest::lane(px, 2), Bytes(4, kUntouched));

    h.width = 16;
    h.cellWidth = 16;
    p = vidtest::payloadHeader(h);
    vidtest::append(p, {0, 63, 0, 63, 1});
    px = blankPixels(16, 2);
    ASSERT_EQ(decodePayload(decoder, p, px), 1);
    const Bytes ramp = {0, 15, 31, 47, 63, 78, 94, 110, 126, 141, 157, 173, 189, 204, 220, 236};
    const Bytes luma = vidtest::lane(px, 0);
    EXPECT_EQ(Bytes(luma.begin(), luma.begin() + 16), ramp);
}

TEST_F(VideoDecoderTest, MatchesTheLiteralReconstructionOnRandomFrames) {
    std::mt19937 rng(11);
    const int dims[] = {2, 4, 8, 16};
    for (int round = 0; round < 400; ++round) {
        Header h;
        h.cellWidth = rng() % 5 == 0 ? 0 : dims[rng() % 4];
        h.cellHeight = dims[rng() % 4];
        h.chromaCellWidth = dims[rng() % 4];
        h.chromaCellHeight = dims[rng() % 4];
        h.chromaMode = rng() % 4 == 0 ? 255 : int(rng() % 255);
        h.interpolate = rng() % 3 == 0 ? 0 : int(1 + rng() % 255);
        h.reserved = int(rng() % 256);
        h.residualShift = rng() % 8 == 0 ? int(8 + rng() % 248) : int(rng() % 8);
        const int unitW = std::max(h.cellWidth, h.chromaCellWidth);
        const int unitH = std::max(h.cellHeight, h.chromaCellHeight);
        h.width = unitW * int(1 + rng() % (160 / unitW));
        h.height = unitH * int(1 + rng() % (48 / unitH));
        const int flatShare = int(rng() % 3);
        Bytes p = payloadOf(
            h, [&](size_t) { return uint8_t(rng() % 3 == 0 ? rng() : rng() % 64); },
            [&] { return uint8_t(int(rng() % 3) < flatShare ? 1 + rng() % 255 : 0); });
        Bytes px(size_t(h.width * h.height * 4));
        for (auto& b : px) b = uint8_t(rng());
        Bytes expected = px;
        referenceFrame(p, expected);
        ASSERT_EQ(decodePayload(decoder, p, px), 1) << "round " << round;
        ASSERT_EQ(px, expected) << "round " << round << ": " << h.width << "x" << h.height
                                << " cells " << h.cellWidth << "x" << h.cellHeight << " chroma "
                                << h.chromaCellWidth << "x" << h.chromaCellHeight;
    }
}

TEST_F(VideoDecoderTest, HeaderOnlyReadAndFrameIndexing) {
    Header a;
    a.width = 16;
    a.height = 8;
    Header b = a;
    b.width = 32;
    b.cellWidth = b.cellHeight = 4;
    const Bytes pa = payloadOf(a, [](size_t) { return uint8_t(7); });
    const Bytes pb = payloadOf(
        b, [](size_t) { return uint8_t(9); }, [] { return uint8_t(1); });
    const Bytes file = vidtest::image({vidtest::record(pa), vidtest::record(pb)});
    const VideoImage image{file.data(), int32_t(file.size())};
    EXPECT_EQ(decoder.frameCount(image), 3);

    const Bytes rb = vidtest::record(pb);
    EXPECT_EQ(decoder.decodeRecord(rb.data(), nullptr, 0, int(rb.size())), 0);
    EXPECT_EQ(decoder.lastResult, 0);
    EXPECT_EQ(decoder.width(), 32);
    EXPECT_EQ(decoder.cellWidth, 4);

    EXPECT_EQ(decoder.open(image), 3);
    EXPECT_EQ(decoder.width(), 16);
    EXPECT_EQ(decoder.height(), 8);

    Bytes px = blankPixels(32, 8);
    EXPECT_TRUE(decoder.decodeFrame(image, px.data(), int(px.size()), 1));
    EXPECT_EQ(px[0], 36);
    for (int index : {2, -1, 1 << 30}) {
        px = blankPixels(32, 8);
        EXPECT_FALSE(decoder.decodeFrame(image, px.data(), int(px.size()), index)) << index;
        EXPECT_EQ(decoder.lastResult, 1) << "frame 0 was decoded";
        EXPECT_EQ(px[0], 7);
        EXPECT_EQ(px[4 * 128], kUntouched);
    }
    // Frames do not depend on what was decoded before.
    Bytes first = blankPixels(32, 8), again = blankPixels(32, 8);
    decoder.decodeFrame(image, first.data(), int(first.size()), 1);
    decoder.decodeFrame(image, px.data(), int(px.size()), 0);
    decoder.decodeFrame(image, again.data(), int(again.size()), 1);
    EXPECT_EQ(first, again);
}

// ---- Damaged input: every check, each on a payload that passes all the others ----

// A frame of 8 x 4 pixels in 4 x 4 luma cells and 2 x 2 chroma cells, changed by `edit`; its
// payload is then cut to `keep` bytes (0: all) or shortened by `cut`.
struct BadFrame {
    const char* what;
    void (*edit)(Header&);
    int cut, keep;
    bool flat;     // cells without residuals
    int outShort;  // the output buffer this much smaller than the frame
};

const BadFrame kBadFrames[] = {
    {"width 0", [](Header& h) { h.width = 0; }, 0, 0, false, 0},
    {"negative height", [](Header& h) { h.height = -4; }, 0, 0, false, 0},
    {"luma cell 3 wide", [](Header& h) { h.width = 6, h.cellWidth = 3; }, 0, 0, false, 0},
    {"luma cell 32 high", [](Header& h) { h.height = h.cellHeight = 32; }, 0, 0, false, 0},
    {"luma cell -4 wide", [](Header& h) { h.cellWidth = -4; }, 0, 0, false, 0},
    {"luma cell 0 high", [](Header& h) { h.cellHeight = 0; }, 0, 0, false, 0},
    {"chroma cell 0 wide", [](Header& h) { h.chromaCellWidth = 0; }, 0, 0, false, 0},
    {"chroma cell 32 high", [](Header& h) { h.height = h.chromaCellHeight = 32; }, 0, 0, false, 0},
    {"width not whole luma cells", [](Header& h) { h.width = 12, h.cellWidth = 8; }, 0, 0, false,
     0},
    {"height not whole chroma cells", [](Header& h) { h.chromaCellHeight = 8; }, 0, 0, false, 0},
    {"more pixels than the luma buffer",
     [](Header& h) { h.width = h.height = 725, h.cellWidth = 0, h.chromaMode = 255; }, 0, 0, false,
     0},
    {"luma node rows wider than the row buffer",
     [](Header& h) {
         h.width = 32760, h.height = 16, h.cellWidth = h.cellHeight = 2, h.chromaMode = 255;
     },
     0, 0, true, 0},
    {"chroma node rows wider than the row buffer",
     [](Header& h) { h.width = 32760, h.height = 16, h.cellWidth = 0; }, 0, 0, false, 0},
    {"output buffer one byte short", [](Header&) {}, 0, 0, false, 1},
    {"payload shorter than its header", [](Header&) {}, 0, 11, false, 0},
    {"raw luma one byte short", [](Header& h) { h.cellWidth = 0, h.chromaMode = 255; }, 1, 0, false,
     0},
    {"luma nodes one byte short", [](Header&) {}, 0, 12 + 6 - 1, false, 0},
    {"last residual byte missing", [](Header& h) { h.chromaMode = 255; }, 1, 0, false, 0},
    {"last flag missing", [](Header& h) { h.chromaMode = 255; }, 1, 0, true, 0},
    {"chroma grid one byte short", [](Header&) {}, 1, 0, false, 0},
};

TEST_F(VideoDecoderTest, DamagedFramesAreRejectedWithTheOutputUntouched) {
    Header base;
    base.width = 8;
    base.height = 4;
    base.cellWidth = base.cellHeight = 4;
    base.chromaCellWidth = base.chromaCellHeight = 2;
    const Bytes basePayload = payloadOf(base, [](size_t) { return uint8_t(5); });
    Bytes px = blankPixels(8, 4);
    ASSERT_EQ(decodePayload(decoder, basePayload, px), 1) << "the undamaged frame decodes";
    for (const BadFrame& bad : kBadFrames) {
        SCOPED_TRACE(bad.what);
        Header h = base;
        bad.edit(h);
        Bytes p = payloadOf(
            h, [](size_t) { return uint8_t(5); }, [&] { return uint8_t(bad.flat ? 1 : 0); });
        p.resize(bad.keep != 0 ? size_t(bad.keep) : p.size() - size_t(bad.cut));
        px = blankPixels(64, 64);
        const int outBytes = bad.outShort ? 8 * 4 * 4 - bad.outShort : int(px.size());
        EXPECT_EQ(decodePayload(decoder, p, px, outBytes), -1);
        EXPECT_EQ(decoder.lastResult, -1);
        EXPECT_EQ(px, blankPixels(64, 64));
        // A rejected frame does not change what width() and height() report.
        EXPECT_EQ(decoder.width(), 8);
        EXPECT_EQ(decoder.height(), 4);
        const Bytes record = vidtest::record(p);
        EXPECT_EQ(decoder.decodeRecord(record.data(), nullptr, 0, int(record.size())),
                  bad.outShort ? 0 : -1);
    }
    // unpackedSize beyond the unpack buffer, a record too short for its code table, and a
    // decoder whose buffers were never allocated.
    const Bytes huge =
        vidtest::record(kUnpackBufferBytes + 1, vidtest::plainCodeBook(), Bytes(64, 0));
    EXPECT_EQ(decoder.decodeRecord(huge.data(), px.data(), int(px.size()), int(huge.size())), -1);
    const Bytes ok = vidtest::record(basePayload);
    EXPECT_EQ(decoder.decodeRecord(ok.data(), px.data(), int(px.size()), 1283), -1);
    VideoDecoder bare;
    EXPECT_EQ(bare.decodeRecord(ok.data(), px.data(), int(px.size()), int(ok.size())), -1);
    EXPECT_EQ(decoder.decodeRecord(ok.data(), px.data(), int(px.size()), int(ok.size())), 1);
}

// ---- Damaged containers ----

void putWord(Bytes& file, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) file[at + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
}

TEST_F(VideoDecoderTest, DamagedContainersAreRefused) {
    Header h;
    h.width = 8;
    h.height = 4;
    h.chromaCellWidth = h.chromaCellHeight = 4;
    const Bytes frame = vidtest::record(payloadOf(h, [](size_t) { return uint8_t(5); }));
    const Bytes good = vidtest::image({frame, frame});  // N = 3: offsets 0, s, 2s
    const int32_t s = int32_t(frame.size());
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"three bytes", [](Bytes& f) { f.resize(3); }},
        {"no frame", [](Bytes& f) { putWord(f, 0, 1); }},
        {"negative entry count", [](Bytes& f) { putWord(f, 0, -7); }},
        {"offset table past the end", [](Bytes& f) { putWord(f, 0, 1 << 28); }},
        {"negative first offset", [](Bytes& f) { putWord(f, 4, -1); }},
        {"offsets going backwards", [s](Bytes& f) { putWord(f, 12, s - 1); }},
        {"record shorter than a code table", [](Bytes& f) { putWord(f, 8, 1283); }},
        {"last record past the end", [s](Bytes& f) { putWord(f, 12, 2 * s + 1); }},
        {"frame 0 header damaged", [](Bytes& f) { f[16 + 1284 + 2] ^= 0xFF; }},
    };
    EXPECT_EQ(decoder.open({good.data(), int32_t(good.size())}), 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = good;
        c.damage(file);
        const VideoImage image{file.data(), int32_t(file.size())};
        EXPECT_EQ(decoder.open(image), -1);
        // decodeFrame guards itself even on an image that was never opened.
        for (int index = -1; index < 3; ++index) {
            Bytes px = blankPixels(8, 4);
            decoder.decodeFrame(image, px.data(), int(px.size()), index);
            if (decoder.lastResult != 1) {
                EXPECT_EQ(px, blankPixels(8, 4));
            }
        }
    }
    EXPECT_EQ(decoder.frameCount({good.data(), 3}), -1);
    EXPECT_EQ(decoder.open({nullptr, 0}), -1);
    Bytes px = blankPixels(8, 4);
    EXPECT_FALSE(decoder.decodeFrame({nullptr, 0}, px.data(), int(px.size()), 0));
    EXPECT_FALSE(decoder.decodeFrame({good.data(), 8}, px.data(), int(px.size()), 0));
    EXPECT_EQ(px, blankPixels(8, 4));
}

}  // namespace
