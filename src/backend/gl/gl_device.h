#pragma once
// The GPU renderer's Direct3D objects on OpenGL ES 3.0, written to what WebGL 2 also offers.
//
// The picture is drawn into a framebuffer object `scale` times the device's size. The CPU
// renderer is the reference, and this device reproduces its numeric model where OpenGL lets it:
// - Vertices are transformed on the CPU exactly as the CPU renderer transforms them (p × world
//   × view × projection in float), so both start from the same clip-space corners; consecutive
//   draws under the same states go to the GPU as one batch.
// - The vertex shader maps the platform's clip space to OpenGL's (z from [0, w] to [-w, w]) and
//   moves the picture by just under half a pixel: the platform's pixel centres lie at whole
//   screen coordinates, OpenGL's at half ones, and stopping 1/128 pixel short makes OpenGL's own
//   tie rule give the platform's top-left rule on edges at whole coordinates. Rows are stored
//   top first, so a read-back frame needs no flip.
// - Colours are kept with red and blue swapped in every texture, vertex and pixel (the
//   platform's B, G, R, A byte order read as R, G, B, A): read back, the pixels are A8R8G8B8
//   words as they stand. Each channel is channel-blind, so nothing else changes.
// - The texture stages run in a fragment shader built from the device's states, on 8-bit values
//   with the CPU renderer's roundings (diffuse and texels rounded to 8 bits, products divided by
//   255 to nearest, saturation). Blending is OpenGL's fixed blend with the platform's factors on
//   all four channels.
// - Textures sample through OpenGL's samplers (point or linear, wrap or clamp), level 0 only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "backend/emulated/emulated_device.h"
#include "backend/gl/gl_api.h"
#include "backend/graphics.h"

class FrameSink;
class GlDevice;

// A one-level texture of that format and size, clamped at its edges, filtered with `filter`,
// bound to GL_TEXTURE_2D.
GLuint makeTexture(GLenum format, int width, int height, GLint filter);
struct GlContext;

class GlTexture final : public EmulatedTexture {
  public:
    GlTexture(GlDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool)
        : EmulatedTexture(width, height, format, pool), device_(device) {}
    ~GlTexture() override;

    // The GPU's copy, made on first use and brought up to date with the texels (system-memory
    // textures have none: 0).
    GLuint name();

  private:
    void texelsChanging() override;
    void texelsChanged() override { stale_ = true; }

    GlDevice* device_;
    GLuint name_ = 0;
    bool stale_ = true;
};

// One vertex as the GPU gets it: clip-space position, colour bytes in memory order, both
// texture-coordinate pairs.
struct GlVertex {
    float clip[4];
    uint8_t colour[4];
    float uv[4];
};

class GlDevice final : public EmulatedDevice {
  public:
    GlDevice(GlContext& context, const D3DPRESENT_PARAMETERS& parameters);
    ~GlDevice() override;

    // False, with a reason, when the GPU objects could not be made.
    bool start(std::string* error);

    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT Present() override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override;
    // The drawing target's size in pixels: the device's times the scale.
    int targetWidth() const { return targetWidth_; }
    int targetHeight() const { return targetHeight_; }
    bool rasterizing() const;

    // Sends the batched draws to the GPU; before anything else touches the target or a texture.
    void flush();
    // Draws pixels-wide points at whole target pixels, blended SRCALPHA / INVSRCALPHA, with the
    // device's states left as they are (the line drawer).
    void drawPoints(const std::vector<int64_t>& xy, D3DCOLOR colour);
    // Draws glyph quads from an 8-bit coverage atlas, blended as text (the font).
    void drawGlyphs(const std::vector<GlVertex>& quads, GLuint atlas, D3DCOLOR colour);
    // Hands the sink the frame still being read back, if any.
    void finishFrames();
    // Draws the last finished frame into the current default framebuffer's rectangle (y up from
    // the bottom, as OpenGL counts), channels put back in order.
    void drawFrameTo(int x, int y, int width, int height);
    // Resizes the drawing target; takes effect at the next Clear.
    void setTargetSize(int width, int height);

  private:
    struct Batch;
    struct Programs;
    EmulatedTexture* ownTexture(Direct3DTexture9* texture) const override {
        return dynamic_cast<GlTexture*>(texture);
    }
    void resizeTarget();
    void applyBatchState();
    // Vertices blended SRCALPHA / INVSRCALPHA under one of the fixed programs, with the device's
    // states left alone; `colour` goes to the program's colour, `texture` (if any) to unit 0.
    void drawBlended(uint64_t programKey, GLenum mode, const std::vector<GlVertex>& vertices,
                     D3DCOLOR colour, GLuint texture);
    void sendVertices(GLenum mode, const std::vector<GlVertex>& vertices);
    void readBack();

    GlContext& context_;
    int targetWidth_ = 0;
    int targetHeight_ = 0;
    int wantedWidth_ = 0;
    int wantedHeight_ = 0;

    // GPU objects.
    GLuint framebuffer_ = 0;
    GLuint colour_ = 0;
    GLuint depth_ = 0;
    GLuint vertexArray_ = 0;
    GLuint vertexBuffer_ = 0;
    GLuint samplers_[2] = {};
    GLuint packBuffers_[2] = {};
    int packIndex_ = 0;
    uint64_t pendingFrame_ = 0;  // the frame in packBuffers_[packIndex_ ^ 1], 0 for none
    int pendingWidth_ = 0;
    int pendingHeight_ = 0;
    std::unique_ptr<Programs> programs_;
    std::unique_ptr<Batch> batch_;
    std::vector<GlVertex> points_;
    std::vector<uint32_t> frame_;
};

class GlDirect3D final : public EmulatedDirect3D {
  public:
    explicit GlDirect3D(GlContext& context) : context_(context) {}

  private:
    Direct3DDevice9* makeDevice(const D3DPRESENT_PARAMETERS& parameters) override;

    GlContext& context_;
};

// What the objects share.
struct GlContext {
    FrameSink* sink = nullptr;
    bool rasterizing = true;
    int scale = 1;
    // Called at each Present once the frame is finished (a window shows it from there).
    std::function<void(GlDevice&)> presented;
    GlDevice* device = nullptr;  // the device created last
    ObjectStore objects;
};
