#pragma once
#include <cstdint>

#include "backend/graphics.h"
#include "painting/brush.h"

class VideoDecoder;

// Feeds the current video frame to the painting pass as a 256 x 256 A8R8G8B8 texture. The CPU
// fills a system-memory staging texture from the decoder's pixels; the device then copies it to
// the default-pool display texture, which is what the video layers bind. The brush's own quad
// is never drawn. One VideoBrush serves both videos, so each layer must be drawn right after
// its own refresh.
class VideoBrush : public Brush {
  public:
    VideoBrush(Direct3DDevice9* device, VideoDecoder* decoder);
    // The textures live as long as the device; the show only destroys the brush at shutdown.
    ~VideoBrush() override;
    VideoBrush(const VideoBrush&) = delete;
    VideoBrush& operator=(const VideoBrush&) = delete;

    // Colour of every texel from 256 x 256 pixels (256 pixels per row); alpha becomes 255.
    void refreshColour(const unsigned char* pixels);
    // Luma of every pixel into byte lane `lane` of its texel; the other lanes stay.
    void refreshLane(const unsigned char* pixels, int lane);
    // Copies the staging texture to the display texture on the device.
    void uploadTexture();

    Direct3DTexture9* stagingTexture;
    Direct3DTexture9* displayTexture;
    VideoDecoder* decoder;
    int32_t textureWidth;
    int32_t textureHeight;
};
