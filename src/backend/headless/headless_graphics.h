#pragma once
// The headless graphics objects. They keep what the show hands them (states, transforms, bound
// textures and buffers, texel and vertex memory) so that a renderer or a test can look at it,
// and draw nothing. The backend owns every object until it is destroyed; Release only counts
// references, so a last Release never leaves the show with a dangling pointer.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backend/emulated/emulated_object.h"
#include "backend/graphics.h"

class HeadlessTexture final : public Direct3DTexture9, public EmulatedObject {
  public:
    // A texture made from an image file has no texel memory of its own here: width 0.
    HeadlessTexture(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, std::string source)
        : width_(width),
          height_(height),
          format_(format),
          pool_(pool),
          source_(std::move(source)) {}

    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    ULONG Release() override { return dropReference(); }

    UINT width() const { return width_; }
    UINT height() const { return height_; }
    D3DFORMAT format() const { return format_; }
    D3DPOOL pool() const { return pool_; }
    // The image file it came from, or empty.
    const std::string& source() const { return source_; }
    INT pitch() const { return static_cast<INT>(width_ * 4); }
    // Level 0, pitch() bytes per row; empty for a file texture.
    const std::vector<uint8_t>& texels() const { return texels_; }
    bool copyFrom(const HeadlessTexture& other);

  private:
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    std::string source_;
    std::vector<uint8_t> texels_;
    bool locked_ = false;
};

class HeadlessVertexBuffer final : public Direct3DVertexBuffer9, public EmulatedObject {
  public:
    HeadlessVertexBuffer(UINT length, DWORD fvf) : bytes_(length), fvf_(fvf) {}

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

class HeadlessBackend;

class HeadlessDevice final : public Direct3DDevice9, public EmulatedObject {
  public:
    static constexpr DWORD kStages = 8;

    explicit HeadlessDevice(HeadlessBackend& owner) : owner_(owner) {}

    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present() override;
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
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override;
    ULONG Release() override { return dropReference(); }

    // ---- what the show has set ----
    // Unset states read as 0.
    DWORD renderState(D3DRENDERSTATETYPE state) const;
    DWORD textureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const;
    DWORD samplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const;
    Direct3DTexture9* texture(DWORD stage) const {
        return stage < kStages ? textures_[stage] : nullptr;
    }
    // Identity until set.
    D3DXMATRIX transform(D3DTRANSFORMSTATETYPE state) const;
    Direct3DVertexBuffer9* streamSource() const { return stream_; }
    UINT streamStride() const { return stride_; }
    DWORD fvf() const { return fvf_; }
    D3DCOLOR clearColour() const { return clearColour_; }
    bool inScene() const { return inScene_; }
    int64_t presentedFrames() const { return presented_; }
    int64_t drawCalls() const { return draws_; }

  private:
    HeadlessBackend& owner_;
    std::map<DWORD, DWORD> renderStates_;
    std::map<uint64_t, DWORD> stageStates_;
    std::map<uint64_t, DWORD> samplerStates_;
    Direct3DTexture9* textures_[kStages] = {};
    std::map<DWORD, D3DXMATRIX> transforms_;
    Direct3DVertexBuffer9* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT stride_ = 0;
    DWORD fvf_ = 0;
    D3DCOLOR clearColour_ = 0;
    bool inScene_ = false;
    int64_t presented_ = 0;
    int64_t draws_ = 0;
};

class HeadlessDirect3D final : public Direct3D9, public EmulatedObject {
  public:
    explicit HeadlessDirect3D(HeadlessBackend& owner) : owner_(owner) {}

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* presentParameters,
                         Direct3DDevice9** device) override;
    ULONG Release() override { return dropReference(); }

  private:
    HeadlessBackend& owner_;
};

class HeadlessLine final : public D3DXLine, public EmulatedObject {
  public:
    HRESULT Begin() override;
    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override;
    HRESULT End() override;
    ULONG Release() override { return dropReference(); }

  private:
    bool begun_ = false;
};

class HeadlessFont final : public D3DXFont, public EmulatedObject {
  public:
    explicit HeadlessFont(INT height) : height_(height) {}

    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override;
    ULONG Release() override { return dropReference(); }

  private:
    INT height_;
};
