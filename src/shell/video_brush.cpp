#include "shell/video_brush.h"

#include "video/video_decoder.h"

VideoBrush::VideoBrush(Direct3DDevice9* device, VideoDecoder* decoder)
    : Brush(),
      stagingTexture(nullptr),
      displayTexture(nullptr),
      decoder(decoder),
      textureWidth(256),
      textureHeight(256) {
    init(device);
    D3DXCreateTexture(device, 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &stagingTexture,
                      "video-staging");
    D3DXCreateTexture(device, textureWidth, textureHeight, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                      &displayTexture, "video-display");
}

VideoBrush::~VideoBrush() {}

// A failed lock leaves the texture as it was rather than writing through a stale pointer.
void VideoBrush::refreshColour(const unsigned char* pixels) {
    D3DLOCKED_RECT locked{};
    if (stagingTexture == nullptr || stagingTexture->LockRect(0, &locked, nullptr, 0) < 0) return;
    decoder->toARGB(pixels, static_cast<unsigned char*>(locked.pBits), locked.Pitch, textureWidth,
                    textureHeight);
    stagingTexture->UnlockRect(0);
}

void VideoBrush::refreshLane(const unsigned char* pixels, int lane) {
    D3DLOCKED_RECT locked{};
    if (stagingTexture == nullptr || stagingTexture->LockRect(0, &locked, nullptr, 0) < 0) return;
    decoder->copyLane(pixels, static_cast<unsigned char*>(locked.pBits), lane, locked.Pitch,
                      textureWidth, textureHeight);
    stagingTexture->UnlockRect(0);
}

void VideoBrush::uploadTexture() {
    if (device == nullptr) return;
    device->UpdateTexture(stagingTexture, displayTexture);
}
