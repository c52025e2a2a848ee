#pragma once
#include <cstdint>

// A decoded picture: 4 bytes per pixel (lane 0 luma, 1 Cr index, 2 Cb index, 3 spare), with the
// image effects the show runs on one lane. The effects share process-wide state: one filter
// scratch, one level table and the noise state, so calls must not overlap.
class YUVSurface {
  public:
    YUVSurface(int width, int height);
    virtual ~YUVSurface();
    YUVSurface(const YUVSurface&) = delete;
    YUVSurface& operator=(const YUVSurface&) = delete;

    unsigned char* pixels() { return pixelBuffer; }
    int bytes() const { return width * height * 4; }

    void adjustLevels(int lane, float gain, float contrast, int x0, int y0, int x1, int y1);
    void adjustLevels(int lane, float gain, float contrast);
    void sharpen(int lane, int shift);
    void blurRun(int lane, int radius);
    void blurColumns(int lane, int radius);
    void addNoise(int lane, int amplitude);

    int32_t width;
    int32_t height;
    unsigned char* pixelBuffer;
};

// The largest surface the effects accept (the size of the shared filter scratch).
const int32_t kFilterScratchPixels = 1 << 20;
const uint32_t kNoiseStateStart = 1098513u;
const uint32_t kNoiseIncrement = 1249851u;

// The noise state runs on across frames and surfaces; tools and tests may reset it.
uint32_t noiseState();
void setNoiseState(uint32_t state);
