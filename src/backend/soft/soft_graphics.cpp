#include "backend/soft/soft_graphics.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <memory>
#include <thread>

#include <string>
#include <vector>

#include "backend/file_path.h"
#include "backend/imaging/glyph_renderer.h"
#include "backend/imaging/jpeg_texture.h"
#include "backend/imaging/line_rasterizer.h"
#include "backend/soft/band_workers.h"
#include "backend/soft/soft_device.h"

namespace {

// Lines go straight into the back buffer with their own blending, so the device's states stay
// as they were, as they do around the platform's line drawer.
class SoftLine final : public D3DXLine, public EmulatedObject {
  public:
    explicit SoftLine(SoftDevice* device) : device_(device) {}

    HRESULT Begin() override {
        if (begun_) return D3DERR_INVALIDCALL;
        begun_ = true;
        return S_OK;
    }

    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override {
        if (vertices == nullptr || transform == nullptr) return D3DERR_INVALIDCALL;
        if (!device_->rasterizing() || count < 2) return S_OK;
        device_->flush();
        const D3DXMATRIX& m = *transform;
        clip_.resize(static_cast<size_t>(count) * 4);
        for (DWORD i = 0; i < count; ++i) {
            const float p[3] = {vertices[i].x, vertices[i].y, vertices[i].z};
            transformPoint(m, p, &clip_[i * 4]);
        }
        RenderTarget target = device_->backBuffer();
        drawLineStrip(target, reinterpret_cast<const float(*)[4]>(clip_.data()),
                      static_cast<int>(count), color, device_->scale());
        return S_OK;
    }

    HRESULT End() override {
        if (!begun_) return D3DERR_INVALIDCALL;
        begun_ = false;
        return S_OK;
    }

    ULONG Release() override { return dropReference(); }

  private:
    SoftDevice* device_;
    bool begun_ = false;
    std::vector<float> clip_;  // x, y, z, w per point
};

// On a scaled back buffer the text is drawn from glyphs that many times larger, in a rectangle
// scaled alike, while the show is told the height the text takes on its own device.
class SoftFont final : public D3DXFont, public EmulatedObject {
  public:
    SoftFont(SoftDevice* device, int height) : device_(device), height_(height) {}

    bool open(const std::string& path, int weight, std::string* error) {
        if (!glyphs_.open(path, height_, weight, error)) return false;
        const int scale = device_->scale();
        if (scale == 1) return true;
        scaled_ = std::make_unique<GlyphRenderer>();
        return scaled_->open(path, height_ * scale, weight, error);
    }

    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD format, D3DCOLOR color) override {
        if (text == nullptr || rect == nullptr) return 0;
        if (!device_->rasterizing()) return measure(text, count);
        device_->flush();
        RenderTarget target = device_->backBuffer();
        if (!scaled_) return glyphs_.drawText(target, text, count, *rect, format, color);
        const LONG scale = device_->scale();
        const RECT area{rect->left * scale, rect->top * scale, rect->right * scale,
                        rect->bottom * scale};
        scaled_->drawText(target, text, count, area, format, color);
        return measure(text, count);
    }

    ULONG Release() override { return dropReference(); }

  private:
    // The height the text would take, counted exactly as drawing counts it.
    INT measure(const char* text, INT count) const { return glyphs_.textHeight(text, count); }

    SoftDevice* device_;
    int height_;
    GlyphRenderer glyphs_;
    std::unique_ptr<GlyphRenderer> scaled_;  // only on a scaled back buffer
};

SoftDevice* softDevice(Direct3DDevice9* device) {
    return dynamic_cast<SoftDevice*>(device);
}

}  // namespace

struct SoftGraphics::Impl {
    SoftOptions options;
    SoftContext context;
};

int availableCores() {
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
#endif
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? int(hardware) : 1;
}

SoftGraphics::SoftGraphics(SoftOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->context.sink = impl_->options.sink;
    impl_->context.reference = impl_->options.reference;
    impl_->context.scale = std::min(std::max(impl_->options.scale, 1), kMaxScale);
    int threads = impl_->options.threads < 1 ? 1 : impl_->options.threads;
    // The show's thread is one of them: it computes, and draws while it waits. A worker for each
    // of the others keeps every processor busy without more threads than processors.
    if (threads > 1) impl_->context.workers = std::make_unique<BandWorkers>(threads - 1);
}

SoftGraphics::~SoftGraphics() = default;

void SoftGraphics::setRasterizing(bool on) {
    impl_->context.rasterizing = on;
}

bool SoftGraphics::rasterizing() const {
    return impl_->context.rasterizing;
}

void SoftGraphics::setSink(FrameSink* sink) {
    impl_->context.sink = sink;
}

void SoftGraphics::finishFrames() {
    if (impl_->context.device != nullptr) impl_->context.device->finishFrames();
}

SoftDevice* SoftGraphics::device() const {
    return impl_->context.device;
}

Direct3D9* SoftGraphics::Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return impl_->context.objects.make<SoftDirect3D>(impl_->context);
}

HRESULT SoftGraphics::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                                 Direct3DTexture9** texture) {
    return createOnDevice(
        softDevice(device), texture, [&](SoftDevice& soft, Direct3DTexture9** out) -> HRESULT {
            if (file == nullptr) return D3DERR_INVALIDCALL;
            TextureImage image;
            std::string error;
            if (!loadJpegTexture(nativePath(file), &image, &error)) return D3DXERR_INVALIDDATA;
            auto* made = impl_->context.objects.make<SoftTexture>(&soft, image.width, image.height,
                                                                  D3DFMT_X8R8G8B8, D3DPOOL_MANAGED);
            made->setTexels(image.texels);
            *out = made;
            return S_OK;
        });
}

HRESULT SoftGraphics::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                        UINT /*mipLevels*/, DWORD /*usage*/, D3DFORMAT format,
                                        D3DPOOL pool, Direct3DTexture9** texture,
                                        const char* /*name*/) {
    return createOnDevice(
        softDevice(device), texture, [&](SoftDevice& soft, Direct3DTexture9** out) -> HRESULT {
            const HRESULT adjusted = adjustTextureRequest(&width, &height, &format, 8192);
            if (FAILED(adjusted)) return adjusted;
            *out = impl_->context.objects.make<SoftTexture>(&soft, width, height, format, pool);
            return S_OK;
        });
}

HRESULT SoftGraphics::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    return createOnDevice(softDevice(device), line, [&](SoftDevice& soft, D3DXLine** out) {
        *out = impl_->context.objects.make<SoftLine>(&soft);
        return S_OK;
    });
}

HRESULT SoftGraphics::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT /*width*/,
                                      UINT weight, UINT /*mipLevels*/, BOOL /*italic*/,
                                      DWORD /*charSet*/, DWORD /*outputPrecision*/,
                                      DWORD /*quality*/, DWORD /*pitchAndFamily*/,
                                      const char* /*faceName*/, D3DXFont** font) {
    return createOnDevice(
        softDevice(device), font, [&](SoftDevice& soft, D3DXFont** out) -> HRESULT {
            auto* made = impl_->context.objects.make<SoftFont>(&soft, height);
            std::string error;
            if (!made->open(fontPath(impl_->options.fontPath), static_cast<int>(weight), &error))
                return E_FAIL;
            *out = made;
            return S_OK;
        });
}
