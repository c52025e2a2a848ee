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

#include "backend/emulated/emulated_object.h"
#include "backend/graphics.h"
#include "backend/soft/raster.h"
#include "backend/soft/render_target.h"

class BandWorkers;
class SoftDevice;
struct SoftContext;

class SoftTexture final : public Direct3DTexture9, public EmulatedObject {
  public:
    SoftTexture(SoftDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool);

    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    ULONG Release() override { return dropReference(); }

    UINT width() const { return width_; }
    UINT height() const { return height_; }
    D3DFORMAT format() const { return format_; }
    D3DPOOL pool() const { return pool_; }
    // Level 0, width() texels per row, 0xAARRGGBB (alpha undefined for X8R8G8B8).
    const std::vector<uint32_t>& texels() const { return texels_; }
    // Replaces the texels; `texels` must hold width() × height() of them.
    void setTexels(const std::vector<uint32_t>& texels);

    // The batch of recorded draws that last sampled this texture (see SoftDevice::batch).
    uint64_t usedInBatch = 0;

  private:
    SoftDevice* device_;
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    std::vector<uint32_t> texels_;
    bool locked_ = false;
};

class SoftVertexBuffer final : public Direct3DVertexBuffer9, public EmulatedObject {
  public:
    SoftVertexBuffer(UINT length, DWORD fvf) : bytes_(length), fvf_(fvf) {}

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    ULONG Release() override { return dropReference(); }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    DWORD fvf() const { return fvf_; }

  private:
    std::vector<uint8_t> bytes_;
    DWORD fvf_;
    bool locked_ = false;
};

class SoftDevice final : public Direct3DDevice9, public EmulatedObject {
  public:
    static constexpr DWORD kMaxStages = 8;

    SoftDevice(SoftContext& context, const D3DPRESENT_PARAMETERS& parameters);
    ~SoftDevice() override;

    QM_DEVICE_OVERRIDES;
    ULONG Release() override { return dropReference(); }

    // Rasterizes every recorded draw into the back buffer.
    void flush();
    // Flushes when recorded draws sample `texture`, so that it can change.
    void flushIfUsing(const SoftTexture* texture);

    // The back buffer as it stands after the last flush, scale() times the size the show asked
    // for.
    RenderTarget backBuffer();
    int width() const { return width_; }
    int height() const { return height_; }
    int scale() const { return scale_; }
    DWORD renderState(D3DRENDERSTATETYPE state) const {
        return state < 256 ? renderStates_[state] : 0;
    }
    // WORLD, VIEW or PROJECTION as last set (identity until then).
    D3DXMATRIX transform(D3DTRANSFORMSTATETYPE state) const;
    // Every Present and every draw the device accepted, drawn or not.
    int64_t presentedFrames() const { return presented_; }
    int64_t drawCalls() const { return draws_; }
    bool rasterizing() const;
    // Pixels shaded by draws since the device was made (a measure of fill, for benchmarks).
    uint64_t pixelsShaded() const { return pixelsShaded_.load(); }

  private:
    void buildPixelState();
    void updateMatrix();
    void prepareTileMaxima();

    SoftContext& context_;
    int scale_;
    int width_;
    int height_;
    std::vector<uint32_t> colour_;
    std::vector<float> depth_;  // empty without a depth buffer

    std::array<DWORD, 256> renderStates_{};
    DWORD stageStates_[kMaxStages][33] = {};
    DWORD samplerStates_[kMaxStages][14] = {};
    SoftTexture* textures_[kMaxStages] = {};
    D3DXMATRIX world_;
    D3DXMATRIX view_;
    D3DXMATRIX projection_;
    D3DXMATRIX combined_;
    bool matrixDirty_ = true;
    SoftVertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT stride_ = 0;
    DWORD fvf_ = 0;
    bool inScene_ = false;
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

class SoftDirect3D final : public Direct3D9, public EmulatedObject {
  public:
    explicit SoftDirect3D(SoftContext& context) : context_(context) {}

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override;
    ULONG Release() override { return dropReference(); }

  private:
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
