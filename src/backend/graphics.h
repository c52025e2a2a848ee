#pragma once
// The graphics service: the Direct3D 9 objects and the extension library's texture loading,
// texture creation, line drawer and font, with exactly the operations the show calls. Arguments
// the show always passes as null and that carry nothing (sprite, shared handle, clear
// rectangles, present regions) are left out.
//
// Objects are reference counted as on the platform: they start with one reference and Release
// drops it. Results are the platform's HRESULT codes; a negative code is a failure.
#include "backend/backend.h"
#include "backend/platform_constants.h"
#include "backend/platform_types.h"

class Direct3DTexture9 {
  public:
    // Level 0 only: hands out the texel pointer and the row pitch in bytes.
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~Direct3DTexture9() = default;
};

class Direct3DVertexBuffer9 {
  public:
    // size 0 locks from offset to the end of the buffer.
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~Direct3DVertexBuffer9() = default;
};

class Direct3DDevice9 {
  public:
    // Clears the whole target; flags are D3DCLEAR_*.
    virtual HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Present() = 0;

    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                         DWORD value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    // A null texture unbinds the stage.
    virtual HRESULT SetTexture(DWORD stage, Direct3DTexture9* texture) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) = 0;

    virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       Direct3DVertexBuffer9** vertexBuffer) = 0;
    virtual HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,
                                    UINT stride) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;

    // Copies a system-memory texture into a default-pool texture of the same size and format.
    virtual HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) = 0;

    virtual ULONG Release() = 0;

  protected:
    virtual ~Direct3DDevice9() = default;
};

// The whole device but Release, as a device that implements every operation declares it.
#define QM_DEVICE_OVERRIDES                                                                       \
    HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;                  \
    HRESULT BeginScene() override;                                                                \
    HRESULT EndScene() override;                                                                  \
    HRESULT Present() override;                                                                   \
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;                       \
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)         \
        override;                                                                                 \
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;       \
    HRESULT SetTexture(DWORD stage, Direct3DTexture9* texture) override;                          \
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override;         \
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,                 \
                               Direct3DVertexBuffer9** vertexBuffer) override;                    \
    HRESULT SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,        \
                            UINT stride) override;                                                \
    HRESULT SetFVF(DWORD fvf) override;                                                           \
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override; \
    HRESULT UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) override

// The Direct3D object: reads the display mode and creates the device.
class Direct3D9 {
  public:
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                 DWORD behaviorFlags, D3DPRESENT_PARAMETERS* presentParameters,
                                 Direct3DDevice9** device) = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~Direct3D9() = default;
};

// Draws thin line strips through points transformed by a given matrix.
class D3DXLine {
  public:
    virtual HRESULT Begin() = 0;
    virtual HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count,
                                  const D3DXMATRIX* transform, D3DCOLOR color) = 0;
    virtual HRESULT End() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~D3DXLine() = default;
};

class D3DXFont {
  public:
    // count -1: the text is zero-terminated. Returns the height of the drawn text, 0 on failure.
    virtual INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format,
                          D3DCOLOR color) = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~D3DXFont() = default;
};

// The library entry points that create the objects above.
class GraphicsSystem {
  public:
    virtual ~GraphicsSystem() = default;

    // Null when no Direct3D object can be made.
    virtual Direct3D9* Direct3DCreate9(UINT sdkVersion) = 0;

    // `file` is the path as the show writes it. On failure *texture is null.
    virtual HRESULT D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                               Direct3DTexture9** texture) = 0;
    // `name` labels the texture in traces (for example "video-staging"); backends that draw
    // ignore it.
    virtual HRESULT D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                      UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      Direct3DTexture9** texture, const char* name = nullptr) = 0;
    virtual HRESULT D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) = 0;
    virtual HRESULT D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width, UINT weight,
                                    UINT mipLevels, BOOL italic, DWORD charSet,
                                    DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily,
                                    const char* faceName, D3DXFont** font) = 0;
};

// The whole graphics service, as a service that implements every entry point declares it.
#define QM_GRAPHICS_SYSTEM_OVERRIDES                                                            \
    Direct3D9* Direct3DCreate9(UINT sdkVersion) override;                                       \
    HRESULT D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,               \
                                       Direct3DTexture9** texture) override;                    \
    HRESULT D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height, UINT mipLevels, \
                              DWORD usage, D3DFORMAT format, D3DPOOL pool,                      \
                              Direct3DTexture9** texture, const char* name) override;           \
    HRESULT D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) override;                  \
    HRESULT D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width, UINT weight,       \
                            UINT mipLevels, BOOL italic, DWORD charSet, DWORD outputPrecision,  \
                            DWORD quality, DWORD pitchAndFamily, const char* faceName,          \
                            D3DXFont** font) override

// The show calls the library entry points as free functions; they reach the chosen backend.

inline Direct3D9* Direct3DCreate9(UINT sdkVersion) {
    return backend().graphics->Direct3DCreate9(sdkVersion);
}

inline HRESULT D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                          Direct3DTexture9** texture) {
    return backend().graphics->D3DXCreateTextureFromFileA(device, file, texture);
}

inline HRESULT D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height, UINT mipLevels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                 Direct3DTexture9** texture, const char* name = nullptr) {
    return backend().graphics->D3DXCreateTexture(device, width, height, mipLevels, usage, format,
                                                 pool, texture, name);
}

inline HRESULT D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    return backend().graphics->D3DXCreateLine(device, line);
}

inline HRESULT D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width, UINT weight,
                               UINT mipLevels, BOOL italic, DWORD charSet, DWORD outputPrecision,
                               DWORD quality, DWORD pitchAndFamily, const char* faceName,
                               D3DXFont** font) {
    return backend().graphics->D3DXCreateFontA(device, height, width, weight, mipLevels, italic,
                                               charSet, outputPrecision, quality, pitchAndFamily,
                                               faceName, font);
}
