// The whole show drawn by the CPU renderer's fast path, on one and on several threads, equals
// the scalar reference path frame by frame (one frame a second, on the test asset set).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/show_assets.h"
#include "backend/backend.h"
#include "backend/headless/headless_backend.h"
#include "backend/soft/soft_graphics.h"
#include "shell/show.h"

namespace {

class HashingSink : public FrameSink {
  public:
    void presentFrame(const uint32_t* pixels, int width, int height) override {
        hashes.push_back(show_assets::fnv1a64(reinterpret_cast<const uint8_t*>(pixels),
                                              size_t(width) * height * 4));
    }
    std::vector<uint64_t> hashes;
};

// The hash of every frame the show presents at 1 frame a second.
std::vector<uint64_t> drawShow(const SoftOptions& soft) {
    SoftGraphics renderer(soft);
    HashingSink sink;
    resetShowState();
    HeadlessOptions options;
    options.fps = 1;
    options.renderer = &renderer;
    HeadlessBackend headless(options);
    renderer.setSink(&sink);
    renderer.setRasterizing(true);
    useBackend(headless.services());
    runShow(nullptr, nullptr, "", 1);
    renderer.finishFrames();
    return sink.hashes;
}

TEST(WholeShow, FastPathOnAnyNumberOfThreadsEqualsTheReferenceFrameByFrame) {
    const std::string assets = show_assets::makeAssetFolder(true);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(assets.c_str()), 0);

    // The scalar path is slow: it draws on every core, which changes nothing but the time.
    SoftOptions reference;
    reference.reference = true;
    const std::vector<uint64_t> expected = drawShow(reference);
    // The show's whole length, and pictures that change.
    EXPECT_GT(expected.size(), 130u);
    EXPECT_NE(expected[20], expected[60]);
    for (int threads : {1, 2, 3, 7}) {
        SoftOptions fast;
        fast.threads = threads;
        const std::vector<uint64_t> frames = drawShow(fast);
        ASSERT_EQ(frames.size(), expected.size()) << threads << " threads";
        for (size_t k = 0; k < frames.size(); ++k)
            EXPECT_EQ(frames[k], expected[k]) << "frame " << k << ", " << threads << " threads";
    }

    ASSERT_EQ(chdir(here), 0);
    show_assets::removeFolder(assets);
}

}  // namespace
