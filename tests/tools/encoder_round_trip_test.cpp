// Frames made by the encoder, decoded by the real decoder: bit-exact against the encoder's model
// and close to the source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "test_pictures.h"
#include "vid/frame_model.h"
#include "vid/vid_encoder.h"
#include "video/video_decoder.h"

namespace {

using vidtools_test::gradientPicture;
using vidtools_test::noisyPicture;
using vidtools_test::texturedPicture;

class RoundTrip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        decoder = new VideoDecoder();
        ASSERT_EQ(decoder->init(), 1);
    }
    static void TearDownTestSuite() {
        delete decoder;
        decoder = nullptr;
    }

    // The decoder's output for one record, from a zero-filled buffer.
    static std::vector<uint8_t> decode(const std::vector<uint8_t>& record, int w, int h) {
        std::vector<uint8_t> out(size_t(w) * h * 4, 0);
        EXPECT_EQ(
            decoder->decodeRecord(record.data(), out.data(), int(out.size()), int(record.size())),
            1);
        return out;
    }

    static std::vector<uint8_t> lane(const std::vector<uint8_t>& pixels, int which) {
        std::vector<uint8_t> out;
        for (size_t i = size_t(which); i < pixels.size(); i += 4) out.push_back(pixels[i]);
        return out;
    }

    static VideoDecoder* decoder;
};

VideoDecoder* RoundTrip::decoder = nullptr;

struct Case {
    const char* name;
    EncoderOptions options;
    double gradientFloor, texturedFloor;  // luma PSNR floors, dB
};

EncoderOptions make(int cw, int ch, int ccw, int cch, int shift, double threshold,
                    bool interpolate = true, bool rawLuma = false, bool noChroma = false) {
    EncoderOptions o;
    o.cellWidth = cw;
    o.cellHeight = ch;
    o.chromaCellWidth = ccw;
    o.chromaCellHeight = cch;
    o.residualShift = shift;
    o.threshold = threshold;
    o.interpolate = interpolate;
    o.rawLuma = rawLuma;
    o.noChroma = noChroma;
    return o;
}

// Floors: the gradient is smooth enough for any grid, and on the textured picture the residual
// cells leave errors of about half a residual step.
std::vector<Case> cases() {
    return {
        {"defaults", EncoderOptions(), 42, 36},
        {"cells 2x2, every cell residual", make(2, 2, 2, 2, 0, -1), 60, 60},
        {"cells 16x16 flat", make(16, 16, 16, 16, 2, 4, false), 42, 36},
        {"cells 16x2 / chroma 2x16", make(16, 2, 2, 16, 3, 0), 42, 36},
        {"cells 8x4 / chroma 4x8, shift 3", make(8, 4, 4, 8, 3, 12), 42, 36},
        {"cells 4x16, flat", make(4, 16, 8, 8, 1, 12, false), 42, 36},
        {"shift 7", make(4, 4, 8, 8, 7, 0), 42, 32},
        {"raw luma", make(4, 4, 4, 4, 1, 12, true, true), 99, 99},
        {"no chroma", make(8, 8, 8, 8, 2, 0, true, false, true), 42, 36},
        {"raw luma, no chroma", make(4, 4, 8, 8, 1, 12, true, true, true), 99, 99},
    };
}

TEST_F(RoundTrip, DecoderMatchesModelAndSourceAcrossOptions) {
    // The harsh noise picture has no floor: it is there for samples at 0 and 255 and for
    // cells the base cannot follow.
    const YuvPicture pictures[] = {gradientPicture(64, 48), texturedPicture(64, 48),
                                   noisyPicture(32, 32)};
    const char* names[] = {", gradient", ", textured", ", noise"};
    for (const Case& c : cases()) {
        for (int p = 0; p < 3; ++p) {
            SCOPED_TRACE(std::string(c.name) + names[p]);
            const YuvPicture& picture = pictures[p];
            ASSERT_EQ(validateOptions(picture, c.options), "");
            FrameStats stats;
            const std::vector<uint8_t> payload = encodePayload(picture, c.options, &stats);
            const std::vector<uint8_t> record = encodeRecord(payload);
            EXPECT_EQ(stats.payloadBytes, payload.size());

            std::vector<uint8_t> model;
            ASSERT_TRUE(modelFrame(payload, &model));
            const std::vector<uint8_t> decoded = decode(record, picture.width, picture.height);
            ASSERT_EQ(decoded, model);

            const std::vector<uint8_t> luma = lane(decoded, 0);
            const double psnr = planePsnr(luma.data(), picture.y.data(), luma.size());
            EXPECT_DOUBLE_EQ(psnr, stats.lumaPsnr);
            if (p < 2) {
                EXPECT_GE(psnr, p == 0 ? c.gradientFloor : c.texturedFloor);
            }
            if (c.options.rawLuma) {
                EXPECT_TRUE(std::isinf(psnr));
            }

            // Smooth chroma comes back within an index step or so (more for 16-wide cells).
            const std::vector<uint8_t> cr = lane(decoded, 1), cb = lane(decoded, 2);
            if (c.options.noChroma) {
                EXPECT_EQ(cr, std::vector<uint8_t>(cr.size(), 0));
            } else if (p == 0) {
                double error = 0;
                for (size_t i = 0; i < cr.size(); ++i)
                    error += std::abs(cr[i] - picture.cr[i] / 4.0) +
                             std::abs(cb[i] - picture.cb[i] / 4.0);
                EXPECT_LT(error / (2.0 * cr.size()), c.options.chromaCellWidth >= 16 ? 2.5 : 1.0);
            }
        }
    }
}

// The encoder writes the frame header and the decoder reads it through one description of the
// format; a field written in the wrong place would show here as another field's value.
TEST_F(RoundTrip, EveryHeaderFieldReachesTheDecoder) {
    const YuvPicture picture = gradientPicture(64, 48);
    const EncoderOptions options[] = {make(16, 2, 2, 16, 3, 0, false),
                                      make(4, 4, 8, 8, 7, 12, true, true, true)};
    for (const EncoderOptions& o : options) {
        const std::vector<uint8_t> record = encodeFrame(picture, o);
        ASSERT_EQ(decoder->decodeRecord(record.data(), nullptr, 0, int(record.size())), 0);
        EXPECT_EQ(decoder->width(), 64);
        EXPECT_EQ(decoder->height(), 48);
        EXPECT_EQ(decoder->cellWidth, o.rawLuma ? 0 : o.cellWidth);
        EXPECT_EQ(decoder->cellHeight, o.rawLuma ? 0 : o.cellHeight);
        EXPECT_EQ(decoder->chromaCellWidth, o.noChroma ? 0 : o.chromaCellWidth);
        EXPECT_EQ(decoder->chromaCellHeight, o.noChroma ? 0 : o.chromaCellHeight);
        EXPECT_EQ(decoder->interpolate, o.interpolate ? 1 : 0);
        EXPECT_EQ(decoder->reserved, 0);
        EXPECT_EQ(decoder->residualShift, o.residualShift);
        EXPECT_EQ(decoder->chromaMode, o.noChroma ? 255 : 0);
    }
}

// Residuals must pull every pixel towards the source and never wrap around 0 or 255, whatever
// the step size; a wrap would turn a white pixel black.
TEST_F(RoundTrip, ResidualsOnlyEverImproveAPixel) {
    const YuvPicture picture = noisyPicture(32, 32, 99);
    for (int shift = 0; shift <= 7; ++shift) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        EncoderOptions all = make(4, 4, 8, 8, shift, -1);
        EncoderOptions none = all;
        none.threshold = 1e9;
        FrameStats withStats, withoutStats;
        const auto with = lane(decode(encodeFrame(picture, all, &withStats), 32, 32), 0);
        const auto without = lane(decode(encodeFrame(picture, none, &withoutStats), 32, 32), 0);
        EXPECT_EQ(withStats.residualCells, 64);
        EXPECT_EQ(withoutStats.residualCells, 0);
        for (size_t i = 0; i < with.size(); ++i)
            ASSERT_LE(std::abs(with[i] - picture.y[i]), std::abs(without[i] - picture.y[i]))
                << "pixel " << i;
        EXPECT_GT(withStats.lumaPsnr, withoutStats.lumaPsnr);
    }
}

TEST_F(RoundTrip, ThresholdIsTheMeanSquaredErrorOfTheBase) {
    // One cell at a flat 100 next to one whose pixels sit +-2 around 100: base error 4.
    YuvPicture picture = gradientPicture(8, 4);
    for (int i = 0; i < 32; ++i) picture.y[size_t(i)] = 100;
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x) picture.y[size_t(y * 8 + x)] = uint8_t((x + y) % 2 ? 102 : 98);
    EncoderOptions o = make(4, 4, 4, 4, 1, 3.9, false);
    FrameStats stats;
    encodePayload(picture, o, &stats);
    EXPECT_EQ(stats.residualCells, 1);
    o.threshold = 4.0;
    encodePayload(picture, o, &stats);
    EXPECT_EQ(stats.residualCells, 0);
}

TEST_F(RoundTrip, AnImageOfSeveralFramesDecodesEveryFrame) {
    std::vector<std::vector<uint8_t>> records;
    std::vector<YuvPicture> pictures;
    for (int f = 0; f < 3; ++f) {
        pictures.push_back(noisyPicture(16, 16, uint32_t(f + 1)));
        records.push_back(encodeFrame(pictures.back(), make(4, 4, 4, 4, 0, -1)));
    }
    const std::vector<uint8_t> file = buildVideoImage(records);
    const VideoImage image{file.data(), int32_t(file.size())};
    ASSERT_EQ(decoder->open(image), 4);
    for (int f = 0; f < 3; ++f) {
        std::vector<uint8_t> out(16 * 16 * 4, 0);
        ASSERT_TRUE(decoder->decodeFrame(image, out.data(), int(out.size()), f));
        EXPECT_EQ(out, decode(records[size_t(f)], 16, 16)) << "frame " << f;
    }
    EXPECT_THROW(buildVideoImage({}), std::invalid_argument);
}

TEST_F(RoundTrip, FrameLimitsAreTheDecodersWorkingBuffers) {
    // The largest frame the decoder takes is encoded and decodes; one cell row more is refused,
    // as are grids whose interpolated rows would not fit its row buffer.
    const YuvPicture largest = gradientPicture(1024, 512);
    ASSERT_EQ(validateOptions(largest, EncoderOptions()), "");
    const std::vector<uint8_t> payload = encodePayload(largest, EncoderOptions());
    std::vector<uint8_t> model;
    ASSERT_TRUE(modelFrame(payload, &model));
    EXPECT_EQ(decode(encodeRecord(payload), 1024, 512), model);
    EXPECT_NE(validateFrameSize(1024, 516, EncoderOptions()), "");
    EncoderOptions thin;
    thin.cellHeight = 2;
    EXPECT_NE(validateFrameSize(1024, 512, thin).find("grid rows"), std::string::npos);

    EncoderOptions o;
    o.chromaCellHeight = 32;
    EXPECT_THROW(encodePayload(gradientPicture(32, 32), o), std::invalid_argument);
    o.noChroma = true;  // the chroma cells no longer matter
    EXPECT_EQ(validateOptions(gradientPicture(32, 32), o), "");
}

}  // namespace
