// Direct3D 9 and its extension library, reached through the platform's own headers.
#include <d3d9.h>
#include <d3dx9.h>

#include <cstring>

#include "backend/win32/native.h"

namespace native {

namespace {

IDirect3D9* asD3D(void* object) {
    return static_cast<IDirect3D9*>(object);
}
IDirect3DDevice9* asDevice(void* object) {
    return static_cast<IDirect3DDevice9*>(object);
}
IDirect3DTexture9* asTexture(void* object) {
    return static_cast<IDirect3DTexture9*>(object);
}
IDirect3DVertexBuffer9* asVertexBuffer(void* object) {
    return static_cast<IDirect3DVertexBuffer9*>(object);
}
ID3DXLine* asLine(void* object) {
    return static_cast<ID3DXLine*>(object);
}
ID3DXFont* asFont(void* object) {
    return static_cast<ID3DXFont*>(object);
}

static_assert(sizeof(D3DMATRIX) == 16 * sizeof(float), "a matrix is 16 floats");
static_assert(sizeof(D3DXVECTOR3) == 3 * sizeof(float), "a point is 3 floats");
static_assert(sizeof(PresentParameters) == sizeof(D3DPRESENT_PARAMETERS),
              "the bridge's presentation parameters match the platform's");

// The system-memory copy of the back buffer, kept from one captured frame to the next.
struct ReadBack {
    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* surface = nullptr;
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;

    void drop() {
        if (surface != nullptr) surface->Release();
        surface = nullptr;
        device = nullptr;
    }
};
ReadBack readBack;

}  // namespace

uint32_t release(void* object) {
    if (object == nullptr) return 0;
    // A device going away takes the capture's copy surface with it.
    if (object == readBack.device) readBack.drop();
    return static_cast<IUnknown*>(object)->Release();
}

void* direct3DCreate9(uint32_t sdkVersion) {
    return Direct3DCreate9(sdkVersion);
}

int32_t getAdapterDisplayMode(void* d3d, uint32_t adapter, uint32_t mode[4]) {
    D3DDISPLAYMODE found{};
    HRESULT result = asD3D(d3d)->GetAdapterDisplayMode(adapter, &found);
    mode[0] = found.Width;
    mode[1] = found.Height;
    mode[2] = found.RefreshRate;
    mode[3] = found.Format;
    return result;
}

int32_t createDevice(void* d3d, uint32_t adapter, uint32_t deviceType, void* focusWindow,
                     uint32_t behaviorFlags, PresentParameters* parameters, void** device) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = parameters->backBufferWidth;
    p.BackBufferHeight = parameters->backBufferHeight;
    p.BackBufferFormat = static_cast<D3DFORMAT>(parameters->backBufferFormat);
    p.BackBufferCount = parameters->backBufferCount;
    p.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(parameters->multiSampleType);
    p.MultiSampleQuality = parameters->multiSampleQuality;
    p.SwapEffect = static_cast<D3DSWAPEFFECT>(parameters->swapEffect);
    p.hDeviceWindow = static_cast<HWND>(parameters->deviceWindow);
    p.Windowed = parameters->windowed;
    p.EnableAutoDepthStencil = parameters->enableAutoDepthStencil;
    p.AutoDepthStencilFormat = static_cast<D3DFORMAT>(parameters->autoDepthStencilFormat);
    p.Flags = parameters->flags;
    p.FullScreen_RefreshRateInHz = parameters->fullScreenRefreshRateInHz;
    p.PresentationInterval = parameters->presentationInterval;
    IDirect3DDevice9* created = nullptr;
    HRESULT result =
        asD3D(d3d)->CreateDevice(adapter, static_cast<D3DDEVTYPE>(deviceType),
                                 static_cast<HWND>(focusWindow), behaviorFlags, &p, &created);
    // The platform may adjust the parameters (a back-buffer count of 0 becomes 1): hand them back.
    parameters->backBufferWidth = p.BackBufferWidth;
    parameters->backBufferHeight = p.BackBufferHeight;
    parameters->backBufferFormat = p.BackBufferFormat;
    parameters->backBufferCount = p.BackBufferCount;
    *device = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t clear(void* device, uint32_t flags, uint32_t colour, float z, uint32_t stencil) {
    return asDevice(device)->Clear(0, nullptr, flags, colour, z, stencil);
}

int32_t beginScene(void* device) {
    return asDevice(device)->BeginScene();
}

int32_t endScene(void* device) {
    return asDevice(device)->EndScene();
}

int32_t present(void* device) {
    return asDevice(device)->Present(nullptr, nullptr, nullptr, nullptr);
}

int32_t setRenderState(void* device, uint32_t state, uint32_t value) {
    return asDevice(device)->SetRenderState(static_cast<D3DRENDERSTATETYPE>(state), value);
}

int32_t setTextureStageState(void* device, uint32_t stage, uint32_t type, uint32_t value) {
    return asDevice(device)->SetTextureStageState(
        stage, static_cast<D3DTEXTURESTAGESTATETYPE>(type), value);
}

int32_t setSamplerState(void* device, uint32_t sampler, uint32_t type, uint32_t value) {
    return asDevice(device)->SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type),
                                             value);
}

int32_t setTexture(void* device, uint32_t stage, void* texture) {
    return asDevice(device)->SetTexture(stage, asTexture(texture));
}

int32_t setTransform(void* device, uint32_t state, const float* matrix) {
    D3DMATRIX m;
    std::memcpy(&m, matrix, sizeof m);
    return asDevice(device)->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(state), &m);
}

int32_t createVertexBuffer(void* device, uint32_t length, uint32_t usage, uint32_t fvf,
                           uint32_t pool, void** vertexBuffer) {
    IDirect3DVertexBuffer9* created = nullptr;
    HRESULT result = asDevice(device)->CreateVertexBuffer(
        length, usage, fvf, static_cast<D3DPOOL>(pool), &created, nullptr);
    *vertexBuffer = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t setStreamSource(void* device, uint32_t stream, void* vertexBuffer, uint32_t offset,
                        uint32_t stride) {
    return asDevice(device)->SetStreamSource(stream, asVertexBuffer(vertexBuffer), offset, stride);
}

int32_t setFVF(void* device, uint32_t fvf) {
    return asDevice(device)->SetFVF(fvf);
}

int32_t drawPrimitive(void* device, uint32_t type, uint32_t startVertex, uint32_t count) {
    return asDevice(device)->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(type), startVertex, count);
}

int32_t updateTexture(void* device, void* source, void* destination) {
    return asDevice(device)->UpdateTexture(asTexture(source), asTexture(destination));
}

int32_t lockRect(void* texture, uint32_t level, int32_t* pitch, void** bits, const int32_t* rect,
                 uint32_t flags) {
    D3DLOCKED_RECT locked{};
    RECT area;
    if (rect != nullptr) {
        area.left = rect[0];
        area.top = rect[1];
        area.right = rect[2];
        area.bottom = rect[3];
    }
    HRESULT result =
        asTexture(texture)->LockRect(level, &locked, rect != nullptr ? &area : nullptr, flags);
    *pitch = SUCCEEDED(result) ? locked.Pitch : 0;
    *bits = SUCCEEDED(result) ? locked.pBits : nullptr;
    return result;
}

int32_t unlockRect(void* texture, uint32_t level) {
    return asTexture(texture)->UnlockRect(level);
}

int32_t lockVertexBuffer(void* vertexBuffer, uint32_t offset, uint32_t size, void** data,
                         uint32_t flags) {
    void* locked = nullptr;
    HRESULT result = asVertexBuffer(vertexBuffer)->Lock(offset, size, &locked, flags);
    *data = SUCCEEDED(result) ? locked : nullptr;
    return result;
}

int32_t unlockVertexBuffer(void* vertexBuffer) {
    return asVertexBuffer(vertexBuffer)->Unlock();
}

bool readBackBuffer(void* device, std::vector<uint32_t>* pixels, int* width, int* height) {
    IDirect3DDevice9* d = asDevice(device);
    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) return false;
    D3DSURFACE_DESC desc{};
    backBuffer->GetDesc(&desc);
    bool ok = desc.Format == D3DFMT_A8R8G8B8 || desc.Format == D3DFMT_X8R8G8B8;
    if (ok && (readBack.device != d || readBack.width != desc.Width ||
               readBack.height != desc.Height || readBack.format != desc.Format)) {
        readBack.drop();
        ok = SUCCEEDED(d->CreateOffscreenPlainSurface(
            desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &readBack.surface, nullptr));
        if (ok) {
            readBack.device = d;
            readBack.width = desc.Width;
            readBack.height = desc.Height;
            readBack.format = desc.Format;
        }
    }
    ok = ok && SUCCEEDED(d->GetRenderTargetData(backBuffer, readBack.surface));
    backBuffer->Release();
    D3DLOCKED_RECT locked{};
    if (!ok || FAILED(readBack.surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return false;
    pixels->resize(size_t(desc.Width) * desc.Height);
    // Without an alpha channel the fourth byte is undefined: the picture is opaque.
    const uint32_t alpha = desc.Format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    for (UINT y = 0; y < desc.Height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
        uint32_t* out = pixels->data() + size_t(y) * desc.Width;
        for (UINT x = 0; x < desc.Width; ++x) out[x] = row[x] | alpha;
    }
    readBack.surface->UnlockRect();
    *width = int(desc.Width);
    *height = int(desc.Height);
    return true;
}

int32_t createTextureFromFile(void* device, const char* path, void** texture) {
    IDirect3DTexture9* created = nullptr;
    HRESULT result = D3DXCreateTextureFromFileA(asDevice(device), path, &created);
    *texture = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t createTexture(void* device, uint32_t width, uint32_t height, uint32_t mipLevels,
                      uint32_t usage, uint32_t format, uint32_t pool, void** texture) {
    IDirect3DTexture9* created = nullptr;
    HRESULT result =
        D3DXCreateTexture(asDevice(device), width, height, mipLevels, usage,
                          static_cast<D3DFORMAT>(format), static_cast<D3DPOOL>(pool), &created);
    *texture = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t createLine(void* device, void** line) {
    ID3DXLine* created = nullptr;
    HRESULT result = D3DXCreateLine(asDevice(device), &created);
    *line = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t lineBegin(void* line) {
    return asLine(line)->Begin();
}

int32_t lineDrawTransform(void* line, const float* points, uint32_t count, const float* matrix,
                          uint32_t colour) {
    D3DXMATRIX m;
    std::memcpy(static_cast<D3DMATRIX*>(&m), matrix, sizeof(D3DMATRIX));
    return asLine(line)->DrawTransform(reinterpret_cast<const D3DXVECTOR3*>(points), count, &m,
                                       colour);
}

int32_t lineEnd(void* line) {
    return asLine(line)->End();
}

int32_t createFont(void* device, int32_t height, uint32_t width, uint32_t weight,
                   uint32_t mipLevels, int32_t italic, uint32_t charSet, uint32_t outputPrecision,
                   uint32_t quality, uint32_t pitchAndFamily, const char* faceName, void** font) {
    ID3DXFont* created = nullptr;
    HRESULT result =
        D3DXCreateFontA(asDevice(device), height, width, weight, mipLevels, italic, charSet,
                        outputPrecision, quality, pitchAndFamily, faceName, &created);
    *font = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t drawText(void* font, const char* text, int32_t count, int32_t* rect, uint32_t format,
                 uint32_t colour) {
    RECT area{rect[0], rect[1], rect[2], rect[3]};
    INT height = asFont(font)->DrawTextA(nullptr, text, count, &area, format, colour);
    rect[0] = area.left;
    rect[1] = area.top;
    rect[2] = area.right;
    rect[3] = area.bottom;
    return height;
}

}  // namespace native
