#pragma once
// The GPU renderer: the graphics service on OpenGL ES 3.0 (the subset WebGL 2 has), drawing the
// CPU renderer's pictures within a measured difference (gl_device.h has the numeric model), at
// any whole-number scale of the device's size. JPEG textures, the font's glyphs and layout and
// the line drawer's pixels come from the same code as the CPU renderer's.
//
// It draws with whatever OpenGL ES context is current on the calling thread when the show
// creates its device: making that context (EGL, a window's) is the caller's business.
#include <functional>
#include <memory>
#include <string>

#include "backend/renderer.h"

class GlDevice;

struct GlOptions {
    // Receives each presented frame, read back; null reads nothing back.
    FrameSink* sink = nullptr;
    // The picture is drawn at this many times the device's size, text included.
    int scale = 1;
    // The font file for D3DXCreateFontA; empty = Liberation Sans Bold where Debian installs it.
    std::string fontPath;
    // Called at each Present with the finished frame (a window draws it from there).
    std::function<void(GlDevice&)> presented;
};

// What the current context is: its renderer string, and whether it can run this renderer.
struct GlContextInfo {
    std::string renderer;
    std::string version;
    bool usable = false;    // OpenGL ES 3.0 or later
    bool software = false;  // llvmpipe, softpipe or swrast: no GPU behind it
};
GlContextInfo currentGlContext();

class GlGraphics : public Renderer {
  public:
    explicit GlGraphics(GlOptions options = GlOptions());
    ~GlGraphics() override;
    GlGraphics(const GlGraphics&) = delete;
    GlGraphics& operator=(const GlGraphics&) = delete;

    void setRasterizing(bool on) override;
    bool rasterizing() const override;
    void setSink(FrameSink* sink) override;
    void finishFrames() override;
    std::string name() const override;

    // The device the show created last (null before CreateDevice).
    GlDevice* device() const;

    // Whether the current context can make this renderer's device (its shaders compile, its
    // drawing target can be made); a one-line reason when not.
    static bool canDraw(std::string* error);

    QM_GRAPHICS_SYSTEM_OVERRIDES;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
