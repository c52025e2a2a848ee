#pragma once
// A small device for the CPU renderer's tests: a target of a few pixels, quads and triangles
// given in screen pixels or in clip space, and the resulting pixels.
#include <cstdint>
#include <cstring>
#include <vector>

#include "backend/emulated/device_constants.h"
#include "backend/soft/soft_device.h"
#include "backend/soft/soft_graphics.h"

struct TestVertex {
    float x;
    float y;
    float z;
    uint32_t diffuse;
    float u0;
    float v0;
    float u1;
    float v1;
};
static_assert(sizeof(TestVertex) == 32, "the show's vertex layout");

class SoftFixture {
  public:
    explicit SoftFixture(int width, int height, SoftOptions options = referenceOptions(),
                         bool depth = false)
        : graphics_(options), width_(width), height_(height) {
        Direct3D9* d3d = graphics_.Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferWidth = static_cast<UINT>(width);
        parameters.BackBufferHeight = static_cast<UINT>(height);
        parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
        parameters.EnableAutoDepthStencil = depth ? TRUE : FALSE;
        Direct3DDevice9* device = nullptr;
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device);
        device_ = graphics_.device();
        device_->CreateVertexBuffer(32 * 4096, D3DUSAGE_WRITEONLY, 578, D3DPOOL_DEFAULT, &buffer_);
        device_->BeginScene();
    }

    static SoftOptions referenceOptions() {
        SoftOptions options;
        options.threads = 1;
        options.reference = true;
        return options;
    }

    // The fast path (AVX2 where the processor has it) on `threads` threads.
    static SoftOptions fastOptions(int threads, FrameSink* sink = nullptr) {
        SoftOptions options = referenceOptions();
        options.reference = false;
        options.threads = threads;
        options.sink = sink;
        return options;
    }

    SoftDevice& device() { return *device_; }
    SoftGraphics& graphics() { return graphics_; }

    // The plain fixed-function setup most tests start from: no lighting, no culling.
    void unlit() {
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }

    // Clip-space x, y of screen position (px, py) under identity transforms.
    float clipX(float px) const { return 2.0f * px / static_cast<float>(width_) - 1.0f; }
    float clipY(float py) const { return 1.0f - 2.0f * py / static_cast<float>(height_); }

    TestVertex screen(float px, float py, uint32_t diffuse, float u = 0, float v = 0) const {
        return TestVertex{clipX(px), clipY(py), 0.5f, diffuse, u, v, u, v};
    }

    HRESULT draw(const std::vector<TestVertex>& vertices, D3DPRIMITIVETYPE type) {
        void* data = nullptr;
        buffer_->Lock(0, 0, &data, 0);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(TestVertex));
        buffer_->Unlock();
        device_->SetStreamSource(0, buffer_, 0, 32);
        device_->SetFVF(578);
        UINT count = type == D3DPT_TRIANGLESTRIP ? static_cast<UINT>(vertices.size()) - 2
                                                 : static_cast<UINT>(vertices.size()) / 3;
        return device_->DrawPrimitive(type, 0, count);
    }

    HRESULT strip(const std::vector<TestVertex>& vertices) {
        return draw(vertices, D3DPT_TRIANGLESTRIP);
    }

    // Screen rectangle [x0, x1] × [y0, y1] drawn clockwise on screen, texture 0..1 over it.
    HRESULT rect(float x0, float y0, float x1, float y1, uint32_t diffuse) {
        return strip({screen(x0, y0, diffuse, 0, 0), screen(x1, y0, diffuse, 1, 0),
                      screen(x0, y1, diffuse, 0, 1), screen(x1, y1, diffuse, 1, 1)});
    }

    Direct3DTexture9* texture(int width, int height, const std::vector<uint32_t>& texels,
                              D3DFORMAT format = D3DFMT_A8R8G8B8) {
        Direct3DTexture9* made = nullptr;
        graphics_.D3DXCreateTexture(device_, static_cast<UINT>(width), static_cast<UINT>(height), 1,
                                    0, format, D3DPOOL_MANAGED, &made, nullptr);
        fill(made, width, height, texels);
        return made;
    }

    static void fill(Direct3DTexture9* texture, int width, int height,
                     const std::vector<uint32_t>& texels) {
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        for (int y = 0; y < height; ++y) {
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch,
                        texels.data() + static_cast<size_t>(y) * width, width * 4u);
        }
        texture->UnlockRect(0);
    }

    uint32_t pixel(int x, int y) {
        device_->flush();
        RenderTarget target = device_->backBuffer();
        return target.pixels[static_cast<size_t>(y) * target.pitch + x];
    }

    std::vector<uint32_t> pixels() {
        device_->flush();
        RenderTarget target = device_->backBuffer();
        return std::vector<uint32_t>(target.pixels, target.pixels + target.width * target.height);
    }

  private:
    SoftGraphics graphics_;
    SoftDevice* device_ = nullptr;
    Direct3DVertexBuffer9* buffer_ = nullptr;
    int width_;
    int height_;
};

inline uint32_t channel(uint32_t colour, int shift) {
    return (colour >> shift) & 0xFF;
}
