// The GL renderer's device against the CPU renderer's on the same calls: random scenes over
// every stage operation, argument, blend factor, filter, address mode, texture format, lighting
// and culling, with quads on whole pixels (where the fill rule decides) and anywhere, and the
// four channels of the back buffer compared, alpha included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "backend/egl/egl_context.h"
#include "backend/emulated/device_constants.h"
#include "backend/gl/gl_graphics.h"
#include "backend/soft/soft_graphics.h"

// The GPU drivers keep allocations to the process's end, which a sanitizer build would report
// as leaks of the tests.
extern "C" const char* __lsan_default_options() {
    return "detect_leaks=0";
}

namespace {

using namespace emulated;

constexpr int kSize = 64;

struct Vertex {
    float x, y, z;
    uint32_t diffuse;
    float u0, v0, u1, v1;
};

class LastFrame : public FrameSink {
  public:
    void presentFrame(const uint32_t* pixels, int width, int height) override {
        frame.assign(pixels, pixels + size_t(width) * height);
    }
    std::vector<uint32_t> frame;
};

// One renderer with a device of kSize x kSize and a vertex buffer.
struct Target {
    explicit Target(Renderer& renderer) : graphics(renderer) {
        renderer.setSink(&sink);
        Direct3D9* d3d = renderer.Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferWidth = kSize;
        parameters.BackBufferHeight = kSize;
        parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device);
        if (device == nullptr) return;
        device->CreateVertexBuffer(4 * sizeof(Vertex), D3DUSAGE_WRITEONLY, 578, D3DPOOL_DEFAULT,
                                   &buffer);
        device->SetFVF(578);
        device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    }

    Direct3DTexture9* texture(int w, int h, D3DFORMAT format, const std::vector<uint32_t>& t) {
        Direct3DTexture9* made = nullptr;
        graphics.D3DXCreateTexture(device, UINT(w), UINT(h), 1, 0, format, D3DPOOL_MANAGED, &made);
        D3DLOCKED_RECT locked{};
        made->LockRect(0, &locked, nullptr, 0);
        std::memcpy(locked.pBits, t.data(), t.size() * 4);
        made->UnlockRect(0);
        return made;
    }

    void quad(const Vertex (&v)[4]) {
        void* data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, v, sizeof v);
        buffer->Unlock();
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }

    std::vector<uint32_t> present() {
        device->EndScene();
        device->Present();
        graphics.finishFrames();
        device->BeginScene();
        return sink.frame;
    }

    Renderer& graphics;
    LastFrame sink;
    Direct3DDevice9* device = nullptr;
    Direct3DVertexBuffer9* buffer = nullptr;
};

class GlDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        context = EglContext::create(&error);
        ASSERT_TRUE(context) << "no OpenGL ES context: " << error;
        ASSERT_TRUE(GlGraphics::canDraw(&error)) << error;
        SoftOptions options;
        options.threads = 1;
        options.reference = true;
        soft = std::make_unique<SoftGraphics>(options);
        gl = std::make_unique<GlGraphics>();
        cpu = std::make_unique<Target>(*soft);
        gpu = std::make_unique<Target>(*gl);
        ASSERT_NE(gpu->device, nullptr);
    }
    void TearDown() override {
        gpu.reset();
        gl.reset();
    }

    template <class Call>
    void both(Call&& call) {
        call(*cpu);
        call(*gpu);
    }

    std::unique_ptr<EglContext> context;
    std::unique_ptr<SoftGraphics> soft;
    std::unique_ptr<GlGraphics> gl;
    std::unique_ptr<Target> cpu;
    std::unique_ptr<Target> gpu;
};

int channelDifference(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
        most = std::max(most, d);
    }
    return most;
}

TEST_F(GlDevice, RandomScenesMatchTheCpuRenderer) {
    std::mt19937 random(1234);
    auto below = [&](int n) { return int(random() % uint32_t(n)); };
    auto colour = [&] { return uint32_t(random()); };
    const DWORD ops[] = {D3DTOP_DISABLE,    kTopSelectArg1,    kTopSelectArg2, D3DTOP_MODULATE,
                         D3DTOP_MODULATE2X, D3DTOP_MODULATE4X, kTopAdd};
    const DWORD args[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE, kTaTFactor};
    size_t pixels = 0, off = 0;
    double squares = 0;
    for (int scene = 0; scene < 40; ++scene) {
        const uint32_t clear = colour();
        both([&](Target& t) {
            t.device->BeginScene();
            t.device->Clear(D3DCLEAR_TARGET, clear, 1.0f, 0);
        });
        const int sizes[] = {1, 2, 4, 16, 64, 3, 48};
        std::vector<Direct3DTexture9*> cpuTextures, gpuTextures;
        for (int i = 0; i < 3; ++i) {
            const int w = sizes[below(7)], h = sizes[below(7)];
            const D3DFORMAT format = below(2) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            std::vector<uint32_t> texels(size_t(w) * h);
            for (uint32_t& t : texels) t = colour();
            cpuTextures.push_back(cpu->texture(w, h, format, texels));
            gpuTextures.push_back(gpu->texture(w, h, format, texels));
        }
        for (int q = 0, quads = 1 + below(8); q < quads; ++q) {
            const DWORD lighting = below(4) == 0, cull = 1 + below(3), blend = below(4) != 0;
            const DWORD source = 1 + below(10), destination = 1 + below(10);
            const uint32_t factor = colour();
            DWORD stage[2][9];
            int textureOf[2];
            for (int s = 0; s < 2; ++s) {
                textureOf[s] = below(4) - 1;
                stage[s][0] = ops[below(7)];
                stage[s][1] = args[below(4)];
                stage[s][2] = args[below(4)];
                stage[s][3] = below(2) ? kTopSelectArg1 : ops[below(7)];
                stage[s][4] = args[below(4)];
                stage[s][5] = args[below(4)];
                stage[s][6] = below(3) ? D3DTEXF_LINEAR : kTexfPoint;
                stage[s][7] = below(3) ? kAddressWrap : kAddressClamp;
                stage[s][8] = below(3) ? kAddressWrap : kAddressClamp;
            }
            // Whole pixels half the time: then only the fill rule decides the edges.
            const bool whole = below(2) == 0;
            auto coordinate = [&] {
                const float pixel = whole ? float(below(kSize + 1)) : float(below(kSize * 16)) / 16;
                return pixel * 2.0f / kSize - 1.0f;
            };
            const float x0 = coordinate(), x1 = coordinate(), y0 = coordinate(), y1 = coordinate();
            Vertex v[4];
            const float corners[4][2] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
            for (int i = 0; i < 4; ++i) {
                const float spread = below(2) ? 3.0f : 1.0f;
                v[i] = {corners[i][0],
                        corners[i][1],
                        0.5f,
                        colour(),
                        float(below(64)) / 32 * spread - 0.5f,
                        float(below(64)) / 32 * spread - 0.5f,
                        float(below(64)) / 32,
                        float(below(64)) / 32};
            }
            auto draw = [&](Target& t, std::vector<Direct3DTexture9*>& textures) {
                t.device->SetRenderState(D3DRS_LIGHTING, lighting);
                t.device->SetRenderState(D3DRS_CULLMODE, cull);
                t.device->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
                t.device->SetRenderState(D3DRS_SRCBLEND, source);
                t.device->SetRenderState(D3DRS_DESTBLEND, destination);
                t.device->SetRenderState(kRsTextureFactor, factor);
                for (DWORD s = 0; s < 2; ++s) {
                    t.device->SetTexture(s, textureOf[s] < 0 ? nullptr : textures[textureOf[s]]);
                    t.device->SetTextureStageState(s, D3DTSS_COLOROP, stage[s][0]);
                    t.device->SetTextureStageState(s, D3DTSS_COLORARG1, stage[s][1]);
                    t.device->SetTextureStageState(s, D3DTSS_COLORARG2, stage[s][2]);
                    t.device->SetTextureStageState(s, kTssAlphaOp, stage[s][3]);
                    t.device->SetTextureStageState(s, kTssAlphaArg1, stage[s][4]);
                    t.device->SetTextureStageState(s, kTssAlphaArg2, stage[s][5]);
                    t.device->SetSamplerState(s, D3DSAMP_MINFILTER, stage[s][6]);
                    t.device->SetSamplerState(s, D3DSAMP_MAGFILTER, stage[s][6]);
                    t.device->SetSamplerState(s, kSampAddressU, stage[s][7]);
                    t.device->SetSamplerState(s, kSampAddressV, stage[s][8]);
                }
                t.quad(v);
            };
            draw(*cpu, cpuTextures);
            draw(*gpu, gpuTextures);
        }
        const std::vector<uint32_t> a = cpu->present(), b = gpu->present();
        ASSERT_EQ(a.size(), size_t(kSize) * kSize);
        ASSERT_EQ(b.size(), a.size());
        for (size_t i = 0; i < a.size(); ++i) {
            const int d = channelDifference(a[i], b[i]);
            ++pixels;
            if (d > 2) ++off;
            squares += double(d) * d;
        }
    }
    // Filtering and blending round a little differently on the GPU (by one, four times that
    // under MODULATE4X); a wrong operation, factor, argument, texel alignment or fill rule
    // changes whole quads, a few per cent of the pixels at least.
    const double rms = std::sqrt(squares / double(pixels));
    std::printf(
        "pixels off by more than 2: %zu of %zu; rms of the largest channel difference "
        "%.3f\n",
        off, pixels, rms);
    EXPECT_LT(double(off), 0.005 * double(pixels));
    EXPECT_LT(rms, 1.5);
}

}  // namespace
