#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backend/recording/recording_backend.h"
#include "shell/show_state.h"
#include "shell/timer.h"
#include "shell/video_brush.h"
#include "video/record_builder.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

// What the recorder prints for a texture level filled with one texel value.
std::string hashOfFill(uint32_t texel) {
    uint32_t hash = 2166136261u;
    for (int i = 0; i < 256 * 256; ++i)
        for (int b = 0; b < 4; ++b) {
            hash ^= (texel >> (8 * b)) & 0xFFu;
            hash *= 16777619u;
        }
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", hash);
    return text;
}

// A 256 x 256 frame of flat luma and no chroma: the decode leaves the chroma lanes alone.
vidtest::Bytes flatFrame(uint8_t luma) {
    vidtest::Header h;
    h.width = h.height = 256;
    h.cellWidth = 0;
    h.chromaMode = 255;
    vidtest::Bytes payload = vidtest::payloadHeader(h);
    payload.resize(payload.size() + 256 * 256, luma);
    return vidtest::record(payload);
}

class VideoSteps : public ::testing::Test {
  protected:
    void SetUp() override {
        useBackend(recorder.services());
        recorder.setPitchPadding(12);
        Direct3D9* d3d = Direct3DCreate9(32);
        D3DPRESENT_PARAMETERS parameters{};
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &parameters, &testDevice);
        ASSERT_EQ(decoder.init(), 1);
        recorder.clearLines();
        brush = new VideoBrush(testDevice, &decoder);
        created = recorder.lines();
        recorder.clearLines();
        timer.reset(0);
        timer.elapsedMs = 0;
        state.sceneClock = 50.0f;
        state.frameNumber = 50;
    }
    void TearDown() override {
        delete brush;
        useBackend(Backend{});
    }

    void fill(uint8_t luma, uint8_t chroma) {
        for (int i = 0; i < surface.bytes(); i += 4) {
            surface.pixels()[i] = luma;
            surface.pixels()[i + 1] = chroma;
            surface.pixels()[i + 2] = chroma;
        }
    }

    // Operation, receiver and (for UnlockRect) content of every line.
    std::vector<std::string> shape() const {
        std::vector<std::string> out;
        for (const std::string& line : recorder.lines()) {
            char op[64] = {}, receiver[64] = {}, level[16] = {}, content[32] = {};
            std::sscanf(line.c_str(), "%63s %63s %15s %31s", op, receiver, level, content);
            std::string s = std::string(op) + " " + receiver;
            if (s.rfind("UnlockRect", 0) == 0) s += std::string(" ") + content;
            out.push_back(s);
        }
        return out;
    }

    std::vector<std::string> refreshOf(uint32_t colour, uint32_t alphaCurve) const {
        return {"LockRect video-staging", "UnlockRect video-staging " + hashOfFill(colour),
                "LockRect video-staging", "UnlockRect video-staging " + hashOfFill(alphaCurve),
                "UpdateTexture device1"};
    }

    RecordingBackend recorder;
    Direct3DDevice9* testDevice = nullptr;
    VideoDecoder decoder;
    YUVSurface surface{256, 256};
    VideoBrush* brush = nullptr;
    std::vector<std::string> created;
    Timer timer;
    ShowState state;
    VideoImage none;
};

TEST_F(VideoSteps, BrushCreatesNamedStagingAndDisplayTextures) {
    std::vector<std::string> textures;
    for (const std::string& line : created)
        if (line.rfind("D3DXCreateTexture", 0) == 0) textures.push_back(line);
    ASSERT_EQ(textures.size(), 2u);
    EXPECT_EQ(textures[0],
              "D3DXCreateTexture device1 256 256 1 0 21 2 \"video-staging\" -> 0 video-staging");
    EXPECT_EQ(textures[1],
              "D3DXCreateTexture device1 256 256 1 0 21 0 \"video-display\" -> 0 video-display");
    EXPECT_EQ(created.front().rfind("CreateVertexBuffer device1 128", 0), 0u);
}

TEST_F(VideoSteps, RefreshTakesColourFirstThenAlphaFromTheCurvedLuma) {
    struct Case {
        uint8_t luma;
        uint8_t alpha;
    };
    for (Case c : {Case{16, 0}, Case{85, 0}, Case{100, 66}, Case{128, 192}, Case{142, 255},
                   Case{235, 255}}) {
        fill(c.luma, 32);
        recorder.clearLines();
        ASSERT_TRUE(overlayVideoStep(state, timer, decoder, none, surface, *brush));
        const uint32_t colour = colourTableEntry(c.luma, 32, 32) | 0xFF000000u;
        const uint32_t curved = (colour & 0x00FFFFFFu) | (uint32_t(c.alpha) << 24);
        EXPECT_EQ(shape(), refreshOf(colour, curved)) << int(c.luma);
    }
    // The two ends of the scale come out fully transparent black and opaque near-white.
    EXPECT_EQ(colourTableEntry(16, 32, 32) & 0x00FFFFFFu, 0u);
    EXPECT_EQ(colourTableEntry(235, 32, 32) & 0x00FFFFFFu, 0x00FEFEFEu);
    EXPECT_EQ(recorder.lines().back(), "UpdateTexture device1 video-staging video-display -> 0");
}

TEST_F(VideoSteps, OverlayStepDecodesTheFrameOfTheFrameNumber) {
    const vidtest::Bytes bytes = vidtest::image({flatFrame(16), flatFrame(235)});
    const VideoImage image{bytes.data(), int32_t(bytes.size())};
    ASSERT_EQ(decoder.frameCount(image), 3);

    struct Case {
        int32_t frameNumber;
        uint32_t texel;
    };
    // 13 mod 3 is frame 1; 11 mod 3 is the count's extra entry, which shows frame 0.
    for (Case c : {Case{13, 0xFFFEFEFEu}, Case{12, 0u}, Case{11, 0u}}) {
        fill(200, 32);
        state.frameNumber = c.frameNumber;
        recorder.clearLines();
        ASSERT_TRUE(overlayVideoStep(state, timer, decoder, image, surface, *brush));
        EXPECT_EQ(shape()[3], "UnlockRect video-staging " + hashOfFill(c.texel)) << c.frameNumber;
    }
}

TEST_F(VideoSteps, BackgroundStepRefreshesTheTextureEveryFrame) {
    const vidtest::Bytes bytes = vidtest::image({flatFrame(16), flatFrame(235)});
    const VideoImage image{bytes.data(), int32_t(bytes.size())};
    for (float t : {0.0f, 664.0f}) {
        state.sceneClock = t;
        recorder.clearLines();
        backgroundVideoStep(state, timer, decoder, image, surface, *brush);
        ASSERT_EQ(shape().size(), 5u);
        EXPECT_EQ(shape()[0], "LockRect video-staging");
        EXPECT_EQ(shape()[4], "UpdateTexture device1");
    }
    // A surface smaller than the texture is left alone rather than read past its end.
    YUVSurface small(128, 128);
    recorder.clearLines();
    backgroundVideoStep(state, timer, decoder, image, small, *brush);
    EXPECT_TRUE(recorder.lines().empty());
}

TEST_F(VideoSteps, FailedLockWritesNothingAndOverlayKeepsToItsWindow) {
    recorder.queueResult("video-staging.LockRect", static_cast<int32_t>(0x80004005u), 2);
    fill(235, 32);
    overlayVideoStep(state, timer, decoder, none, surface, *brush);
    EXPECT_EQ(shape(), (std::vector<std::string>{"LockRect video-staging", "LockRect video-staging",
                                                 "UpdateTexture device1"}));
    recorder.clearLines();
    state.sceneClock = 664.0f;
    EXPECT_FALSE(overlayVideoStep(state, timer, decoder, none, surface, *brush));
    EXPECT_TRUE(recorder.lines().empty());
}

}  // namespace
