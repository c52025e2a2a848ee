#pragma once
// Where a presented frame goes: a file writer, a video encoder's pipe, a window.
#include <cstdint>

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // One finished frame: width × height pixels, rows from the top, each pixel an A8R8G8B8
    // value (0xAARRGGBB). The pixels are valid only during the call.
    virtual void presentFrame(const uint32_t* pixels, int width, int height) = 0;
};
