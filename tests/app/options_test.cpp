// The command line both programs share: values, the flags a program offers, and refusals with
// one line and status 2.
#include "options.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned kAll = ~0u;

Options parse(std::vector<std::string> args, unsigned offered = kAll) {
    return parseOptions(args, offered, "usage\n", "version");
}

}  // namespace

TEST(Options, ValuesAndRepeatedPresses) {
    const Options o = parse({"--fps", "30", "--frames", "7", "--assets", "a b", "--press",
                             "numlock@1.5", "--press", "F1@2", "--from", "1.25", "--to", "3",
                             "--overwrite", "--crf", "20", "--renderer", "gl"});
    EXPECT_EQ(o.fps, 30u);
    EXPECT_EQ(o.frameLimit, 7u);
    EXPECT_EQ(o.assets, "a b");
    ASSERT_EQ(o.presses.size(), 2u);
    EXPECT_EQ(o.presses[0].scanCode, 0x45);  // Num Lock
    EXPECT_EQ(o.fromMs, 1250);
    EXPECT_EQ(o.toMs, 3000);
    EXPECT_EQ(o.crf, 20);
    EXPECT_EQ(o.renderer, RendererChoice::kGl);
    EXPECT_EQ(parse({"--renderer", "cpu"}).renderer, RendererChoice::kCpu);
    EXPECT_TRUE(o.has(kFlagOverwrite | kFlagHeadless));
    EXPECT_FALSE(o.has(kFlagHeadless));
    // Nothing given: the defaults.
    const Options none = parse({});
    EXPECT_EQ(none.fps, 60u);
    EXPECT_EQ(none.fromMs, -1);
    EXPECT_EQ(none.crf, -1);
    EXPECT_EQ(none.renderer, RendererChoice::kAuto);
}

TEST(OptionsDeathTest, BadArgumentsEndWithOneLineAndStatusTwo) {
    const auto status2 = ::testing::ExitedWithCode(2);
    EXPECT_EXIT(parse({"--fps", "0"}), status2, "--fps needs a whole number from 1 to 1000");
    EXPECT_EXIT(parse({"--fps"}), status2, "--fps needs a value");
    EXPECT_EXIT(parse({"--from", "-1"}), status2, "--from needs seconds of show time");
    EXPECT_EXIT(parse({"--from", "1e3"}), status2, "--from needs seconds");
    EXPECT_EXIT(parse({"--press", "F9@1"}), status2, "--press needs KEY@SECONDS");
    EXPECT_EXIT(parse({"--threads", "0"}), status2, "--threads needs a whole number from 1 to 256");
    EXPECT_EXIT(parse({"--scale", "0"}), status2, "--scale needs a whole number from 1 to 4");
    EXPECT_EXIT(parse({"--renderer", "GL"}), status2, "--renderer needs cpu, gl or auto, not 'GL'");
    EXPECT_EXIT(parse({"--from", "3", "--to", "3"}), status2, "--to must be later than --from");
    EXPECT_EXIT(parse({"--bogus"}), status2, "unknown argument '--bogus'");
    // A flag the program does not offer is as unknown as any other.
    EXPECT_EXIT(parse({"--trace", "t"}, kFlagFps), status2, "unknown argument '--trace'");
    EXPECT_EXIT(parse({"--help"}), ::testing::ExitedWithCode(0), "");
}
