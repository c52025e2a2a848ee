#include <cstring>

#include "backend/recording/recording_backend.h"
#include "backend/recording/recording_state.h"

namespace {

// No texture is written as none, where other missing objects are NULL.
std::string textureLabel(Direct3DTexture9* texture) {
    return labelOf(texture, "none");
}

// Bytes per vertex of the vertex formats the recorder can spell out (a position, an optional
// diffuse colour and up to eight texture-coordinate pairs), or 0 for any other format.
UINT vertexStride(DWORD fvf) {
    const DWORD known = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEXCOUNT_MASK;
    if ((fvf & ~known) != 0 || (fvf & D3DFVF_XYZ) == 0) return 0;
    DWORD pairs = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (pairs > 8) return 0;
    return 12 + ((fvf & D3DFVF_DIFFUSE) != 0 ? 4 : 0) + 8 * pairs;
}

float floatAt(const uint8_t* bytes) {
    float value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

uint32_t wordAt(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

void describeVertices(TraceLine& line, const uint8_t* data, UINT size, DWORD fvf) {
    UINT stride = vertexStride(fvf);
    if (stride != 0 && size % stride == 0) {
        for (UINT offset = 0; offset < size; offset += stride) {
            const uint8_t* vertex = data + offset;
            line.open().real(floatAt(vertex)).real(floatAt(vertex + 4)).real(floatAt(vertex + 8));
            UINT at = 12;
            if ((fvf & D3DFVF_DIFFUSE) != 0) {
                line.colour(wordAt(vertex + at));
                at += 4;
            }
            for (; at < stride; at += 4) line.real(floatAt(vertex + at));
            line.close();
        }
        return;
    }
    line.open();
    UINT at = 0;
    for (; at + 4 <= size; at += 4) line.hex(wordAt(data + at));
    for (; at < size; ++at) line.natural(data[at]);
    line.close();
}

// FNV-1a over the texel rows, pitch padding left out.
uint32_t texelHash(const uint8_t* base, INT pitch, UINT width, UINT height) {
    uint32_t hash = 2166136261u;
    for (UINT y = 0; y < height; ++y) {
        const uint8_t* row = base + static_cast<size_t>(y) * static_cast<size_t>(pitch);
        for (UINT x = 0; x < width * 4; ++x) {
            hash ^= row[x];
            hash *= 16777619u;
        }
    }
    return hash;
}

// Lines a simulated font draws: one per line feed, none for empty text.
INT linesOf(const char* text, INT count) {
    if (text == nullptr || count == 0 || text[0] == '\0') return 0;
    INT lines = 1;
    for (INT i = 0; count < 0 ? text[i] != '\0' : i < count; ++i) {
        if (text[i] == '\n') ++lines;
    }
    return lines;
}

}  // namespace

// ---- textures ----

bool RecordingTexture::hasTexelSize() const {
    return width_ > 0 && height_ > 0 && (format_ == D3DFMT_A8R8G8B8 || format_ == D3DFMT_X8R8G8B8);
}

INT RecordingTexture::pitch() const {
    return static_cast<INT>(width_ * 4) + state_.pitchPadding;
}

std::vector<uint8_t>& RecordingTexture::bits() {
    size_t size = static_cast<size_t>(pitch()) * height_;
    if (bits_.size() != size) bits_.resize(size, 0);
    return bits_;
}

HRESULT RecordingTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                   DWORD flags) {
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->LockRect(level, locked, rect, flags);
    } else {
        bool inside = rect == nullptr ||
                      (rect->left >= 0 && rect->top >= 0 && rect->left < rect->right &&
                       rect->top < rect->bottom && static_cast<UINT>(rect->right) <= width_ &&
                       static_cast<UINT>(rect->bottom) <= height_);
        hr = state_.result(label_, "LockRect",
                           level == 0 && locked != nullptr && hasTexelSize() && inside,
                           D3DERR_INVALIDCALL);
        if (SUCCEEDED(hr)) {
            size_t offset = 0;
            if (rect != nullptr) {
                offset = static_cast<size_t>(rect->top) * static_cast<size_t>(pitch()) +
                         static_cast<size_t>(rect->left) * 4;
            }
            locked->pBits = bits().data() + offset;
            locked->Pitch = pitch();
        }
    }
    bool handedOut = SUCCEEDED(hr) && locked != nullptr;
    locked_ = handedOut;
    lockedBase_ = handedOut && rect == nullptr && level == 0
                      ? static_cast<const uint8_t*>(locked->pBits)
                      : nullptr;
    lockedPitch_ = handedOut ? locked->Pitch : 0;

    TraceLine line("LockRect");
    line.word(label_).natural(level).rect(rect).natural(flags).arrow().result(hr);
    if (handedOut) line.integer(locked->Pitch);
    state_.emit(line);
    return hr;
}

HRESULT RecordingTexture::UnlockRect(UINT level) {
    std::string content = "none";
    if (locked_ && lockedBase_ != nullptr && level == 0 && hasTexelSize()) {
        content = formatHex(texelHash(lockedBase_, lockedPitch_, width_, height_));
    }
    HRESULT hr = inner_ != nullptr ? inner_->UnlockRect(level)
                                   : state_.result(label_, "UnlockRect", locked_ && level == 0,
                                                   D3DERR_INVALIDCALL);
    locked_ = false;
    lockedBase_ = nullptr;
    state_.emit(
        TraceLine("UnlockRect").word(label_).natural(level).word(content).arrow().result(hr));
    return hr;
}

// ---- vertex buffers ----

HRESULT RecordingVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    UINT span = size != 0 ? size : (offset <= length_ ? length_ - offset : 0);
    HRESULT hr;
    void* handedOut = nullptr;
    if (inner_ != nullptr) {
        hr = inner_->Lock(offset, size, data, flags);
        if (SUCCEEDED(hr) && data != nullptr) handedOut = *data;
    } else {
        hr = state_.result(label_, "Lock",
                           data != nullptr && offset <= length_ && span <= length_ - offset,
                           D3DERR_INVALIDCALL);
        if (SUCCEEDED(hr)) {
            bytes_.resize(length_, 0);
            handedOut = bytes_.data() + offset;
            *data = handedOut;
        } else if (data != nullptr) {
            *data = nullptr;
        }
    }
    locked_ = handedOut != nullptr;
    lockedData_ = static_cast<const uint8_t*>(handedOut);
    lockedSize_ = locked_ ? span : 0;
    return logged("Lock", hr, offset, size, flags);
}

HRESULT RecordingVertexBuffer::Unlock() {
    TraceLine line("Unlock");
    line.word(label_);
    if (locked_) describeVertices(line, lockedData_, lockedSize_, fvf_);
    HRESULT hr = inner_ != nullptr ? inner_->Unlock()
                                   : state_.result(label_, "Unlock", locked_, D3DERR_INVALIDCALL);
    locked_ = false;
    lockedData_ = nullptr;
    state_.emit(line.arrow().result(hr));
    return hr;
}

// ---- device ----

HRESULT RecordingDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    HRESULT hr = inner_ != nullptr ? inner_->Clear(flags, color, z, stencil)
                                   : state_.result(label_, "Clear");
    state_.emit(TraceLine("Clear")
                    .word(label_)
                    .natural(flags)
                    .colour(color)
                    .real(z)
                    .natural(stencil)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::BeginScene() {
    return recorded("BeginScene", &Direct3DDevice9::BeginScene);
}

HRESULT RecordingDevice::EndScene() {
    return recorded("EndScene", &Direct3DDevice9::EndScene);
}

HRESULT RecordingDevice::Present() {
    return recorded("Present", &Direct3DDevice9::Present);
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    return recorded("SetRenderState", &Direct3DDevice9::SetRenderState, state, value);
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                              DWORD value) {
    return recorded("SetTextureStageState", &Direct3DDevice9::SetTextureStageState, stage, type,
                    value);
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    return recorded("SetSamplerState", &Direct3DDevice9::SetSamplerState, sampler, type, value);
}

HRESULT RecordingDevice::SetTexture(DWORD stage, Direct3DTexture9* texture) {
    HRESULT hr = inner_ != nullptr ? inner_->SetTexture(stage, innerOf(texture))
                                   : state_.result(label_, "SetTexture");
    state_.emit(TraceLine("SetTexture")
                    .word(label_)
                    .natural(stage)
                    .word(textureLabel(texture))
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
    HRESULT hr = inner_ != nullptr
                     ? inner_->SetTransform(state, matrix)
                     : state_.result(label_, "SetTransform", matrix != nullptr, D3DERR_INVALIDCALL);
    state_.emit(
        TraceLine("SetTransform").word(label_).natural(state).matrix(matrix).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            Direct3DVertexBuffer9** vertexBuffer) {
    Direct3DVertexBuffer9* inner = nullptr;
    HRESULT hr = inner_ != nullptr
                     ? inner_->CreateVertexBuffer(length, usage, fvf, pool, &inner)
                     : state_.result(label_, "CreateVertexBuffer",
                                     vertexBuffer != nullptr && length != 0, D3DERR_INVALIDCALL);
    Direct3DVertexBuffer9* made = state_.standIn<RecordingVertexBuffer>(
        hr, inner_ != nullptr, inner, [this] { return state_.nextLabel("vb"); }, length, fvf);
    if (vertexBuffer != nullptr) *vertexBuffer = made;
    state_.emit(TraceLine("CreateVertexBuffer")
                    .word(label_)
                    .numbers(length, usage, fvf, pool)
                    .arrow()
                    .result(hr)
                    .word(labelOf(made)));
    return hr;
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer,
                                         UINT offset, UINT stride) {
    HRESULT hr = inner_ != nullptr
                     ? inner_->SetStreamSource(stream, innerOf(vertexBuffer), offset, stride)
                     : state_.result(label_, "SetStreamSource");
    state_.emit(TraceLine("SetStreamSource")
                    .word(label_)
                    .natural(stream)
                    .word(labelOf(vertexBuffer))
                    .numbers(offset, stride)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetFVF(DWORD fvf) {
    return recorded("SetFVF", &Direct3DDevice9::SetFVF, fvf);
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex,
                                       UINT primitiveCount) {
    return recorded("DrawPrimitive", &Direct3DDevice9::DrawPrimitive, type, startVertex,
                    primitiveCount);
}

HRESULT RecordingDevice::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) {
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->UpdateTexture(innerOf(source), innerOf(destination));
    } else {
        auto* from = dynamic_cast<RecordingTexture*>(source);
        auto* to = dynamic_cast<RecordingTexture*>(destination);
        hr = state_.result(label_, "UpdateTexture",
                           from != nullptr && to != nullptr && from->sameShape(*to),
                           D3DERR_INVALIDCALL);
        // A texture never locked holds zeros, as a fresh one does.
        if (SUCCEEDED(hr)) to->bits() = from->bits();
    }
    state_.emit(TraceLine("UpdateTexture")
                    .word(label_)
                    .word(textureLabel(source))
                    .word(textureLabel(destination))
                    .arrow()
                    .result(hr));
    return hr;
}

// ---- Direct3D object ----

HRESULT RecordingDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->GetAdapterDisplayMode(adapter, mode);
    } else {
        hr = state_.result(label_, "GetAdapterDisplayMode", mode != nullptr, D3DERR_INVALIDCALL);
        if (SUCCEEDED(hr)) *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    }
    TraceLine line("GetAdapterDisplayMode");
    line.word(label_).natural(adapter).arrow().result(hr);
    if (SUCCEEDED(hr) && mode != nullptr) {
        line.open().numbers(mode->Width, mode->Height, mode->RefreshRate, mode->Format).close();
    }
    state_.emit(line);
    return hr;
}

HRESULT RecordingDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                        DWORD behaviorFlags,
                                        D3DPRESENT_PARAMETERS* presentParameters,
                                        Direct3DDevice9** device) {
    // The parameters as the show filled them, before a backend adjusts any.
    TraceLine line("CreateDevice");
    line.word(label_).numbers(adapter, type).word(state_.hwnd(focusWindow)).numbers(behaviorFlags);
    if (presentParameters == nullptr) {
        line.word("NULL");
    } else {
        const D3DPRESENT_PARAMETERS& p = *presentParameters;
        line.open()
            .numbers(p.BackBufferWidth, p.BackBufferHeight, p.BackBufferFormat, p.BackBufferCount,
                     p.MultiSampleType, p.MultiSampleQuality, p.SwapEffect)
            .word(state_.hwnd(p.hDeviceWindow))
            .numbers(p.Windowed, p.EnableAutoDepthStencil, p.AutoDepthStencilFormat, p.Flags,
                     p.FullScreen_RefreshRateInHz, p.PresentationInterval)
            .close();
    }

    Direct3DDevice9* inner = nullptr;
    HRESULT hr =
        inner_ != nullptr
            ? inner_->CreateDevice(adapter, type, focusWindow, behaviorFlags, presentParameters,
                                   &inner)
            : state_.result(label_, "CreateDevice",
                            device != nullptr && presentParameters != nullptr, D3DERR_INVALIDCALL);
    Direct3DDevice9* made = state_.standIn<RecordingDevice>(
        hr, inner_ != nullptr, inner, [this] { return state_.nextLabel("device"); });
    if (device != nullptr) *device = made;
    state_.emit(line.arrow().result(hr).word(labelOf(made)));
    return hr;
}

// ---- line drawer ----

HRESULT RecordingLine::Begin() {
    return recorded("Begin", &D3DXLine::Begin);
}

HRESULT RecordingLine::DrawTransform(const D3DXVECTOR3* vertices, DWORD count,
                                     const D3DXMATRIX* transform, D3DCOLOR color) {
    HRESULT hr = inner_ != nullptr ? inner_->DrawTransform(vertices, count, transform, color)
                                   : state_.result(label_, "DrawTransform");
    TraceLine line("DrawTransform");
    line.word(label_);
    if (vertices == nullptr) {
        line.word("NULL");
    } else {
        line.open();
        for (DWORD i = 0; i < count; ++i) {
            line.open().real(vertices[i].x).real(vertices[i].y).real(vertices[i].z).close();
        }
        line.close();
    }
    state_.emit(line.natural(count).matrix(transform).colour(color).arrow().result(hr));
    return hr;
}

HRESULT RecordingLine::End() {
    return recorded("End", &D3DXLine::End);
}

// ---- font ----

INT RecordingFont::DrawTextA(const char* text, INT count, RECT* rect, DWORD format,
                             D3DCOLOR color) {
    // Each simulated line is as high as the font.
    INT height = inner_ != nullptr
                     ? inner_->DrawTextA(text, count, rect, format, color)
                     : state_.scripted<INT>(label_, "DrawTextA", [&] {
                           return linesOf(text, count) * (height_ < 0 ? -height_ : height_);
                       });
    state_.emit(TraceLine("DrawTextA")
                    .word(label_)
                    .text(text, count)
                    .integer(count)
                    .rect(rect)
                    .natural(format)
                    .colour(color)
                    .arrow()
                    .integer(height));
    return height;
}

// ---- library entry points ----

Direct3D9* RecordingBackend::Direct3DCreate9(UINT sdkVersion) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.graphics != nullptr;
    Direct3D9* inner = forwarded ? s.inner.graphics->Direct3DCreate9(sdkVersion) : nullptr;
    bool made = forwarded ? inner != nullptr : !s.refused("Direct3DCreate9");
    Direct3D9* result =
        made ? s.objects.make<RecordingDirect3D>(s, inner, s.nextLabel("d3d")) : nullptr;
    s.emit(TraceLine("Direct3DCreate9").natural(sdkVersion).arrow().word(labelOf(result)));
    return result;
}

HRESULT RecordingBackend::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                                     Direct3DTexture9** texture) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.graphics != nullptr;
    Direct3DTexture9* inner = nullptr;
    HRESULT hr = forwarded
                     ? s.inner.graphics->D3DXCreateTextureFromFileA(innerOf(device), file, &inner)
                     : s.result("", "D3DXCreateTextureFromFileA",
                                device != nullptr && file != nullptr && texture != nullptr,
                                D3DERR_INVALIDCALL);
    // A loaded texture is named by its path; the recorder never reads the file, so a simulated
    // one has no size and no texels to lock.
    Direct3DTexture9* made = s.standIn<RecordingTexture>(
        hr, forwarded, inner, [file] { return formatText(file); }, 0u, 0u, D3DFMT_UNKNOWN);
    if (texture != nullptr) *texture = made;
    s.emit(TraceLine("D3DXCreateTextureFromFileA")
               .word(labelOf(device))
               .text(file)
               .arrow()
               .result(hr)
               .word(textureLabel(made)));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                            UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, Direct3DTexture9** texture,
                                            const char* name) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.graphics != nullptr;
    Direct3DTexture9* inner = nullptr;
    HRESULT hr =
        forwarded ? s.inner.graphics->D3DXCreateTexture(innerOf(device), width, height, mipLevels,
                                                        usage, format, pool, &inner, name)
                  : s.result("", "D3DXCreateTexture", device != nullptr && texture != nullptr,
                             D3DERR_INVALIDCALL);
    Direct3DTexture9* made = s.standIn<RecordingTexture>(
        hr, forwarded, inner,
        [&] {
            return name != nullptr && name[0] != '\0' ? std::string(name) : s.nextLabel("texture");
        },
        width, height, format);
    if (texture != nullptr) *texture = made;
    s.emit(TraceLine("D3DXCreateTexture")
               .word(labelOf(device))
               .numbers(width, height, mipLevels, usage, format, pool)
               .text(name)
               .arrow()
               .result(hr)
               .word(textureLabel(made)));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.graphics != nullptr;
    D3DXLine* inner = nullptr;
    HRESULT hr = forwarded ? s.inner.graphics->D3DXCreateLine(innerOf(device), &inner)
                           : s.result("", "D3DXCreateLine", device != nullptr && line != nullptr,
                                      D3DERR_INVALIDCALL);
    D3DXLine* made =
        s.standIn<RecordingLine>(hr, forwarded, inner, [&s] { return s.nextLabel("line"); });
    if (line != nullptr) *line = made;
    s.emit(
        TraceLine("D3DXCreateLine").word(labelOf(device)).arrow().result(hr).word(labelOf(made)));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width,
                                          UINT weight, UINT mipLevels, BOOL italic, DWORD charSet,
                                          DWORD outputPrecision, DWORD quality,
                                          DWORD pitchAndFamily, const char* faceName,
                                          D3DXFont** font) {
    RecordingState& s = *state_;
    bool forwarded = s.inner.graphics != nullptr;
    D3DXFont* inner = nullptr;
    HRESULT hr = forwarded ? s.inner.graphics->D3DXCreateFontA(
                                 innerOf(device), height, width, weight, mipLevels, italic, charSet,
                                 outputPrecision, quality, pitchAndFamily, faceName, &inner)
                           : s.result("", "D3DXCreateFontA", device != nullptr && font != nullptr,
                                      D3DERR_INVALIDCALL);
    D3DXFont* made = s.standIn<RecordingFont>(
        hr, forwarded, inner, [&s] { return s.nextLabel("font"); }, height);
    if (font != nullptr) *font = made;
    s.emit(TraceLine("D3DXCreateFontA")
               .word(labelOf(device))
               .numbers(height, width, weight, mipLevels, italic, charSet, outputPrecision, quality,
                        pitchAndFamily)
               .text(faceName)
               .arrow()
               .result(hr)
               .word(labelOf(made)));
    return hr;
}
