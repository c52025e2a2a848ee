#include "platform/display.h"

#include <cstring>

#include "platform/d3dx_math.h"
#include "platform/window_functions.h"

Display::Display() : d3d(nullptr), device(nullptr), presentParams{}, width(0), height(0) {}

Display::~Display() {
    // The Direct3D object goes only together with a device.
    if (device != nullptr) {
        device->Release();
        device = nullptr;
        if (d3d != nullptr) {
            d3d->Release();
            d3d = nullptr;
        }
    }
}

HRESULT Display::init(HWND window, int width, int height) {
    this->width = width;
    this->height = height;

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (d3d == nullptr) return E_FAIL;

    // The mode is read only as a sign that the adapter answers; the back buffer format is fixed.
    D3DDISPLAYMODE mode;
    HRESULT hr = d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    if (FAILED(hr)) return hr;

    std::memset(&presentParams, 0, sizeof(presentParams));
    presentParams.BackBufferWidth = static_cast<UINT>(width);
    presentParams.BackBufferHeight = static_cast<UINT>(height);
    presentParams.BackBufferFormat = D3DFMT_A8R8G8B8;
    presentParams.BackBufferCount = 1;
    presentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
    presentParams.hDeviceWindow = window;
    presentParams.Windowed = FALSE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D24S8;
    presentParams.FullScreen_RefreshRateInHz = 0;
    presentParams.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                           D3DCREATE_HARDWARE_VERTEXPROCESSING, &presentParams, &device);
    if (FAILED(hr)) {
        fatalError("No hardware vertex processing found.\nUsing software.", false);
        hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParams, &device);
        if (FAILED(hr)) return hr;
    }

    hr = device->SetRenderState(D3DRS_LIGHTING, FALSE);
    if (FAILED(hr)) return hr;
    hr = device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    if (FAILED(hr)) return hr;

    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);

    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);

    for (DWORD sampler = 0; sampler < 2; ++sampler) {
        device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }

    // Blending itself is switched on by the render-state cache, not here.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);

    const D3DXMATRIX identity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    device->SetTransform(D3DTS_WORLD, &identity);

    D3DXMATRIX view;
    const D3DXVECTOR3 eye = {0.0f, 0.0f, -6.0f};
    const D3DXVECTOR3 at = {0.0f, 0.0f, 0.0f};
    const D3DXVECTOR3 up = {0.0f, 1.0f, 0.0f};
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    device->SetTransform(D3DTS_VIEW, &view);

    // The aspect is the fixed 4:3 of the show, not taken from the window.
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3333334f, 0.01f, 10000.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    return hr;
}

Direct3DDevice9* Display::getDevice() {
    return device;
}

void Display::beginFrame(D3DCOLOR colour) {
    HRESULT hr =
        device->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, colour, 1.0f, 0);
    if (SUCCEEDED(hr)) device->BeginScene();
}

void Display::endFrame() {
    if (SUCCEEDED(device->EndScene())) device->Present();
}

void Display::setCulling(bool on) {
    device->SetRenderState(D3DRS_CULLMODE, on ? D3DCULL_CCW : D3DCULL_NONE);
}

void Display::setDepthTest(bool on) {
    device->SetRenderState(D3DRS_ZENABLE, on ? 1 : 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, on ? 1 : 0);
}

Direct3DTexture9* Display::loadTexture(const char* path) {
    Direct3DTexture9* texture = nullptr;
    if (FAILED(D3DXCreateTextureFromFileA(device, path, &texture))) return nullptr;
    return texture;
}
