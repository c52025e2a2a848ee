#pragma once
// Where a presented frame goes: a file writer, a video encoder's pipe, a window.
#include <cstdint>

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // One finished frame: width × height pixels, rows from the top, each pixel an A8R8G8B8
    // value (0xAARRGGBB). The pixels are valid only during the call.
    virtual void presentFrame(const uint32_t* pixels, int width, int height) = 0;

    // For a renderer that reads a frame back while it draws the next one: at Present, the frame
    // the sink would file the pixels under (0: it wants none now); later, those pixels.
    virtual uint64_t presentingFrame() const { return 1; }
    virtual void presentLateFrame(uint64_t /*frame*/, const uint32_t* pixels, int width,
                                  int height) {
        presentFrame(pixels, width, height);
    }
};
