#pragma once
// A graphics service that draws: what a backend needs besides the show's own calls to run it
// (the CPU renderer, the GPU renderer).
#include <string>

#include "backend/frame_sink.h"
#include "backend/graphics.h"

class Renderer : public GraphicsSystem {
  public:
    // While off, clears, draws, lines and text change nothing and Present hands nothing to the
    // sink; states, transforms and texture contents are still kept, so that turning it on
    // later gives the frame a full run would have drawn.
    virtual void setRasterizing(bool on) = 0;
    virtual bool rasterizing() const = 0;
    virtual void setSink(FrameSink* sink) = 0;
    // Hands the sink every presented frame it has not had yet (a renderer that reads frames back
    // late holds one).
    virtual void finishFrames() {}
    // Names the renderer in messages: "the CPU renderer", "the GL renderer (...)".
    virtual std::string name() const = 0;
};
