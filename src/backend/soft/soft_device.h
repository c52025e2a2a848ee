#pragma once
// The CPU renderer's Direct3D objects. The SoftGraphics object owns every one of them until it
// is destroyed; Release only counts references, so the show never holds a dangling pointer.
//
// Draws are recorded (transformed, clipped and set up, with a snapshot of the pixel states)
// into batches. A batch is handed to the worker threads before a recorded texture changes and
// at Present, and the show goes on computing while they rasterize it: the threads take blocks
// of rows as they come free, each block seeing the batches in order, so the result does not
// depend on the number of threads.
// A texture that changes while a handed-over batch still samples it gets new texels, and the
// batch keeps the old ones until it is done. A presented frame is copied out by the workers
// and reaches the sink at the next Present (or finishFrames); with one thread everything runs
// on the calling thread at once. Lines and text wait for every batch.
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
struct SoftBatch;
struct SoftContext;

class SoftTexture final : public EmulatedTexture {
  public:
    SoftTexture(SoftDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool)
        : EmulatedTexture(width, height, format, pool), device_(device) {}

    // The batch of recorded draws that last sampled this texture.
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

    // Rasterizes every recorded draw into the back buffer and waits for all of it.
    void flush();
    // `texture` is about to change: draws recorded before keep sampling it as it is now.
    void textureChanging(SoftTexture* texture);
    // Hands the sink the presented frame it has not had yet, once the workers have drawn it.
    void finishFrames();

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
    // Hands what is recorded to the workers (or rasterizes it here with one thread); returns its
    // ticket, or the last one when nothing was recorded.
    uint64_t submit(uint32_t* copyTo = nullptr);
    // Blocks of rows: the pieces a batch is drawn in, each by one thread.
    int blocks() const;
    void binTriangles(SoftBatch& batch) const;
    void rasterizeBlock(const SoftBatch& batch, int block);
    // Points the states that pass over dark texels at their textures' maps; returns, for each
    // state, the index of its maps in batch.tileMaps, or -1.
    std::vector<int> prepareTileMaxima(SoftBatch& batch);
    void releaseRetired();

    SoftContext& context_;
    int scale_;
    std::vector<uint32_t> colour_;
    std::vector<float> depth_;  // empty without a depth buffer

    int64_t presented_ = 0;
    int64_t draws_ = 0;

    // Being recorded: a clear to start with, then draws.
    bool stateDirty_ = true;
    DWORD clearFlags_ = 0;
    uint32_t clearColour_ = 0;
    float clearDepth_ = 1.0f;
    std::vector<soft::PixelState> states_;
    std::vector<soft::SpanFunction> stateSpans_;
    std::vector<soft::Triangle> triangles_;
    std::vector<soft::ClipVertex> clipVertices_;  // the current draw's, reused
    std::vector<uint64_t> stateArea_;             // per recorded state: its triangles' boxes
    // The dark regions of textures, by their texels, kept until the texels change.
    std::vector<std::pair<const uint32_t*, std::shared_ptr<soft::TileMaps>>> tileMaps_;
    uint64_t batch_ = 1;      // the ticket the recorded batch will get
    uint64_t submitted_ = 0;  // the last ticket handed over
    // Texels replaced while handed-over batches read them, kept until the batch (ticket) is done.
    std::vector<std::pair<uint64_t, std::vector<uint32_t>>> retired_;
    // Presented frames copied out by the workers, two so that one can be drawn while the other
    // waits for the sink; `pendingFrame_` is the sink's number for the waiting one (0: none).
    std::vector<uint32_t> frames_[2];
    int nextFrame_ = 0;
    uint64_t pendingFrame_ = 0;
    uint64_t pendingTicket_ = 0;
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
