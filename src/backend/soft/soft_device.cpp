#include "backend/soft/soft_device.h"

#include <algorithm>
#include <cstring>

#include "backend/soft/band_workers.h"
#include "backend/soft/device_constants.h"
#include "backend/soft/frame_sink.h"

using namespace soft;

namespace {

constexpr DWORD kShowFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;
constexpr UINT kShowStride = 32;
// Rows are dealt to the threads in blocks of this many, so that a crowd of small quads in one
// part of the picture is shared out as well.
constexpr int kRowBlockShift = 3;

D3DXMATRIX identity() {
    return D3DXMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

D3DXMATRIX multiply(const D3DXMATRIX& a, const D3DXMATRIX& b) {
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

Op mapOp(DWORD op) {
    switch (op) {
        case kTopSelectArg2:
            return kOpSelect2;
        case D3DTOP_MODULATE:
            return kOpModulate;
        case D3DTOP_MODULATE2X:
            return kOpModulate2x;
        case D3DTOP_MODULATE4X:
            return kOpModulate4x;
        case kTopAdd:
            return kOpAdd;
        default:
            return kOpSelect1;
    }
}

Arg mapArg(DWORD arg, int stage) {
    switch (arg & kTaSelectMask) {
        case D3DTA_CURRENT:
            return stage == 0 ? kArgDiffuse : kArgCurrent;
        case D3DTA_TEXTURE:
            return kArgTexture;
        case kTaTFactor:
            return kArgFactor;
        default:
            return kArgDiffuse;
    }
}

bool usesArg1(Op op) {
    return op != kOpSelect2;
}

bool usesArg2(Op op) {
    return op != kOpSelect1;
}

bool readsTexture(Op op, Arg a1, Arg a2) {
    return (usesArg1(op) && a1 == kArgTexture) || (usesArg2(op) && a2 == kArgTexture);
}

Blend mapBlend(DWORD factor) {
    return factor >= kBlendFactorZero && factor <= kBlendFactorInvDestColor
               ? static_cast<Blend>(factor)
               : kBlendOne;
}

bool isLinear(DWORD filter) {
    return filter == D3DTEXF_LINEAR || filter == kTexfAnisotropic;
}

bool samePixelState(const PixelState& a, const PixelState& b) {
    if (a.stages != b.stages || a.textureFactor != b.textureFactor || a.blend != b.blend ||
        a.srcBlend != b.srcBlend || a.destBlend != b.destBlend || a.depthTest != b.depthTest ||
        a.depthWrite != b.depthWrite || a.depthFunc != b.depthFunc) {
        return false;
    }
    for (int s = 0; s < a.stages; ++s) {
        const StageState& x = a.stage[s];
        const StageState& y = b.stage[s];
        if (x.colourOp != y.colourOp || x.colourArg1 != y.colourArg1 ||
            x.colourArg2 != y.colourArg2 || x.alphaOp != y.alphaOp || x.alphaArg1 != y.alphaArg1 ||
            x.alphaArg2 != y.alphaArg2 || x.textured != y.textured || x.texels != y.texels ||
            x.width != y.width || x.height != y.height || x.pitch != y.pitch ||
            x.opaque != y.opaque || x.addressU != y.addressU || x.addressV != y.addressV ||
            x.minLinear != y.minLinear || x.magLinear != y.magLinear) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- context ----

SoftContext::SoftContext() = default;
SoftContext::~SoftContext() = default;

// ---- textures ----

SoftTexture::SoftTexture(SoftDevice* device, UINT width, UINT height, D3DFORMAT format,
                         D3DPOOL pool)
    : device_(device),
      width_(width),
      height_(height),
      format_(format),
      pool_(pool),
      texels_(static_cast<size_t>(width) * height, 0u) {}

HRESULT SoftTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                              DWORD /*flags*/) {
    if (level != 0 || locked == nullptr || rect != nullptr || locked_) return D3DERR_INVALIDCALL;
    // Draws recorded before the lock sample the texels as they were.
    if (device_ != nullptr) device_->flushIfUsing(this);
    locked->Pitch = static_cast<INT>(width_ * 4);
    locked->pBits = texels_.data();
    locked_ = true;
    return S_OK;
}

HRESULT SoftTexture::UnlockRect(UINT level) {
    if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

void SoftTexture::setTexels(const std::vector<uint32_t>& texels) {
    // Copied into the texture's own memory, which recorded states keep pointing at.
    if (texels.size() == texels_.size()) std::copy(texels.begin(), texels.end(), texels_.begin());
}

// ---- vertex buffers ----

HRESULT SoftVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD /*flags*/) {
    if (data == nullptr || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
    if (size == 0) size = static_cast<UINT>(bytes_.size()) - offset;
    if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    locked_ = true;
    return S_OK;
}

HRESULT SoftVertexBuffer::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return S_OK;
}

// ---- device ----

SoftDevice::SoftDevice(SoftContext& context, const D3DPRESENT_PARAMETERS& parameters)
    : context_(context),
      scale_(context.scale),
      width_(static_cast<int>(parameters.BackBufferWidth) * scale_),
      height_(static_cast<int>(parameters.BackBufferHeight) * scale_),
      colour_(static_cast<size_t>(width_) * height_, 0u),
      world_(identity()),
      view_(identity()),
      projection_(identity()),
      combined_(identity()) {
    if (parameters.EnableAutoDepthStencil) depth_.assign(colour_.size(), 1.0f);

    // The platform's defaults: the show changes some of them and relies on the rest.
    renderStates_[D3DRS_ZENABLE] = parameters.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
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

SoftDevice::~SoftDevice() = default;

bool SoftDevice::rasterizing() const {
    return context_.rasterizing;
}

RenderTarget SoftDevice::backBuffer() {
    RenderTarget target;
    target.pixels = colour_.data();
    target.width = width_;
    target.height = height_;
    target.pitch = width_;
    return target;
}

HRESULT SoftDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD /*stencil*/) {
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 && depth_.empty()) {
        return D3DERR_INVALIDCALL;
    }
    if (!context_.rasterizing) return S_OK;
    flush();
    if (flags & D3DCLEAR_TARGET) std::fill(colour_.begin(), colour_.end(), color);
    if (flags & D3DCLEAR_ZBUFFER) std::fill(depth_.begin(), depth_.end(), z);
    return S_OK;
}

HRESULT SoftDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return S_OK;
}

HRESULT SoftDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return S_OK;
}

HRESULT SoftDevice::Present() {
    ++presented_;
    if (!context_.rasterizing) return S_OK;
    flush();
    if (context_.sink != nullptr) context_.sink->presentFrame(colour_.data(), width_, height_);
    return S_OK;
}

HRESULT SoftDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= renderStates_.size()) return D3DERR_INVALIDCALL;
    renderStates_[state] = value;
    stateDirty_ = true;
    return S_OK;
}

HRESULT SoftDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kMaxStages || type >= 33) return D3DERR_INVALIDCALL;
    stageStates_[stage][type] = value;
    stateDirty_ = true;
    return S_OK;
}

HRESULT SoftDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kMaxStages || type >= 14) return D3DERR_INVALIDCALL;
    samplerStates_[sampler][type] = value;
    stateDirty_ = true;
    return S_OK;
}

HRESULT SoftDevice::SetTexture(DWORD stage, Direct3DTexture9* texture) {
    if (stage >= kMaxStages) return D3DERR_INVALIDCALL;
    auto* soft = dynamic_cast<SoftTexture*>(texture);
    if (texture != nullptr && soft == nullptr) return D3DERR_INVALIDCALL;
    textures_[stage] = soft;
    stateDirty_ = true;
    return S_OK;
}

D3DXMATRIX SoftDevice::transform(D3DTRANSFORMSTATETYPE state) const {
    switch (state) {
        case D3DTS_WORLD:
            return world_;
        case D3DTS_VIEW:
            return view_;
        case D3DTS_PROJECTION:
            return projection_;
        default:
            return identity();
    }
}

HRESULT SoftDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
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

HRESULT SoftDevice::CreateVertexBuffer(UINT length, DWORD /*usage*/, DWORD fvf, D3DPOOL /*pool*/,
                                       Direct3DVertexBuffer9** vertexBuffer) {
    if (vertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *vertexBuffer = nullptr;
    if (length == 0) return D3DERR_INVALIDCALL;
    *vertexBuffer = context_.objects.make<SoftVertexBuffer>(length, fvf);
    return S_OK;
}

HRESULT SoftDevice::SetStreamSource(UINT stream, Direct3DVertexBuffer9* vertexBuffer, UINT offset,
                                    UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
    auto* soft = dynamic_cast<SoftVertexBuffer*>(vertexBuffer);
    if (vertexBuffer != nullptr && soft == nullptr) return D3DERR_INVALIDCALL;
    stream_ = soft;
    streamOffset_ = offset;
    stride_ = stride;
    return S_OK;
}

HRESULT SoftDevice::SetFVF(DWORD fvf) {
    fvf_ = fvf;
    return S_OK;
}

void SoftDevice::updateMatrix() {
    combined_ = multiply(multiply(world_, view_), projection_);
    matrixDirty_ = false;
}

void SoftDevice::buildPixelState() {
    PixelState state;
    for (int s = 0; s < kStages; ++s) {
        DWORD colourOp = stageStates_[s][D3DTSS_COLOROP];
        if (colourOp == D3DTOP_DISABLE) break;
        StageState& st = state.stage[s];
        SoftTexture* texture = textures_[s];
        st.colourOp = mapOp(colourOp);
        st.colourArg1 = mapArg(stageStates_[s][D3DTSS_COLORARG1], s);
        st.colourArg2 = mapArg(stageStates_[s][D3DTSS_COLORARG2], s);
        DWORD alphaOp = stageStates_[s][kTssAlphaOp];
        if (alphaOp == D3DTOP_DISABLE) {
            // Only the colour may be switched off at a stage: its alpha passes through.
            st.alphaOp = kOpSelect1;
            st.alphaArg1 = mapArg(D3DTA_CURRENT, s);
            st.alphaArg2 = st.alphaArg1;
        } else {
            st.alphaOp = mapOp(alphaOp);
            st.alphaArg1 = mapArg(stageStates_[s][kTssAlphaArg1], s);
            st.alphaArg2 = mapArg(stageStates_[s][kTssAlphaArg2], s);
        }
        if (texture == nullptr) {
            // A stage whose colour needs a missing texture passes its input on; a missing
            // texture as an alpha argument reads the diffuse alpha instead.
            if (readsTexture(st.colourOp, st.colourArg1, st.colourArg2)) {
                st.colourOp = kOpSelect1;
                st.colourArg1 = mapArg(D3DTA_CURRENT, s);
            }
            if (st.alphaArg1 == kArgTexture) st.alphaArg1 = kArgDiffuse;
            if (st.alphaArg2 == kArgTexture) st.alphaArg2 = kArgDiffuse;
        }
        st.textured =
            texture != nullptr && (readsTexture(st.colourOp, st.colourArg1, st.colourArg2) ||
                                   readsTexture(st.alphaOp, st.alphaArg1, st.alphaArg2));
        if (st.textured) {
            st.texels = texture->texels().data();
            st.width = static_cast<int>(texture->width());
            st.height = static_cast<int>(texture->height());
            st.pitch = st.width;
            while ((1 << st.rowShift) < st.pitch) ++st.rowShift;
            st.opaque = texture->format() == D3DFMT_X8R8G8B8;
            st.addressU = samplerStates_[s][kSampAddressU] == kAddressClamp ? kClamp : kWrap;
            st.addressV = samplerStates_[s][kSampAddressV] == kAddressClamp ? kClamp : kWrap;
            st.minLinear = isLinear(samplerStates_[s][D3DSAMP_MINFILTER]);
            st.magLinear = isLinear(samplerStates_[s][D3DSAMP_MAGFILTER]);
        }
        state.stages = s + 1;
    }
    state.textureFactor = renderStates_[kRsTextureFactor];
    state.blend = renderStates_[D3DRS_ALPHABLENDENABLE] != 0;
    state.srcBlend = mapBlend(renderStates_[D3DRS_SRCBLEND]);
    state.destBlend = mapBlend(renderStates_[D3DRS_DESTBLEND]);
    state.depthTest = !depth_.empty() && renderStates_[D3DRS_ZENABLE] != D3DZB_FALSE;
    state.depthWrite = state.depthTest && renderStates_[D3DRS_ZWRITEENABLE] != 0;
    state.depthFunc = static_cast<uint8_t>(renderStates_[kRsZFunc]);

    stateDirty_ = false;
    if (!states_.empty() && samePixelState(states_.back(), state)) return;
    SpanFunction span = shadeSpanScalar;
    if (!context_.reference && !state.depthTest && avx2Handles(state)) {
        SpanFunction fast = avx2SpanFunction();
        if (fast != nullptr) span = fast;
    }
    states_.push_back(state);
    stateSpans_.push_back(span);
}

HRESULT SoftDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (!inScene_ || stream_ == nullptr) return D3DERR_INVALIDCALL;
    if (type != D3DPT_TRIANGLESTRIP && type != kPrimitiveTriangleList) return D3DERR_INVALIDCALL;
    if (fvf_ != kShowFvf || stride_ < kShowStride) return D3DERR_INVALIDCALL;
    uint64_t vertices =
        type == D3DPT_TRIANGLESTRIP ? uint64_t{primitiveCount} + 2 : uint64_t{primitiveCount} * 3;
    ++draws_;
    if (primitiveCount == 0) return S_OK;
    const std::vector<uint8_t>& bytes = stream_->bytes();
    uint64_t first = streamOffset_ + uint64_t{startVertex} * stride_;
    if (first + (vertices - 1) * stride_ + kShowStride > bytes.size()) return D3DERR_INVALIDCALL;
    if (!context_.rasterizing) return S_OK;

    if (matrixDirty_) updateMatrix();
    if (stateDirty_) buildPixelState();
    const PixelState& state = states_.back();
    int stateIndex = static_cast<int>(states_.size()) - 1;
    for (int s = 0; s < state.stages; ++s) {
        if (state.stage[s].textured && textures_[s] != nullptr) textures_[s]->usedInBatch = batch_;
    }

    bool lit = renderStates_[D3DRS_LIGHTING] != 0;
    const D3DXMATRIX& m = combined_;
    std::vector<ClipVertex>& clip = clipVertices_;
    clip.resize(static_cast<size_t>(vertices));
    for (uint64_t i = 0; i < vertices; ++i) {
        const uint8_t* v = bytes.data() + first + i * stride_;
        float p[3];
        uint32_t diffuse;
        float tex[4];
        std::memcpy(p, v, sizeof p);
        std::memcpy(&diffuse, v + 12, sizeof diffuse);
        std::memcpy(tex, v + 16, sizeof tex);
        ClipVertex& c = clip[i];
        float out[4];
        for (int j = 0; j < 4; ++j) {
            float sum = p[0] * m.m[0][j];
            sum = sum + p[1] * m.m[1][j];
            sum = sum + p[2] * m.m[2][j];
            sum = sum + m.m[3][j];
            out[j] = sum;
        }
        c.x = out[0];
        c.y = out[1];
        c.z = out[2];
        c.w = out[3];
        c.attr[kAttrZ] = 0;
        // Lighting without lights or normals leaves black with the vertex alpha.
        c.attr[kAttrRed] = lit ? 0.0f : static_cast<float>((diffuse >> 16) & 0xFF);
        c.attr[kAttrGreen] = lit ? 0.0f : static_cast<float>((diffuse >> 8) & 0xFF);
        c.attr[kAttrBlue] = lit ? 0.0f : static_cast<float>(diffuse & 0xFF);
        c.attr[kAttrAlpha] = static_cast<float>(diffuse >> 24);
        c.attr[kAttrU0] = tex[0];
        c.attr[kAttrV0] = tex[1];
        c.attr[kAttrU1] = tex[2];
        c.attr[kAttrV1] = tex[3];
    }
    Viewport viewport{0, 0, width_, height_, 0.0f, 1.0f, scale_};
    int cull = static_cast<int>(renderStates_[D3DRS_CULLMODE]);
    for (UINT k = 0; k < primitiveCount; ++k) {
        const ClipVertex* a;
        const ClipVertex* b;
        const ClipVertex* c;
        if (type == D3DPT_TRIANGLESTRIP) {
            // Every second triangle of a strip has its first two corners swapped, so that all
            // the strip's triangles face the way the first one does.
            bool odd = (k & 1u) != 0;
            a = &clip[odd ? k + 1 : k];
            b = &clip[odd ? k : k + 1];
            c = &clip[k + 2];
        } else {
            a = &clip[3 * k];
            b = &clip[3 * k + 1];
            c = &clip[3 * k + 2];
        }
        setupTriangle(*a, *b, *c, viewport, cull, stateIndex, state, width_, height_, &triangles_);
    }
    return S_OK;
}

HRESULT SoftDevice::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) {
    auto* from = dynamic_cast<SoftTexture*>(source);
    auto* to = dynamic_cast<SoftTexture*>(destination);
    if (from == nullptr || to == nullptr || from->pool() != D3DPOOL_SYSTEMMEM ||
        to->pool() != D3DPOOL_DEFAULT || from->width() != to->width() ||
        from->height() != to->height() || from->format() != to->format()) {
        return D3DERR_INVALIDCALL;
    }
    flushIfUsing(to);
    to->setTexels(from->texels());
    return S_OK;
}

void SoftDevice::flushIfUsing(const SoftTexture* texture) {
    if (texture->usedInBatch == batch_ && !triangles_.empty()) flush();
}

// Additive layers pass over the parts of their texture too dark to add anything; for that they
// need the tile maxima of the texture as it is now, while its draws are shaded. Building them
// costs less per texel than blending costs per pixel, so layers whose magnified triangles cover
// at least as many pixels as their texture has texels get them.
void SoftDevice::prepareTileMaxima() {
    stateArea_.assign(states_.size(), 0);
    for (const Triangle& tri : triangles_) {
        if (!closeTexels(tri, states_[tri.state].stage[0])) continue;
        stateArea_[tri.state] += uint64_t(tri.x1 - tri.x0 + 1) * uint64_t(tri.y1 - tri.y0 + 1);
    }
    size_t built = 0;
    for (size_t i = 0; i < states_.size(); ++i) {
        StageState& stage = states_[i].stage[0];
        stage.tileMax = nullptr;
        stage.brightBoxes = nullptr;
        const PixelState& state = states_[i];
        if (stateArea_[i] < uint64_t(stage.width) * uint64_t(stage.height) ||
            stateSpans_[i] == shadeSpanScalar || state.stages < 1 || !stage.textured ||
            !state.blend || state.srcBlend != kBlendOne || state.destBlend != kBlendOne) {
            continue;
        }
        for (size_t j = 0; j < i && stage.tileMax == nullptr; ++j) {
            const StageState& other = states_[j].stage[0];
            if (other.tileMax != nullptr && other.texels == stage.texels &&
                other.width == stage.width && other.height == stage.height &&
                other.pitch == stage.pitch) {
                stage.tileMax = other.tileMax;
                stage.brightBoxes = other.brightBoxes;
            }
        }
        if (stage.tileMax != nullptr) continue;
        if (built == tileMaxima_.size()) {
            tileMaxima_.emplace_back();
            brightBoxes_.emplace_back();
        }
        buildTileMax(stage, &tileMaxima_[built]);
        buildBrightBoxes(stage, tileMaxima_[built], &brightBoxes_[built]);
        stage.tileMax = tileMaxima_[built].data();
        stage.brightBoxes = brightBoxes_[built].data();
        ++built;
    }
}

void SoftDevice::flush() {
    if (!triangles_.empty()) {
        prepareTileMaxima();
        const int bands = context_.workers ? context_.workers->bands() : 1;
        auto job = [this, bands](int band) {
            // Block by block, every triangle in turn: the block's rows stay in the cache
            // while all the layers of the frame are blended into them.
            const int blocks = (height_ + (1 << kRowBlockShift) - 1) >> kRowBlockShift;
            uint64_t shaded = 0;
            for (int block = band; block < blocks; block += bands) {
                const int top = block << kRowBlockShift;
                const int bottom = std::min(top + (1 << kRowBlockShift), height_) - 1;
                for (const Triangle& tri : triangles_) {
                    if (tri.y1 < top || tri.y0 > bottom) continue;
                    const PixelState& state = states_[tri.state];
                    SpanFunction shade = stateSpans_[tri.state];
                    const int last = std::min(tri.y1, bottom);
                    for (int y = std::max(tri.y0, top); y <= last; ++y) {
                        Span span;
                        if (!rowSpan(tri, y, width_, &span)) continue;
                        uint32_t* row = colour_.data() + static_cast<size_t>(y) * width_;
                        float* depth = depth_.empty()
                                           ? nullptr
                                           : depth_.data() + static_cast<size_t>(y) * width_;
                        shade(state, tri, span, row, depth);
                        shaded += uint64_t(span.x1 - span.x0 + 1);
                    }
                }
            }
            pixelsShaded_ += shaded;
        };
        if (context_.workers) {
            context_.workers->run(job);
        } else {
            job(0);
        }
    }
    triangles_.clear();
    // Keep the current state recorded: the next draw usually continues under it.
    if (!states_.empty()) {
        PixelState last = states_.back();
        SpanFunction lastSpan = stateSpans_.back();
        states_.assign(1, last);
        stateSpans_.assign(1, lastSpan);
    }
    ++batch_;
}

// ---- Direct3D object ----

HRESULT SoftDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) return D3DERR_INVALIDCALL;
    // The desktop's format has no alpha.
    *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    return S_OK;
}

HRESULT SoftDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE /*type*/, HWND /*focusWindow*/,
                                   DWORD /*behaviorFlags*/,
                                   D3DPRESENT_PARAMETERS* presentParameters,
                                   Direct3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || presentParameters == nullptr) return D3DERR_INVALIDCALL;
    const D3DPRESENT_PARAMETERS& p = *presentParameters;
    // The limit holds for the back buffer as drawn, the asked size times the scale.
    const UINT limit = 16384 / UINT(context_.scale);
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > limit ||
        p.BackBufferHeight > limit) {
        return D3DERR_INVALIDCALL;
    }
    auto* made = context_.objects.make<SoftDevice>(context_, p);
    context_.device = made;
    *device = made;
    return S_OK;
}
