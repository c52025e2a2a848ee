#include "backend/headless/headless_graphics.h"

#include <cstdio>
#include <cstring>

#include "backend/file_path.h"
#include "backend/headless/headless_backend.h"

namespace {

uint64_t pairKey(DWORD a, DWORD b) {
    return (static_cast<uint64_t>(a) << 32) | b;
}

DWORD lookup(const std::map<uint64_t, DWORD>& states, uint64_t key) {
    auto found = states.find(key);
    return found != states.end() ? found->second : 0;
}

D3DXMATRIX identity() {
    return D3DXMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

}  // namespace

// ---- textures ----

HRESULT HeadlessTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                  DWORD /*flags*/) {
    // Only whole level-0 locks of textures with texel memory: the show locks nothing else.
    if (level != 0 || locked == nullptr || rect != nullptr || locked_ || width_ == 0 ||
        height_ == 0) {
        return D3DERR_INVALIDCALL;
    }
    if (texels_.empty()) texels_.assign(static_cast<size_t>(pitch()) * height_, 0);
    locked->Pitch = pitch();
    locked->pBits = texels_.data();
    locked_ = true;
    return S_OK;
}

HRESULT HeadlessTexture::UnlockRect(UINT level) {
    if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

bool HeadlessTexture::copyFrom(const HeadlessTexture& other) {
    if (width_ != other.width_ || height_ != other.height_ || format_ != other.format_ ||
        width_ == 0) {
        return false;
    }
    texels_ = other.texels_;
    return true;
}

// ---- vertex buffers ----

HRESULT HeadlessVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD /*flags*/) {
    if (data == nullptr || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
    if (size == 0) size = static_cast<UINT>(bytes_.size()) - offset;
    if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    locked_ = true;
    return S_OK;
}

HRESULT HeadlessVertexBuffer::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

// ---- device ----

HRESULT HeadlessDevice::Clear(DWORD flags, D3DCOLOR color, float /*z*/, DWORD /*stencil*/) {
    if (flags & D3DCLEAR_TARGET) clearColour_ = color;
    return S_OK;
}

HRESULT HeadlessDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return S_OK;
}

HRESULT HeadlessDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return S_OK;
}

HRESULT HeadlessDevice::Present() {
    ++presented_;
    return S_OK;
}

HRESULT HeadlessDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    renderStates_[state] = value;
    return S_OK;
}

HRESULT HeadlessDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                             DWORD value) {
    if (stage >= kStages) return D3DERR_INVALIDCALL;
    stageStates_[pairKey(stage, type)] = value;
    return S_OK;
}

HRESULT HeadlessDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kStages) return D3DERR_INVALIDCALL;
    samplerStates_[pairKey(sampler, type)] = value;
    return S_OK;
}

HRESULT HeadlessDevice::SetTexture(DWORD stage, Direct3DTexture9* texture) {
    if (stage >= kStages) return D3DERR_INVALIDCALL;
    textures_[stage] = texture;
    return S_OK;
}

HRESULT HeadlessDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
    if (matrix == nullptr) return D3DERR_INVALIDCALL;
    transforms_[state] = *matrix;
    return S_OK;
}

HRESULT HeadlessDevice::CreateVertexBuffer(UINT length, DWORD /*usage*/, DWORD fvf,
                                           D3DPOOL /*pool*/, Direct3DVertexBuffer9** vertexBuffer) {
    if (vertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *vertexBuffer = nullptr;
    if (length == 0) return D3DERR_INVALIDCALL;
    *vertexBuffer = owner_.objects().make<HeadlessVertexBuffer>(length, fvf);
    return S_OK;
}

HRESULT HeadlessDevice::SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer,
                                        UINT offset, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
    stream_ = vertexBuffer;
    streamOffset_ = offset;
    stride_ = stride;
    return S_OK;
}

HRESULT HeadlessDevice::SetFVF(DWORD fvf) {
    fvf_ = fvf;
    return S_OK;
}

HRESULT HeadlessDevice::DrawPrimitive(D3DPRIMITIVETYPE /*type*/, UINT /*startVertex*/,
                                      UINT /*primitiveCount*/) {
    if (!inScene_ || stream_ == nullptr) return D3DERR_INVALIDCALL;
    ++draws_;
    return S_OK;
}

HRESULT HeadlessDevice::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) {
    auto* from = dynamic_cast<HeadlessTexture*>(source);
    auto* to = dynamic_cast<HeadlessTexture*>(destination);
    if (from == nullptr || to == nullptr || from->pool() != D3DPOOL_SYSTEMMEM ||
        to->pool() != D3DPOOL_DEFAULT || !to->copyFrom(*from)) {
        return D3DERR_INVALIDCALL;
    }
    return S_OK;
}

DWORD HeadlessDevice::renderState(D3DRENDERSTATETYPE state) const {
    auto found = renderStates_.find(state);
    return found != renderStates_.end() ? found->second : 0;
}

DWORD HeadlessDevice::textureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const {
    return lookup(stageStates_, pairKey(stage, type));
}

DWORD HeadlessDevice::samplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const {
    return lookup(samplerStates_, pairKey(sampler, type));
}

D3DXMATRIX HeadlessDevice::transform(D3DTRANSFORMSTATETYPE state) const {
    auto found = transforms_.find(state);
    return found != transforms_.end() ? found->second : identity();
}

// ---- Direct3D object ----

HRESULT HeadlessDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) return D3DERR_INVALIDCALL;
    *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    return S_OK;
}

HRESULT HeadlessDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE /*type*/, HWND /*focusWindow*/,
                                       DWORD /*behaviorFlags*/,
                                       D3DPRESENT_PARAMETERS* presentParameters,
                                       Direct3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || presentParameters == nullptr) return D3DERR_INVALIDCALL;
    auto* made = owner_.objects().make<HeadlessDevice>(owner_);
    owner_.deviceCreated(made);
    *device = made;
    return S_OK;
}

// ---- line drawer and font ----

HRESULT HeadlessLine::Begin() {
    if (begun_) return D3DERR_INVALIDCALL;
    begun_ = true;
    return S_OK;
}

HRESULT HeadlessLine::DrawTransform(const D3DXVECTOR3* vertices, DWORD /*count*/,
                                    const D3DXMATRIX* transform, D3DCOLOR /*color*/) {
    if (vertices == nullptr || transform == nullptr) return D3DERR_INVALIDCALL;
    return S_OK;
}

HRESULT HeadlessLine::End() {
    if (!begun_) return D3DERR_INVALIDCALL;
    begun_ = false;
    return S_OK;
}

INT HeadlessFont::DrawTextA(const char* text, INT count, RECT* rect, DWORD /*format*/,
                            D3DCOLOR /*color*/) {
    if (text == nullptr || rect == nullptr) return 0;
    if (count == 0 || (count < 0 && text[0] == '\0')) return 0;
    return height_;
}

// ---- the backend's graphics entry points ----

Direct3D9* HeadlessBackend::Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return objects_.make<HeadlessDirect3D>(*this);
}

HRESULT HeadlessBackend::D3DXCreateTextureFromFileA(Direct3DDevice9* device, const char* file,
                                                    Direct3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || file == nullptr) return D3DERR_INVALIDCALL;
    // Nothing is decoded here, so a file that opens counts as an image.
    std::FILE* opened = std::fopen(nativePath(file).c_str(), "rb");
    if (opened == nullptr) return D3DXERR_INVALIDDATA;
    std::fclose(opened);
    *texture = objects_.make<HeadlessTexture>(0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, file);
    return S_OK;
}

HRESULT HeadlessBackend::D3DXCreateTexture(Direct3DDevice9* device, UINT width, UINT height,
                                           UINT /*mipLevels*/, DWORD /*usage*/, D3DFORMAT format,
                                           D3DPOOL pool, Direct3DTexture9** texture,
                                           const char* /*name*/) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || width == 0 || height == 0) return D3DERR_INVALIDCALL;
    *texture = objects_.make<HeadlessTexture>(width, height, format, pool, std::string());
    return S_OK;
}

HRESULT HeadlessBackend::D3DXCreateLine(Direct3DDevice9* device, D3DXLine** line) {
    if (line == nullptr) return D3DERR_INVALIDCALL;
    *line = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *line = objects_.make<HeadlessLine>();
    return S_OK;
}

HRESULT HeadlessBackend::D3DXCreateFontA(Direct3DDevice9* device, INT height, UINT /*width*/,
                                         UINT /*weight*/, UINT /*mipLevels*/, BOOL /*italic*/,
                                         DWORD /*charSet*/, DWORD /*outputPrecision*/,
                                         DWORD /*quality*/, DWORD /*pitchAndFamily*/,
                                         const char* /*faceName*/, D3DXFont** font) {
    if (font == nullptr) return D3DERR_INVALIDCALL;
    *font = nullptr;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *font = objects_.make<HeadlessFont>(height);
    return S_OK;
}
