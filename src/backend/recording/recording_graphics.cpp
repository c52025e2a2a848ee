#include <cstring>

#include "backend/recording/recording_backend.h"
#include "backend/recording/recording_state.h"

namespace {

RecordingTexture* asRecording(Direct3DTexture9* texture) {
    return dynamic_cast<RecordingTexture*>(texture);
}

RecordingDevice* asRecording(Direct3DDevice9* device) {
    return dynamic_cast<RecordingDevice*>(device);
}

// Objects handed to the recorder are its own stand-ins; anything else is passed on unchanged.
Direct3DTexture9* innerOf(Direct3DTexture9* texture) {
    RecordingTexture* recording = asRecording(texture);
    return recording != nullptr ? recording->inner() : texture;
}

Direct3DDevice9* innerOf(Direct3DDevice9* device) {
    RecordingDevice* recording = asRecording(device);
    return recording != nullptr ? recording->inner() : device;
}

std::string labelOf(Direct3DTexture9* texture) {
    if (texture == nullptr) return "none";
    RecordingTexture* recording = asRecording(texture);
    return recording != nullptr ? recording->label() : "foreign";
}

std::string labelOf(Direct3DDevice9* device) {
    if (device == nullptr) return "NULL";
    RecordingDevice* recording = asRecording(device);
    return recording != nullptr ? recording->label() : "foreign";
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
        hr = state_.result(label_, "LockRect");
        bool inside = rect == nullptr ||
                      (rect->left >= 0 && rect->top >= 0 && rect->left < rect->right &&
                       rect->top < rect->bottom && static_cast<UINT>(rect->right) <= width_ &&
                       static_cast<UINT>(rect->bottom) <= height_);
        if (SUCCEEDED(hr) && (level != 0 || locked == nullptr || !hasTexelSize() || !inside)) {
            hr = D3DERR_INVALIDCALL;
        }
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
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->UnlockRect(level);
    } else {
        hr = state_.result(label_, "UnlockRect");
        if (SUCCEEDED(hr) && (!locked_ || level != 0)) hr = D3DERR_INVALIDCALL;
    }
    locked_ = false;
    lockedBase_ = nullptr;
    state_.emit(
        TraceLine("UnlockRect").word(label_).natural(level).word(content).arrow().result(hr));
    return hr;
}

ULONG RecordingTexture::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
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
        hr = state_.result(label_, "Lock");
        if (SUCCEEDED(hr) && (data == nullptr || offset > length_ || span > length_ - offset)) {
            hr = D3DERR_INVALIDCALL;
        }
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
    state_.emit(
        TraceLine("Lock").word(label_).natural(offset).natural(size).natural(flags).arrow().result(
            hr));
    return hr;
}

HRESULT RecordingVertexBuffer::Unlock() {
    TraceLine line("Unlock");
    line.word(label_);
    if (locked_) describeVertices(line, lockedData_, lockedSize_, fvf_);
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->Unlock();
    } else {
        hr = state_.result(label_, "Unlock");
        if (SUCCEEDED(hr) && !locked_) hr = D3DERR_INVALIDCALL;
    }
    locked_ = false;
    lockedData_ = nullptr;
    state_.emit(line.arrow().result(hr));
    return hr;
}

ULONG RecordingVertexBuffer::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
}

// ---- device ----

HRESULT RecordingDevice::simple(const char* operation, HRESULT forwarded) {
    return inner_ != nullptr ? forwarded : state_.result(label_, operation);
}

HRESULT RecordingDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    HRESULT hr = simple("Clear", inner_ ? inner_->Clear(flags, color, z, stencil) : S_OK);
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
    HRESULT hr = simple("BeginScene", inner_ ? inner_->BeginScene() : S_OK);
    state_.emit(TraceLine("BeginScene").word(label_).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::EndScene() {
    HRESULT hr = simple("EndScene", inner_ ? inner_->EndScene() : S_OK);
    state_.emit(TraceLine("EndScene").word(label_).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::Present() {
    HRESULT hr = simple("Present", inner_ ? inner_->Present() : S_OK);
    state_.emit(TraceLine("Present").word(label_).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    HRESULT hr = simple("SetRenderState", inner_ ? inner_->SetRenderState(state, value) : S_OK);
    state_.emit(
        TraceLine("SetRenderState").word(label_).natural(state).natural(value).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                              DWORD value) {
    HRESULT hr = simple("SetTextureStageState",
                        inner_ ? inner_->SetTextureStageState(stage, type, value) : S_OK);
    state_.emit(TraceLine("SetTextureStageState")
                    .word(label_)
                    .natural(stage)
                    .natural(type)
                    .natural(value)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    HRESULT hr =
        simple("SetSamplerState", inner_ ? inner_->SetSamplerState(sampler, type, value) : S_OK);
    state_.emit(TraceLine("SetSamplerState")
                    .word(label_)
                    .natural(sampler)
                    .natural(type)
                    .natural(value)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, Direct3DTexture9* texture) {
    HRESULT hr = simple("SetTexture", inner_ ? inner_->SetTexture(stage, innerOf(texture)) : S_OK);
    state_.emit(TraceLine("SetTexture")
                    .word(label_)
                    .natural(stage)
                    .word(labelOf(texture))
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
    HRESULT hr = simple("SetTransform", inner_ ? inner_->SetTransform(state, matrix) : S_OK);
    if (SUCCEEDED(hr) && inner_ == nullptr && matrix == nullptr) hr = D3DERR_INVALIDCALL;
    state_.emit(
        TraceLine("SetTransform").word(label_).natural(state).matrix(matrix).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            Direct3DVertexBuffer9** vertexBuffer) {
    HRESULT hr;
    Direct3DVertexBuffer9* inner = nullptr;
    if (inner_ != nullptr) {
        hr = inner_->CreateVertexBuffer(length, usage, fvf, pool, &inner);
    } else {
        hr = state_.result(label_, "CreateVertexBuffer");
        if (SUCCEEDED(hr) && (vertexBuffer == nullptr || length == 0)) hr = D3DERR_INVALIDCALL;
    }
    RecordingVertexBuffer* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || inner_ == nullptr)) {
        made =
            state_.make<RecordingVertexBuffer>(state_, inner, state_.nextLabel("vb"), length, fvf);
    }
    if (vertexBuffer != nullptr) *vertexBuffer = made;
    state_.emit(TraceLine("CreateVertexBuffer")
                    .word(label_)
                    .natural(length)
                    .natural(usage)
                    .natural(fvf)
                    .natural(pool)
                    .arrow()
                    .result(hr)
                    .word(made != nullptr ? made->label() : "NULL"));
    return hr;
}

HRESULT RecordingDevice::SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer,
                                         UINT offset, UINT stride) {
    auto* recording = dynamic_cast<RecordingVertexBuffer*>(vertexBuffer);
    Direct3DVertexBuffer9* inner = recording != nullptr ? recording->inner() : vertexBuffer;
    HRESULT hr = simple("SetStreamSource",
                        inner_ ? inner_->SetStreamSource(stream, inner, offset, stride) : S_OK);
    std::string label = vertexBuffer == nullptr ? "NULL"
                        : recording != nullptr  ? recording->label()
                                                : "foreign";
    state_.emit(TraceLine("SetStreamSource")
                    .word(label_)
                    .natural(stream)
                    .word(label)
                    .natural(offset)
                    .natural(stride)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::SetFVF(DWORD fvf) {
    HRESULT hr = simple("SetFVF", inner_ ? inner_->SetFVF(fvf) : S_OK);
    state_.emit(TraceLine("SetFVF").word(label_).natural(fvf).arrow().result(hr));
    return hr;
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex,
                                       UINT primitiveCount) {
    HRESULT hr = simple("DrawPrimitive",
                        inner_ ? inner_->DrawPrimitive(type, startVertex, primitiveCount) : S_OK);
    state_.emit(TraceLine("DrawPrimitive")
                    .word(label_)
                    .natural(type)
                    .natural(startVertex)
                    .natural(primitiveCount)
                    .arrow()
                    .result(hr));
    return hr;
}

HRESULT RecordingDevice::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) {
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->UpdateTexture(innerOf(source), innerOf(destination));
    } else {
        hr = state_.result(label_, "UpdateTexture");
        RecordingTexture* from = asRecording(source);
        RecordingTexture* to = asRecording(destination);
        if (SUCCEEDED(hr) && (from == nullptr || to == nullptr || !from->sameShape(*to))) {
            hr = D3DERR_INVALIDCALL;
        }
        // A texture never locked holds zeros, as a fresh one does.
        if (SUCCEEDED(hr)) to->bits() = from->bits();
    }
    state_.emit(TraceLine("UpdateTexture")
                    .word(label_)
                    .word(labelOf(source))
                    .word(labelOf(destination))
                    .arrow()
                    .result(hr));
    return hr;
}

ULONG RecordingDevice::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
}

// ---- Direct3D object ----

HRESULT RecordingDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    HRESULT hr;
    if (inner_ != nullptr) {
        hr = inner_->GetAdapterDisplayMode(adapter, mode);
    } else {
        hr = state_.result(label_, "GetAdapterDisplayMode");
        if (SUCCEEDED(hr) && mode == nullptr) hr = D3DERR_INVALIDCALL;
        if (SUCCEEDED(hr)) *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    }
    TraceLine line("GetAdapterDisplayMode");
    line.word(label_).natural(adapter).arrow().result(hr);
    if (SUCCEEDED(hr) && mode != nullptr) {
        line.open()
            .natural(mode->Width)
            .natural(mode->Height)
            .natural(mode->RefreshRate)
            .natural(mode->Format)
            .close();
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
    line.word(label_)
        .natural(adapter)
        .natural(type)
        .word(state_.handle(focusWindow, "hwnd"))
        .natural(behaviorFlags);
    if (presentParameters == nullptr) {
        line.word("NULL");
    } else {
        const D3DPRESENT_PARAMETERS& p = *presentParameters;
        line.open()
            .natural(p.BackBufferWidth)
            .natural(p.BackBufferHeight)
            .natural(p.BackBufferFormat)
            .natural(p.BackBufferCount)
            .natural(p.MultiSampleType)
            .natural(p.MultiSampleQuality)
            .natural(p.SwapEffect)
            .word(state_.handle(p.hDeviceWindow, "hwnd"))
            .integer(p.Windowed)
            .integer(p.EnableAutoDepthStencil)
            .natural(p.AutoDepthStencilFormat)
            .natural(p.Flags)
            .natural(p.FullScreen_RefreshRateInHz)
            .natural(p.PresentationInterval)
            .close();
    }

    HRESULT hr;
    Direct3DDevice9* inner = nullptr;
    if (inner_ != nullptr) {
        hr = inner_->CreateDevice(adapter, type, focusWindow, behaviorFlags, presentParameters,
                                  &inner);
    } else {
        hr = state_.result(label_, "CreateDevice");
        if (SUCCEEDED(hr) && (device == nullptr || presentParameters == nullptr)) {
            hr = D3DERR_INVALIDCALL;
        }
    }
    RecordingDevice* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || inner_ == nullptr)) {
        made = state_.make<RecordingDevice>(state_, inner, state_.nextLabel("device"));
    }
    if (device != nullptr) *device = made;
    state_.emit(line.arrow().result(hr).word(made != nullptr ? made->label() : "NULL"));
    return hr;
}

ULONG RecordingDirect3D::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
}

// ---- line drawer ----

HRESULT RecordingLine::Begin() {
    HRESULT hr = inner_ != nullptr ? inner_->Begin() : state_.result(label_, "Begin");
    state_.emit(TraceLine("Begin").word(label_).arrow().result(hr));
    return hr;
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
    HRESULT hr = inner_ != nullptr ? inner_->End() : state_.result(label_, "End");
    state_.emit(TraceLine("End").word(label_).arrow().result(hr));
    return hr;
}

ULONG RecordingLine::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
}

// ---- font ----

INT RecordingFont::DrawTextA(const char* text, INT count, RECT* rect, DWORD format,
                             D3DCOLOR color) {
    INT height;
    if (inner_ != nullptr) {
        height = inner_->DrawTextA(text, count, rect, format, color);
    } else {
        int64_t queued = 0;
        if (state_.take(label_, "DrawTextA", &queued)) {
            height = static_cast<INT>(queued);
        } else {
            // One line per line feed, each as high as the font.
            INT lines = 0;
            if (text != nullptr && count != 0 && text[0] != '\0') {
                lines = 1;
                for (INT i = 0; count < 0 ? text[i] != '\0' : i < count; ++i) {
                    if (text[i] == '\n') ++lines;
                }
            }
            height = lines * (height_ < 0 ? -height_ : height_);
        }
    }
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

ULONG RecordingFont::Release() {
    return releaseStandIn(state_, label_, inner_, references_);
}

// ---- library entry points ----

Direct3D9* RecordingBackend::Direct3DCreate9(UINT sdkVersion) {
    RecordingState& s = *state_;
    Direct3D9* inner = nullptr;
    bool made;
    if (s.inner.graphics != nullptr) {
        inner = s.inner.graphics->Direct3DCreate9(sdkVersion);
        made = inner != nullptr;
    } else {
        int64_t queued = 0;
        made = !(s.take("", "Direct3DCreate9", &queued) && queued == 0);
    }
    std::string label = "NULL";
    Direct3D9* result = nullptr;
    if (made) {
        label = s.nextLabel("d3d");
        result = s.make<RecordingDirect3D>(s, inner, label);
    }
    s.emit(TraceLine("Direct3DCreate9").natural(sdkVersion).arrow().word(label));
    return result;
}

HRESULT RecordingBackend::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                                     Direct3DTexture9** texture) {
    RecordingState& s = *state_;
    HRESULT hr;
    Direct3DTexture9* inner = nullptr;
    if (s.inner.graphics != nullptr) {
        hr = s.inner.graphics->D3DXCreateTextureFromFileA(innerOf(device), file, &inner);
    } else {
        hr = s.result("", "D3DXCreateTextureFromFileA");
        if (SUCCEEDED(hr) && (device == nullptr || file == nullptr || texture == nullptr)) {
            hr = D3DERR_INVALIDCALL;
        }
    }
    Direct3DTexture9* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || s.inner.graphics == nullptr)) {
        made = s.make<RecordingTexture>(s, inner, formatText(file), 0, 0, D3DFMT_UNKNOWN);
    }
    if (texture != nullptr) *texture = made;
    s.emit(TraceLine("D3DXCreateTextureFromFileA")
               .word(labelOf(device))
               .text(file)
               .arrow()
               .result(hr)
               .word(labelOf(made)));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                            UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, Direct3DTexture9** texture,
                                            const char* name) {
    RecordingState& s = *state_;
    HRESULT hr;
    Direct3DTexture9* inner = nullptr;
    if (s.inner.graphics != nullptr) {
        hr = s.inner.graphics->D3DXCreateTexture(innerOf(device), width, height, mipLevels, usage,
                                                 format, pool, &inner, name);
    } else {
        hr = s.result("", "D3DXCreateTexture");
        if (SUCCEEDED(hr) && (device == nullptr || texture == nullptr)) hr = D3DERR_INVALIDCALL;
    }
    Direct3DTexture9* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || s.inner.graphics == nullptr)) {
        std::string label =
            name != nullptr && name[0] != '\0' ? std::string(name) : s.nextLabel("texture");
        made = s.make<RecordingTexture>(s, inner, label, width, height, format);
    }
    if (texture != nullptr) *texture = made;
    s.emit(TraceLine("D3DXCreateTexture")
               .word(labelOf(device))
               .natural(width)
               .natural(height)
               .natural(mipLevels)
               .natural(usage)
               .natural(format)
               .natural(pool)
               .text(name)
               .arrow()
               .result(hr)
               .word(labelOf(made)));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    RecordingState& s = *state_;
    HRESULT hr;
    D3DXLine* inner = nullptr;
    if (s.inner.graphics != nullptr) {
        hr = s.inner.graphics->D3DXCreateLine(innerOf(device), &inner);
    } else {
        hr = s.result("", "D3DXCreateLine");
        if (SUCCEEDED(hr) && (device == nullptr || line == nullptr)) hr = D3DERR_INVALIDCALL;
    }
    std::string label = "NULL";
    D3DXLine* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || s.inner.graphics == nullptr)) {
        label = s.nextLabel("line");
        made = s.make<RecordingLine>(s, inner, label);
    }
    if (line != nullptr) *line = made;
    s.emit(TraceLine("D3DXCreateLine").word(labelOf(device)).arrow().result(hr).word(label));
    return hr;
}

HRESULT RecordingBackend::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT width,
                                          UINT weight, UINT mipLevels, BOOL italic, DWORD charSet,
                                          DWORD outputPrecision, DWORD quality,
                                          DWORD pitchAndFamily, const char* faceName,
                                          D3DXFont** font) {
    RecordingState& s = *state_;
    HRESULT hr;
    D3DXFont* inner = nullptr;
    if (s.inner.graphics != nullptr) {
        hr = s.inner.graphics->D3DXCreateFontA(innerOf(device), height, width, weight, mipLevels,
                                               italic, charSet, outputPrecision, quality,
                                               pitchAndFamily, faceName, &inner);
    } else {
        hr = s.result("", "D3DXCreateFontA");
        if (SUCCEEDED(hr) && (device == nullptr || font == nullptr)) hr = D3DERR_INVALIDCALL;
    }
    std::string label = "NULL";
    D3DXFont* made = nullptr;
    if (SUCCEEDED(hr) && (inner != nullptr || s.inner.graphics == nullptr)) {
        label = s.nextLabel("font");
        made = s.make<RecordingFont>(s, inner, label, height);
    }
    if (font != nullptr) *font = made;
    s.emit(TraceLine("D3DXCreateFontA")
               .word(labelOf(device))
               .integer(height)
               .natural(width)
               .natural(weight)
               .natural(mipLevels)
               .integer(italic)
               .natural(charSet)
               .natural(outputPrecision)
               .natural(quality)
               .natural(pitchAndFamily)
               .text(faceName)
               .arrow()
               .result(hr)
               .word(label));
    return hr;
}
