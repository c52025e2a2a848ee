// The mp3 frame scanner of the Windows backend, on hand-made frames and on files from the lame
// encoder, whose lengths must agree with what libmpg123 (the headless backend) decodes.
#include "backend/win32/mp3_frames.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend/headless/mp3_duration.h"

namespace {

// One MPEG-1 layer III frame at 128 kbit/s, 44100 Hz, stereo: 417 bytes (418 padded).
std::vector<uint8_t> frame(bool padded = false, uint8_t bitRateIndex = 9) {
    const uint32_t bitRates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                   112, 128, 160, 192, 224, 256, 320, 0};
    std::vector<uint8_t> f(144000 * bitRates[bitRateIndex] / 44100 + (padded ? 1 : 0), 0);
    f[0] = 0xFF;
    f[1] = 0xFB;  // MPEG-1, layer III, no CRC
    f[2] = uint8_t(bitRateIndex << 4 | (padded ? 2 : 0));
    f[3] = 0x00;  // stereo
    return f;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) {
    out.insert(out.end(), part.begin(), part.end());
}

// An encoder info frame with the LAME extension giving delay and padding.
std::vector<uint8_t> infoFrame(uint32_t delay, uint32_t padding) {
    std::vector<uint8_t> f = frame();
    const size_t at = 4 + 32;
    const char tag[] = "Info\0\0\0\x0F";
    std::copy(tag, tag + 8, f.begin() + at);
    const size_t lame = at + 8 + 4 + 4 + 100 + 4;
    const char name[] = "LAME3.100";
    std::copy(name, name + 9, f.begin() + lame);
    f[lame + 21] = uint8_t(delay >> 4);
    f[lame + 22] = uint8_t((delay & 0x0F) << 4 | padding >> 8);
    f[lame + 23] = uint8_t(padding);
    return f;
}

Mp3Stream scan(const std::vector<uint8_t>& bytes, bool* ok = nullptr) {
    Mp3Stream s;
    bool found = scanMp3(bytes.data(), bytes.size(), &s);
    if (ok != nullptr) *ok = found;
    return s;
}

}  // namespace

TEST(Mp3Frames, CountsFramesAndReadsTheirFormat) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 10; ++i) append(bytes, frame(i % 3 == 1));
    bool ok = false;
    Mp3Stream s = scan(bytes, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(s.version, 10);
    EXPECT_EQ(s.sampleRate, 44100u);
    EXPECT_EQ(s.channels, 2u);
    EXPECT_EQ(s.bitRate, 128u);
    EXPECT_EQ(s.frameBytes, 417u);
    EXPECT_EQ(s.frames, 10u);
    EXPECT_EQ(s.samples, 11520);
    EXPECT_EQ(s.dataOffset, 0u);
    EXPECT_EQ(s.dataBytes, bytes.size());
    EXPECT_FALSE(s.variableBitRate);
}

TEST(Mp3Frames, SkipsTagsJunkAndATruncatedLastFrame) {
    // An ID3v2 tag of 20 body bytes holding a false sync, then junk with another false sync,
    // then five frames, one of them at another bit rate, and half a frame.
    std::vector<uint8_t> bytes = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    std::vector<uint8_t> body(20, 0);
    body[3] = 0xFF;
    body[4] = 0xFB;
    body[5] = 0x90;
    append(bytes, body);
    append(bytes, {0x00, 0xFF, 0xFB, 0x90, 0x00, 0x13});
    const size_t start = bytes.size();
    for (int i = 0; i < 4; ++i) append(bytes, frame());
    append(bytes, frame(false, 11));
    std::vector<uint8_t> half = frame();
    half.resize(200);
    append(bytes, half);
    bool ok = false;
    Mp3Stream s = scan(bytes, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(s.dataOffset, start);
    EXPECT_EQ(s.frames, 5u);
    EXPECT_TRUE(s.variableBitRate);
    EXPECT_EQ(s.dataBytes, bytes.size() - start - 200);
}

TEST(Mp3Frames, TheEncodersInfoFrameIsNotMusicAndItsSilenceIsSubtracted) {
    std::vector<uint8_t> bytes = infoFrame(576, 1000);
    for (int i = 0; i < 8; ++i) append(bytes, frame());
    bool ok = false;
    Mp3Stream s = scan(bytes, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(s.frames, 8u);
    EXPECT_EQ(s.dataOffset, 417u);
    EXPECT_EQ(s.encoderDelay, 576u);
    EXPECT_EQ(s.encoderPadding, 1000u);
    EXPECT_EQ(s.samples, 8 * 1152 - 1576);

    // Claimed silence longer than the music is a damaged tag: the frames count alone.
    std::vector<uint8_t> damaged = infoFrame(4095, 4095);
    append(damaged, frame());
    s = scan(damaged, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(s.samples, 1152);
}

TEST(Mp3Frames, RefusesWhatIsNotLayerThree) {
    bool ok = true;
    scan({}, &ok);
    EXPECT_FALSE(ok);
    scan(std::vector<uint8_t>(5000, 0xFF), &ok);
    EXPECT_FALSE(ok);
    // Free-format frames (bit-rate index 0) and layer II frames.
    std::vector<uint8_t> free = frame();
    free[2] = 0x00;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 4; ++i) append(bytes, free);
    scan(bytes, &ok);
    EXPECT_FALSE(ok);
    std::vector<uint8_t> layer2 = frame();
    layer2[1] = 0xFD;
    bytes.clear();
    for (int i = 0; i < 4; ++i) append(bytes, layer2);
    scan(bytes, &ok);
    EXPECT_FALSE(ok);
    // Only an encoder info frame: no music at all.
    scan(infoFrame(0, 0), &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(scanMp3(nullptr, 10, nullptr));
}

// The length the headless backend signals the music's end at must be the one this scanner
// gives, or captures on the two platforms would end at different frames.
TEST(Mp3Frames, AgreesWithTheDecoderOnEncodedFiles) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) GTEST_SKIP() << "lame not installed";
    char dirTemplate[] = "/tmp/qm-mp3-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    struct Case {
        const char* options;
        int rate;
        int channels;
        double seconds;
    };
    const Case cases[] = {
        {"-b 128", 44100, 2, 2.0},
        {"-b 64 -m m", 22050, 1, 1.3},
        {"-V 2", 48000, 2, 3.1},
        {"-b 32 -m m -t", 16000, 1, 0.7},  // no info frame
    };
    for (const Case& c : cases) {
        const std::string wav = dir + "/tone.wav";
        const std::string mp3 = dir + "/tone.mp3";
        const std::string make =
            "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=" +
            std::to_string(c.rate) + ":duration=" + std::to_string(c.seconds) + " -ac " +
            std::to_string(c.channels) + " " + wav + " && lame --quiet " + c.options + " " + wav +
            " " + mp3;
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        std::ifstream in(mp3, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        bool ok = false;
        Mp3Stream s = scan(bytes, &ok);
        ASSERT_TRUE(ok) << c.options;
        Mp3Duration decoded;
        ASSERT_TRUE(readMp3Duration(mp3, &decoded));
        EXPECT_EQ(int64_t(s.sampleRate), decoded.rate) << c.options;
        EXPECT_EQ(s.samples, decoded.samples) << c.options;
        EXPECT_EQ(int(s.channels), c.channels) << c.options;
    }
    std::system(("rm -rf " + dir).c_str());
}
