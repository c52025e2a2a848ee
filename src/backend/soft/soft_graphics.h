#pragma once
// The CPU renderer: the graphics service with the fixed-function results of the original
// platform (transform, triangle-strip rasterization with its pixel-centre and fill rules,
// bilinear wrap sampling, the texture-stage operations, alpha blending on all four channels),
// JPEG textures through libjpeg-turbo, the line drawer and the font through FreeType.
//
// The same calls give the same bytes on every run and every machine: the fast path (bands on
// several threads, SIMD) computes exactly what the scalar reference path computes.
#include <cstdint>
#include <memory>
#include <string>

#include "backend/frame_sink.h"
#include "backend/renderer.h"

// The processors this process may run on (its affinity mask), at least 1.
int availableCores();

constexpr int kMaxScale = 4;

struct SoftOptions {
    // Receives each presented frame; null drops them.
    FrameSink* sink = nullptr;
    // Threads that draw the frames (1 = the calling thread, at each flush): by default as many
    // as the process may run on. Beyond the first they are workers beside the show's thread,
    // which draws with them while it waits for a frame. Any number gives the same bytes.
    int threads = availableCores();
    // The plain scalar path everywhere: slow, and the reference the fast path must equal.
    bool reference = false;
    // Back-buffer pixels per pixel of the device the show asks for, 1 to 4. The show keeps its
    // own device size, calls and results; only the pictures get finer: triangles land at scaled
    // positions, text is that many times larger and lines that many pixels thick.
    int scale = 1;
    // The font file for D3DXCreateFontA; empty = Liberation Sans Bold where Debian installs it.
    std::string fontPath;
};

class SoftDevice;

class SoftGraphics : public Renderer {
  public:
    explicit SoftGraphics(SoftOptions options = SoftOptions());
    ~SoftGraphics() override;
    SoftGraphics(const SoftGraphics&) = delete;
    SoftGraphics& operator=(const SoftGraphics&) = delete;

    // While off, clears, draws, lines and text change nothing and Present hands nothing to the
    // sink; states, transforms and texture contents are still kept, so that turning it on
    // later gives the frame a full run would have drawn.
    void setRasterizing(bool on) override;
    bool rasterizing() const override;
    void setSink(FrameSink* sink) override;
    void finishFrames() override;
    std::string name() const override { return "the CPU renderer"; }

    // The device the show created last (null before CreateDevice).
    SoftDevice* device() const;

    QM_GRAPHICS_SYSTEM_OVERRIDES;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
