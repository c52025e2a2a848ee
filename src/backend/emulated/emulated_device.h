#pragma once
// What every renderer's Direct3D objects keep alike: the device's states with the platform's
// defaults, its transforms and vertex stream, the checks on each call, textures held in system
// memory with their locks, vertex buffers, and the Direct3D object that makes the device. A
// renderer derives its objects from these and adds only its drawing.
#include <array>
#include <cstdint>
#include <vector>

#include "backend/emulated/emulated_object.h"
#include "backend/graphics.h"

// p (x, y, z, 1) × m, summed left to right in float: every renderer starts from the same
// clip-space points.
void transformPoint(const D3DXMATRIX& m, const float p[3], float out[4]);
D3DXMATRIX multiplyMatrices(const D3DXMATRIX& a, const D3DXMATRIX& b);
D3DXMATRIX identityMatrix();

// The extension library's texture creation rules: a zero side becomes 1, an unknown format
// A8R8G8B8; only A8R8G8B8 and X8R8G8B8 up to maxSide texels a side are made.
HRESULT adjustTextureRequest(UINT* width, UINT* height, D3DFORMAT* format, UINT maxSide);

// The extension library's creation calls check their arguments alike on every renderer: a null
// out-pointer or a device this renderer did not make is an invalid call, and the out-pointer is
// cleared before anything else can fail. `make(device, out)` does the renderer's own part.
template <class Device, class Object, class Make>
HRESULT createOnDevice(Device* device, Object** out, Make&& make) {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    return make(*device, out);
}

class EmulatedTexture : public Direct3DTexture9, public EmulatedObject {
  public:
    EmulatedTexture(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool);

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
    // Moves the texels out (their memory stays where it is, for draws still reading them) and
    // goes on with a copy of them.
    std::vector<uint32_t> detachTexels();

  protected:
    // Before the texels may change (a lock, a copy): draws still waiting must sample them as
    // they were. After they have changed (an unlock, a copy).
    virtual void texelsChanging() {}
    virtual void texelsChanged() {}

  private:
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    std::vector<uint32_t> texels_;
    bool locked_ = false;
};

class EmulatedVertexBuffer final : public Direct3DVertexBuffer9, public EmulatedObject {
  public:
    EmulatedVertexBuffer(UINT length, DWORD fvf) : bytes_(length), fvf_(fvf) {}

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

class EmulatedDevice : public Direct3DDevice9, public EmulatedObject {
  public:
    static constexpr DWORD kMaxStages = 8;

    // `scale`: back-buffer pixels per pixel of the size the show asks for (width() and
    // height() are the back buffer's).
    EmulatedDevice(ObjectStore& objects, const D3DPRESENT_PARAMETERS& parameters, int scale = 1);

    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, Direct3DTexture9* texture) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               Direct3DVertexBuffer9** vertexBuffer) override;
    HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,
                            UINT stride) override;
    HRESULT SetFVF(DWORD fvf) override;
    ULONG Release() override { return dropReference(); }

    int width() const { return width_; }
    int height() const { return height_; }
    DWORD renderState(D3DRENDERSTATETYPE state) const {
        return state < 256 ? renderStates_[state] : 0;
    }
    // WORLD, VIEW or PROJECTION as last set (identity until then).
    D3DXMATRIX transform(D3DTRANSFORMSTATETYPE state) const;

  protected:
    // The texture as this renderer's own, null when it is none (another renderer's).
    virtual EmulatedTexture* ownTexture(Direct3DTexture9* texture) const = 0;
    // Called when a state that decides how pixels are drawn changes.
    virtual void statesChanged() {}

    // The checks of DrawPrimitive on the device and its stream: S_OK when the show's vertex
    // format is set and a stream is bound inside a scene.
    HRESULT checkDraw(D3DPRIMITIVETYPE type) const;
    // The draw's vertices: how many, where the first starts in the stream's bytes; false when
    // the stream does not hold them all.
    bool drawVertices(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount, uint64_t* count,
                      uint64_t* first) const;
    // world × view × projection, as last set.
    const D3DXMATRIX& combinedMatrix();
    // Whether UpdateTexture may copy `source` into `destination`: system memory into the
    // default pool, same size and format.
    static bool copyable(const EmulatedTexture* source, const EmulatedTexture* destination);

    ObjectStore& objects_;
    int width_;
    int height_;
    bool depthBuffer_;
    std::array<DWORD, 256> renderStates_{};
    DWORD stageStates_[kMaxStages][33] = {};
    DWORD samplerStates_[kMaxStages][14] = {};
    EmulatedTexture* textures_[kMaxStages] = {};
    D3DXMATRIX world_;
    D3DXMATRIX view_;
    D3DXMATRIX projection_;
    EmulatedVertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT stride_ = 0;
    DWORD fvf_ = 0;
    bool inScene_ = false;

  private:
    D3DXMATRIX combined_;
    bool matrixDirty_ = true;
};

// The Direct3D object: the desktop's mode, and devices of a sane size.
class EmulatedDirect3D : public Direct3D9, public EmulatedObject {
  public:
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override;
    ULONG Release() override { return dropReference(); }

  protected:
    // Makes the renderer's device for checked parameters; null when it cannot.
    virtual Direct3DDevice9* makeDevice(const D3DPRESENT_PARAMETERS& parameters) = 0;

    // The largest side CreateDevice accepts.
    UINT largestSide_ = 16384;
};
