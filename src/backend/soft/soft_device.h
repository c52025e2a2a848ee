#pragma once
// The CPU renderer's Direct3D objects. The SoftGraphics object owns every one of them until it
// is destroyed; Release only counts references, so the show never holds a dangling pointer.
//
// Draws are recorded (transformed, clipped and set up, with a snapshot of the pixel states)
// and rasterized at the next flush: before a recorded texture changes, before clears, lines,
// text and Present. A flush lets each worker thread fill its own rows, in draw order, so the
// result does not depend on the number of threads.
//
// What the device understands: triangle strips and lists of the show's vertex format (position,
// diffuse colour, two texture-coordinate pairs, 32 bytes; anything else is refused with
// D3DERR_INVALIDCALL); texture stages 0 and 1 (later ones are ignored) with DISABLE,
// SELECTARG1/2, MODULATE/2X/4X and ADD (other operations act as SELECTARG1) on DIFFUSE,
// CURRENT, TEXTURE and TFACTOR (argument modifiers are ignored); A8R8G8B8 and X8R8G8B8
// textures, level 0, POINT or LINEAR filtering (ANISOTROPIC as LINEAR), CLAMP addressing with
// every other mode wrapping; the ten basic blend factors (others act as ONE); the depth test
// with its eight comparisons; lighting on gives black with the vertex alpha (no lights or
// normals exist). The viewport is always the whole back buffer.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "backend/emulated/emulated_device.h"
#include "backend/graphics.h"
#include "backend/imaging/render_target.h"
#include "backend/soft/raster.h"

class BandWorkers;
class SoftDevice;
struct SoftContext;

class SoftTexture final : public EmulatedTexture {
  public:
    SoftTexture(SoftDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool)
        : EmulatedTexture(width, height, format, pool), device_(device) {}

    // The batch of recorded draws that last sampled this texture (see SoftDevice::batch).
    uint64_t usedInBatch = 0;

  private:
    void texelsChanging() override;

    SoftDevice* device_;
};

class SoftDevice final : public EmulatedDevice {
  public:
    SoftDevice(SoftContext& context, const D3DPRESENT_PARAMETERS& parameters);
    ~SoftDevice() override;

    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT Present() override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override;

    // Rasterizes every recorded draw into the back buffer.
    void flush();
    // Flushes when recorded draws sample `texture`, so that it can change.
    void flushIfUsing(const SoftTexture* texture);

    // The back buffer as it stands after the last flush, scale() times the size the show asked
    // for.
    RenderTarget backBuffer();
    int scale() const { return scale_; }
    // Every Present and every draw the device accepted, drawn or not.
    int64_t presentedFrames() const { return presented_; }
    int64_t drawCalls() const { return draws_; }
    bool rasterizing() const;
    // Pixels shaded by draws since the device was made (a measure of fill, for benchmarks).
    uint64_t pixelsShaded() const { return pixelsShaded_.load(); }

  private:
    EmulatedTexture* ownTexture(Direct3DTexture9* texture) const override {
        return dynamic_cast<SoftTexture*>(texture);
    }
    void statesChanged() override { stateDirty_ = true; }
    void buildPixelState();
    void prepareTileMaxima();

    SoftContext& context_;
    int scale_;
    std::vector<uint32_t> colour_;
    std::vector<float> depth_;  // empty without a depth buffer

    int64_t presented_ = 0;
    int64_t draws_ = 0;

    // Recorded draws.
    bool stateDirty_ = true;
    std::vector<soft::PixelState> states_;
    std::vector<soft::SpanFunction> stateSpans_;
    std::vector<soft::Triangle> triangles_;
    std::vector<soft::ClipVertex> clipVertices_;    // the current draw's, reused
    std::vector<std::vector<uint8_t>> tileMaxima_;  // of the textures of additive layers, reused
    std::vector<std::vector<soft::TileBox>> brightBoxes_;  // of the same textures, reused
    std::vector<uint64_t> stateArea_;  // per recorded state: its triangles' bounding boxes
    uint64_t batch_ = 1;
    std::atomic<uint64_t> pixelsShaded_{0};
};

class SoftDirect3D final : public EmulatedDirect3D {
  public:
    // The limit on a device's sides holds for the back buffer as drawn, the asked size times
    // the scale.
    explicit SoftDirect3D(SoftContext& context);

  private:
    Direct3DDevice9* makeDevice(const D3DPRESENT_PARAMETERS& parameters) override;

    SoftContext& context_;
};

class FrameSink;

// What the objects share: the options, the objects themselves, the worker threads.
struct SoftContext {
    SoftContext();
    ~SoftContext();

    FrameSink* sink = nullptr;
    bool rasterizing = true;
    bool reference = false;
    int scale = 1;
    std::unique_ptr<BandWorkers> workers;
    SoftDevice* device = nullptr;  // the device created last
    ObjectStore objects;
};
