#include "backend/emulated/emulated_device.h"

#include <algorithm>

#include "backend/emulated/device_constants.h"

using namespace emulated;

namespace {

constexpr DWORD kShowFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;
constexpr UINT kShowStride = 32;

}  // namespace

D3DXMATRIX identityMatrix() {
    return D3DXMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

D3DXMATRIX multiplyMatrices(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    D3DXMATRIX out;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = a.m[i][0] * b.m[0][j];
            sum = sum + a.m[i][1] * b.m[1][j];
            sum = sum + a.m[i][2] * b.m[2][j];
            sum = sum + a.m[i][3] * b.m[3][j];
            out.m[i][j] = sum;
        }
    }
    return out;
}

void transformPoint(const D3DXMATRIX& m, const float p[3], float out[4]) {
    for (int j = 0; j < 4; ++j) {
        float sum = p[0] * m.m[0][j];
        sum = sum + p[1] * m.m[1][j];
        sum = sum + p[2] * m.m[2][j];
        sum = sum + m.m[3][j];
        out[j] = sum;
    }
}

HRESULT adjustTextureRequest(UINT* width, UINT* height, D3DFORMAT* format, UINT maxSide) {
    if (*width == 0) *width = 1;
    if (*height == 0) *height = 1;
    if (*format == D3DFMT_UNKNOWN) *format = D3DFMT_A8R8G8B8;
    if (*format != D3DFMT_A8R8G8B8 && *format != D3DFMT_X8R8G8B8) return D3DERR_INVALIDCALL;
    if (*width > maxSide || *height > maxSide) return D3DERR_INVALIDCALL;
    return S_OK;
}

// ---- textures ----

EmulatedTexture::EmulatedTexture(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool)
    : width_(width),
      height_(height),
      format_(format),
      pool_(pool),
      texels_(static_cast<size_t>(width) * height, 0u) {}

HRESULT EmulatedTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                                  DWORD /*flags*/) {
    if (level != 0 || locked == nullptr || rect != nullptr || locked_) return D3DERR_INVALIDCALL;
    texelsChanging();
    locked->Pitch = static_cast<INT>(width_ * 4);
    locked->pBits = texels_.data();
    locked_ = true;
    return S_OK;
}

HRESULT EmulatedTexture::UnlockRect(UINT level) {
    if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    texelsChanged();
    return S_OK;
}

void EmulatedTexture::setTexels(const std::vector<uint32_t>& texels) {
    if (texels.size() != texels_.size()) return;
    // Copied into the texture's own memory, which recorded draws keep pointing at.
    texelsChanging();
    std::copy(texels.begin(), texels.end(), texels_.begin());
    texelsChanged();
}

std::vector<uint32_t> EmulatedTexture::detachTexels() {
    std::vector<uint32_t> copy(texels_);
    std::swap(copy, texels_);
    return copy;
}

// ---- vertex buffers ----

HRESULT EmulatedVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD /*flags*/) {
    if (data == nullptr || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
    if (size == 0) size = static_cast<UINT>(bytes_.size()) - offset;
    if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    locked_ = true;
    return S_OK;
}

HRESULT EmulatedVertexBuffer::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

// ---- device ----

EmulatedDevice::EmulatedDevice(ObjectStore& objects, const D3DPRESENT_PARAMETERS& parameters,
                               int scale)
    : objects_(objects),
      width_(static_cast<int>(parameters.BackBufferWidth) * scale),
      height_(static_cast<int>(parameters.BackBufferHeight) * scale),
      depthBuffer_(parameters.EnableAutoDepthStencil != 0),
      world_(identityMatrix()),
      view_(identityMatrix()),
      projection_(identityMatrix()),
      combined_(identityMatrix()) {
    // The platform's defaults: the show changes some of them and relies on the rest.
    renderStates_[D3DRS_ZENABLE] = depthBuffer_ ? D3DZB_TRUE : D3DZB_FALSE;
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[kRsZFunc] = D3DCMP_LESSEQUAL;
    renderStates_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ALPHABLENDENABLE] = FALSE;
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = kBlendFactorZero;
    renderStates_[D3DRS_LIGHTING] = TRUE;
    renderStates_[kRsTextureFactor] = 0xFFFFFFFFu;
    for (DWORD s = 0; s < kMaxStages; ++s) {
        stageStates_[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        stageStates_[s][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        stageStates_[s][D3DTSS_COLORARG2] = D3DTA_CURRENT;
        stageStates_[s][kTssAlphaOp] = s == 0 ? kTopSelectArg1 : D3DTOP_DISABLE;
        stageStates_[s][kTssAlphaArg1] = D3DTA_TEXTURE;
        stageStates_[s][kTssAlphaArg2] = D3DTA_CURRENT;
        stageStates_[s][kTssTexCoordIndex] = s;
        samplerStates_[s][kSampAddressU] = kAddressWrap;
        samplerStates_[s][kSampAddressV] = kAddressWrap;
        samplerStates_[s][D3DSAMP_MAGFILTER] = kTexfPoint;
        samplerStates_[s][D3DSAMP_MINFILTER] = kTexfPoint;
    }
}

HRESULT EmulatedDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return S_OK;
}

HRESULT EmulatedDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return S_OK;
}

HRESULT EmulatedDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= renderStates_.size()) return D3DERR_INVALIDCALL;
    renderStates_[state] = value;
    statesChanged();
    return S_OK;
}

HRESULT EmulatedDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                             DWORD value) {
    if (stage >= kMaxStages || type >= 33) return D3DERR_INVALIDCALL;
    stageStates_[stage][type] = value;
    statesChanged();
    return S_OK;
}

HRESULT EmulatedDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kMaxStages || type >= 14) return D3DERR_INVALIDCALL;
    samplerStates_[sampler][type] = value;
    statesChanged();
    return S_OK;
}

HRESULT EmulatedDevice::SetTexture(DWORD stage, Direct3DTexture9* texture) {
    if (stage >= kMaxStages) return D3DERR_INVALIDCALL;
    EmulatedTexture* own = texture != nullptr ? ownTexture(texture) : nullptr;
    if (texture != nullptr && own == nullptr) return D3DERR_INVALIDCALL;
    textures_[stage] = own;
    statesChanged();
    return S_OK;
}

D3DXMATRIX EmulatedDevice::transform(D3DTRANSFORMSTATETYPE state) const {
    switch (state) {
        case D3DTS_WORLD:
            return world_;
        case D3DTS_VIEW:
            return view_;
        case D3DTS_PROJECTION:
            return projection_;
        default:
            return identityMatrix();
    }
}

HRESULT EmulatedDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
    if (matrix == nullptr) return D3DERR_INVALIDCALL;
    switch (state) {
        case D3DTS_WORLD:
            world_ = *matrix;
            break;
        case D3DTS_VIEW:
            view_ = *matrix;
            break;
        case D3DTS_PROJECTION:
            projection_ = *matrix;
            break;
        default:
            return S_OK;
    }
    matrixDirty_ = true;
    return S_OK;
}

const D3DXMATRIX& EmulatedDevice::combinedMatrix() {
    if (matrixDirty_) {
        combined_ = multiplyMatrices(multiplyMatrices(world_, view_), projection_);
        matrixDirty_ = false;
    }
    return combined_;
}

HRESULT EmulatedDevice::CreateVertexBuffer(UINT length, DWORD /*usage*/, DWORD fvf,
                                           D3DPOOL /*pool*/, Direct3DVertexBuffer9** vertexBuffer) {
    if (vertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *vertexBuffer = nullptr;
    if (length == 0) return D3DERR_INVALIDCALL;
    *vertexBuffer = objects_.make<EmulatedVertexBuffer>(length, fvf);
    return S_OK;
}

HRESULT EmulatedDevice::SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer,
                                        UINT offset, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
    auto* buffer = dynamic_cast<EmulatedVertexBuffer*>(vertexBuffer);
    if (vertexBuffer != nullptr && buffer == nullptr) return D3DERR_INVALIDCALL;
    stream_ = buffer;
    streamOffset_ = offset;
    stride_ = stride;
    return S_OK;
}

HRESULT EmulatedDevice::SetFVF(DWORD fvf) {
    fvf_ = fvf;
    return S_OK;
}

HRESULT EmulatedDevice::checkDraw(D3DPRIMITIVETYPE type) const {
    if (!inScene_ || stream_ == nullptr) return D3DERR_INVALIDCALL;
    if (type != D3DPT_TRIANGLESTRIP && type != kPrimitiveTriangleList) return D3DERR_INVALIDCALL;
    if (fvf_ != kShowFvf || stride_ < kShowStride) return D3DERR_INVALIDCALL;
    return S_OK;
}

bool EmulatedDevice::drawVertices(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount,
                                  uint64_t* count, uint64_t* first) const {
    *count =
        type == D3DPT_TRIANGLESTRIP ? uint64_t{primitiveCount} + 2 : uint64_t{primitiveCount} * 3;
    *first = streamOffset_ + uint64_t{startVertex} * stride_;
    return *first + (*count - 1) * stride_ + kShowStride <= stream_->bytes().size();
}

bool EmulatedDevice::copyable(const EmulatedTexture* source, const EmulatedTexture* destination) {
    return source != nullptr && destination != nullptr && source->pool() == D3DPOOL_SYSTEMMEM &&
           destination->pool() == D3DPOOL_DEFAULT && source->width() == destination->width() &&
           source->height() == destination->height() && source->format() == destination->format();
}

// ---- Direct3D object ----

HRESULT EmulatedDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) return D3DERR_INVALIDCALL;
    // The desktop's format has no alpha.
    *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    return S_OK;
}

HRESULT EmulatedDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE /*type*/, HWND /*focusWindow*/,
                                       DWORD /*behaviorFlags*/,
                                       D3DPRESENT_PARAMETERS* presentParameters,
                                       Direct3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || presentParameters == nullptr) return D3DERR_INVALIDCALL;
    const D3DPRESENT_PARAMETERS& p = *presentParameters;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > largestSide_ ||
        p.BackBufferHeight > largestSide_) {
        return D3DERR_INVALIDCALL;
    }
    *device = makeDevice(p);
    return *device != nullptr ? S_OK : D3DERR_NOTAVAILABLE;
}
