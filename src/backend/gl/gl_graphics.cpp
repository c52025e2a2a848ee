#include "backend/gl/gl_graphics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "backend/file_path.h"
#include "backend/gl/gl_device.h"
#include "backend/imaging/glyph_renderer.h"
#include "backend/imaging/jpeg_texture.h"
#include "backend/imaging/line_rasterizer.h"

namespace {

std::string glString(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
}

GlDevice* glDevice(Direct3DDevice9* device) {
    return dynamic_cast<GlDevice*>(device);
}

// The line drawer: the CPU renderer's pixels for the strip, drawn as points on the GPU; the
// device's states stay as they were, as they do around the platform's line drawer.
class GlLine final : public D3DXLine, public EmulatedObject {
  public:
    explicit GlLine(GlDevice* device) : device_(device) {}

    HRESULT Begin() override {
        if (begun_) return D3DERR_INVALIDCALL;
        begun_ = true;
        return S_OK;
    }

    HRESULT DrawTransform(const D3DXVECTOR3* vertices, DWORD count, const D3DXMATRIX* transform,
                          D3DCOLOR color) override {
        if (vertices == nullptr || transform == nullptr) return D3DERR_INVALIDCALL;
        if (!device_->rasterizing() || count < 2 || (color >> 24) == 0) return S_OK;
        const D3DXMATRIX& m = *transform;
        clip_.resize(static_cast<size_t>(count) * 4);
        for (DWORD i = 0; i < count; ++i) {
            const float p[3] = {vertices[i].x, vertices[i].y, vertices[i].z};
            transformPoint(m, p, &clip_[i * 4]);
        }
        pixels_.clear();
        // As thick as the target is finer than the device, so the line keeps its weight.
        const int thickness =
            std::max(1, int(std::lround(double(device_->targetHeight()) / device_->height())));
        lineStripPixels(device_->targetWidth(), device_->targetHeight(),
                        reinterpret_cast<const float(*)[4]>(clip_.data()), static_cast<int>(count),
                        thickness, [&](int64_t x, int64_t y) {
                            pixels_.push_back(x);
                            pixels_.push_back(y);
                        });
        device_->drawPoints(pixels_, color);
        return S_OK;
    }

    HRESULT End() override {
        if (!begun_) return D3DERR_INVALIDCALL;
        begun_ = false;
        return S_OK;
    }

    ULONG Release() override { return dropReference(); }

  private:
    GlDevice* device_;
    bool begun_ = false;
    std::vector<float> clip_;
    std::vector<int64_t> pixels_;
};

// The font: glyphs from the shared glyph renderer, kept in an 8-bit atlas texture and drawn as
// quads at the places the shared layout gives. The glyphs are rendered for the drawing target's
// size (18 pixels high on a 480-row target, 54 on a 1440-row one), and again when that changes.
class GlFont final : public D3DXFont, public EmulatedObject {
  public:
    GlFont(GlDevice* device, int height, int weight, std::string path)
        : device_(device), height_(height), weight_(weight), path_(std::move(path)) {}
    ~GlFont() override { dropAtlas(); }

    bool open(std::string* error) {
        // The height the show is told is counted in the device's pixels, whatever the target's.
        return measure_.open(path_, height_, weight_, error) && sizeGlyphs(error);
    }

    INT DrawTextA(const char* text, INT count, RECT* rect, DWORD /*format*/,
                  D3DCOLOR color) override {
        if (text == nullptr || rect == nullptr) return 0;
        const INT height = measure_.textHeight(text, count);
        if (!device_->rasterizing() || (color >> 24) == 0) return height;
        if (sizedFor_ != device_->targetHeight() && !sizeGlyphs(nullptr)) return height;
        const RECT scaled = {scaleX(rect->left), scaleY(rect->top), scaleX(rect->right),
                             scaleY(rect->bottom)};
        quads_.clear();
        const float sx = 2.0f / float(device_->targetWidth());
        const float sy = 2.0f / float(device_->targetHeight());
        glyphs_.layOut(text, count, scaled, device_->targetWidth(), device_->targetHeight(),
                       [&](unsigned char byte, const GlyphRenderer::Glyph& g,
                           const GlyphRenderer::GlyphClip& at) {
                           const Slot* slot = place(byte, g);
                           if (slot == nullptr) return;
                           // Corners half a pixel before the first covered pixel's centre and
                           // after the last, texel edges on them: one texel per pixel.
                           const float x0 = float(at.x + at.colFrom) - 0.5f;
                           const float x1 = float(at.x + at.colTo) - 0.5f;
                           const float y0 = float(at.y + at.rowFrom) - 0.5f;
                           const float y1 = float(at.y + at.rowTo) - 0.5f;
                           const float u0 = float(slot->x + at.colFrom) / float(side_);
                           const float u1 = float(slot->x + at.colTo) / float(side_);
                           const float v0 = float(slot->y + at.rowFrom) / float(side_);
                           const float v1 = float(slot->y + at.rowTo) / float(side_);
                           auto corner = [&](float x, float y, float u, float v) {
                               GlVertex c{};
                               c.clip[0] = x * sx - 1.0f;
                               c.clip[1] = 1.0f - y * sy;
                               c.clip[3] = 1.0f;
                               c.uv[0] = u;
                               c.uv[1] = v;
                               quads_.push_back(c);
                           };
                           corner(x0, y0, u0, v0);
                           corner(x1, y0, u1, v0);
                           corner(x0, y1, u0, v1);
                           corner(x1, y0, u1, v0);
                           corner(x1, y1, u1, v1);
                           corner(x0, y1, u0, v1);
                       });
        device_->drawGlyphs(quads_, atlas_, color);
        return height;
    }

    ULONG Release() override { return dropReference(); }

  private:
    LONG scaleX(LONG x) const {
        return LONG(std::lround(double(x) * device_->targetWidth() / device_->width()));
    }
    LONG scaleY(LONG y) const {
        return LONG(std::lround(double(y) * device_->targetHeight() / device_->height()));
    }

    // Renders the glyphs for the target's current height, starting a new atlas.
    bool sizeGlyphs(std::string* error) {
        dropAtlas();
        sizedFor_ = device_->targetHeight();
        std::string why;
        const bool ok = glyphs_.open(path_, int(scaleY(height_)), weight_, &why);
        if (!ok && error != nullptr) *error = why;
        return ok;
    }

    void dropAtlas() {
        if (atlas_ != 0) glDeleteTextures(1, &atlas_);
        atlas_ = 0;
        shelfX_ = shelfY_ = shelfHeight_ = 0;
        for (Slot& slot : slots_) slot = Slot();
    }

    struct Slot {
        bool placed = false;
        bool fits = false;
        int x = 0;
        int y = 0;
    };

    // The glyph's place in the atlas, packed in shelves as glyphs are first drawn; null when
    // the atlas is full (the glyph is then not drawn).
    const Slot* place(unsigned char byte, const GlyphRenderer::Glyph& g) {
        Slot& slot = slots_[byte];
        if (slot.placed) return slot.fits ? &slot : nullptr;
        slot.placed = true;
        if (atlas_ == 0) {
            GLint largest = 2048;
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
            side_ = 256;
            while (side_ < 12 * glyphs_.lineHeight() && side_ < largest) side_ *= 2;
            atlas_ = makeTexture(GL_R8, side_, side_, GL_NEAREST);
        }
        // One texel of gap keeps neighbours apart.
        if (shelfX_ + g.width + 1 > side_) {
            shelfX_ = 0;
            shelfY_ += shelfHeight_ + 1;
            shelfHeight_ = 0;
        }
        if (g.width + 1 > side_ || shelfY_ + g.rows > side_) return nullptr;
        slot.x = shelfX_;
        slot.y = shelfY_;
        slot.fits = true;
        shelfX_ += g.width + 1;
        shelfHeight_ = std::max(shelfHeight_, g.rows);
        if (g.width > 0 && g.rows > 0) {
            device_->flush();
            glBindTexture(GL_TEXTURE_2D, atlas_);
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexSubImage2D(GL_TEXTURE_2D, 0, slot.x, slot.y, g.width, g.rows, GL_RED,
                            GL_UNSIGNED_BYTE, g.coverage.data());
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        }
        return &slot;
    }

    GlDevice* device_;
    int height_;
    int weight_;
    std::string path_;
    int sizedFor_ = 0;
    GlyphRenderer glyphs_;
    GlyphRenderer measure_;
    GLuint atlas_ = 0;
    int side_ = 0;
    int shelfX_ = 0;
    int shelfY_ = 0;
    int shelfHeight_ = 0;
    Slot slots_[256];
    std::vector<GlVertex> quads_;
};

}  // namespace

GlContextInfo currentGlContext() {
    GlContextInfo info;
    info.renderer = glString(GL_RENDERER);
    info.version = glString(GL_VERSION);
    GLint major = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    info.usable =
        glGetError() == GL_NO_ERROR && major >= 3 && info.version.rfind("OpenGL ES", 0) == 0;
    for (const char* name : {"llvmpipe", "softpipe", "swrast"}) {
        if (info.renderer.find(name) != std::string::npos) info.software = true;
    }
    return info;
}

struct GlGraphics::Impl {
    GlOptions options;
    GlContext context;
    std::string renderer;
};

GlGraphics::GlGraphics(GlOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->context.sink = impl_->options.sink;
    impl_->context.scale = std::max(1, impl_->options.scale);
    impl_->context.presented = impl_->options.presented;
}

GlGraphics::~GlGraphics() = default;

void GlGraphics::setRasterizing(bool on) {
    impl_->context.rasterizing = on;
}

bool GlGraphics::rasterizing() const {
    return impl_->context.rasterizing;
}

void GlGraphics::setSink(FrameSink* sink) {
    impl_->context.sink = sink;
}

void GlGraphics::finishFrames() {
    if (impl_->context.device != nullptr) impl_->context.device->finishFrames();
}

std::string GlGraphics::name() const {
    // Asked of the context current now: a window's is made only after this renderer.
    if (impl_->renderer.empty()) impl_->renderer = glString(GL_RENDERER);
    return "the GL renderer (" + impl_->renderer + ")";
}

GlDevice* GlGraphics::device() const {
    return impl_->context.device;
}

bool GlGraphics::canDraw(std::string* error) {
    GlContext context;
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 640;
    parameters.BackBufferHeight = 480;
    parameters.EnableAutoDepthStencil = TRUE;
    GlDevice device(context, parameters);
    return device.start(error);
}

Direct3D9* GlGraphics::Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    name();
    return impl_->context.objects.make<GlDirect3D>(impl_->context);
}

HRESULT GlGraphics::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                               Direct3DTexture9** texture) {
    return createOnDevice(glDevice(device), texture,
                          [&](GlDevice& gl, Direct3DTexture9** out) -> HRESULT {
                              if (file == nullptr) return D3DERR_INVALIDCALL;
                              TextureImage image;
                              std::string error;
                              if (!loadJpegTexture(nativePath(file), &image, &error))
                                  return D3DXERR_INVALIDDATA;
                              GLint largest = 0;
                              glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
                              if (image.width > GLuint(largest) || image.height > GLuint(largest))
                                  return D3DXERR_INVALIDDATA;
                              auto* made = impl_->context.objects.make<GlTexture>(
                                  &gl, image.width, image.height, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED);
                              made->setTexels(image.texels);
                              *out = made;
                              return S_OK;
                          });
}

HRESULT GlGraphics::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                      UINT /*mipLevels*/, DWORD /*usage*/, D3DFORMAT format,
                                      D3DPOOL pool, Direct3DTexture9** texture,
                                      const char* /*name*/) {
    return createOnDevice(
        glDevice(device), texture, [&](GlDevice& gl, Direct3DTexture9** out) -> HRESULT {
            GLint largest = 0;
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
            const HRESULT adjusted = adjustTextureRequest(&width, &height, &format, UINT(largest));
            if (FAILED(adjusted)) return adjusted;
            *out = impl_->context.objects.make<GlTexture>(&gl, width, height, format, pool);
            return S_OK;
        });
}

HRESULT GlGraphics::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    return createOnDevice(glDevice(device), line, [&](GlDevice& gl, D3DXLine** out) {
        *out = impl_->context.objects.make<GlLine>(&gl);
        return S_OK;
    });
}

HRESULT GlGraphics::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT /*width*/,
                                    UINT weight, UINT /*mipLevels*/, BOOL /*italic*/,
                                    DWORD /*charSet*/, DWORD /*outputPrecision*/, DWORD /*quality*/,
                                    DWORD /*pitchAndFamily*/, const char* /*faceName*/,
                                    D3DXFont** font) {
    return createOnDevice(glDevice(device), font, [&](GlDevice& gl, D3DXFont** out) -> HRESULT {
        auto* made = impl_->context.objects.make<GlFont>(&gl, height, static_cast<int>(weight),
                                                         fontPath(impl_->options.fontPath));
        std::string error;
        if (!made->open(&error)) return E_FAIL;
        *out = made;
        return S_OK;
    });
}
