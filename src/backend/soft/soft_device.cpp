#include "backend/soft/soft_device.h"

#include <algorithm>
#include <cstring>

#include "backend/emulated/device_constants.h"
#include "backend/frame_sink.h"
#include "backend/soft/band_workers.h"
#include "backend/soft/bright_cells.h"
#include "backend/soft/raster_contract.h"

using namespace emulated;
using namespace soft;

namespace {

// Rows are drawn in blocks of this many, a block by one thread at a time: small enough that a
// crowd of small quads in one part of the picture is shared out, and that the rows stay in the
// cache while every layer of a batch is blended into them.
constexpr int kRowBlockShift = 3;

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

SoftContext::~SoftContext() {
    // Batches still being drawn read the textures and the back buffer, which go first.
    if (workers) workers->waitAll();
}

// What the workers draw: a clear, the draws recorded after it, and perhaps a copy of the result.
struct SoftBatch {
    DWORD clearFlags = 0;
    uint32_t clearColour = 0;
    float clearDepth = 1.0f;
    std::vector<PixelState> states;
    std::vector<SpanFunction> spans;
    std::vector<Triangle> triangles;
    // The triangles each block of rows meets, in drawing order: block b's are
    // binned[binStart[b]] up to binned[binStart[b + 1]].
    std::vector<uint32_t> binStart;
    std::vector<uint32_t> binned;
    // The maps of the textures whose dark parts are passed over.
    std::vector<std::shared_ptr<TileMaps>> tileMaps;
    // Where each triangle's additive layer can add colour (unknown for the other triangles).
    std::vector<BrightRegion> regions;
    std::vector<BrightShape> shapes;
    uint32_t* copyTo = nullptr;  // a presented frame's pixels, or null
};

// ---- textures ----

void SoftTexture::texelsChanging() {
    // Draws recorded before the change sample the texels as they were.
    if (device_ != nullptr) device_->textureChanging(this);
}

// ---- device ----

SoftDevice::SoftDevice(SoftContext& context, const D3DPRESENT_PARAMETERS& parameters)
    : EmulatedDevice(context.objects, parameters, context.scale),
      context_(context),
      scale_(context.scale),
      colour_(static_cast<size_t>(width_) * height_, 0u) {
    if (parameters.EnableAutoDepthStencil) depth_.assign(colour_.size(), 1.0f);
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
    // The clear starts the next batch, done block by block with its draws.
    if (!triangles_.empty()) submit();
    if (flags & D3DCLEAR_TARGET) clearColour_ = color;
    if (flags & D3DCLEAR_ZBUFFER) clearDepth_ = z;
    clearFlags_ |= flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    return S_OK;
}

HRESULT SoftDevice::Present() {
    ++presented_;
    if (!context_.rasterizing) {
        finishFrames();
        return S_OK;
    }
    FrameSink* sink = context_.sink;
    if (!context_.workers) {
        submit();
        if (sink != nullptr) sink->presentFrame(colour_.data(), width_, height_);
        return S_OK;
    }
    // The workers copy the frame out as they finish its rows; the show goes on with the next.
    const uint64_t frame = sink != nullptr ? sink->presentingFrame() : 0;
    std::vector<uint32_t>& copy = frames_[nextFrame_];
    if (frame != 0) copy.resize(colour_.size());
    const uint64_t ticket = submit(frame != 0 ? copy.data() : nullptr);
    finishFrames();
    if (frame != 0) {
        pendingFrame_ = frame;
        pendingTicket_ = ticket;
        nextFrame_ ^= 1;
    }
    return S_OK;
}

void SoftDevice::finishFrames() {
    if (pendingFrame_ == 0) return;
    const uint64_t frame = pendingFrame_;
    pendingFrame_ = 0;
    context_.workers->wait(pendingTicket_);
    if (context_.sink != nullptr)
        context_.sink->presentLateFrame(frame, frames_[nextFrame_ ^ 1].data(), width_, height_);
}

void SoftDevice::buildPixelState() {
    PixelState state;
    for (int s = 0; s < kStages; ++s) {
        DWORD colourOp = stageStates_[s][D3DTSS_COLOROP];
        if (colourOp == D3DTOP_DISABLE) break;
        StageState& st = state.stage[s];
        EmulatedTexture* texture = textures_[s];
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
    const HRESULT checked = checkDraw(type);
    if (FAILED(checked)) return checked;
    ++draws_;
    if (primitiveCount == 0) return S_OK;
    uint64_t vertices = 0, first = 0;
    if (!drawVertices(type, startVertex, primitiveCount, &vertices, &first))
        return D3DERR_INVALIDCALL;
    const std::vector<uint8_t>& bytes = stream_->bytes();
    if (!context_.rasterizing) return S_OK;

    if (stateDirty_) buildPixelState();
    const PixelState& state = states_.back();
    int stateIndex = static_cast<int>(states_.size()) - 1;
    for (int s = 0; s < state.stages; ++s) {
        if (state.stage[s].textured && textures_[s] != nullptr)
            static_cast<SoftTexture*>(textures_[s])->usedInBatch = batch_;
    }

    bool lit = renderStates_[D3DRS_LIGHTING] != 0;
    const D3DXMATRIX& m = combinedMatrix();
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
        transformPoint(m, p, out);
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
    if (!copyable(from, to)) return D3DERR_INVALIDCALL;
    to->setTexels(from->texels());
    return S_OK;
}

void SoftDevice::textureChanging(SoftTexture* texture) {
    if (texture->usedInBatch == batch_ && !triangles_.empty()) submit();
    tileMaps_.erase(
        std::remove_if(tileMaps_.begin(), tileMaps_.end(),
                       [&](const auto& k) { return k.first == texture->texels().data(); }),
        tileMaps_.end());
    if (!context_.workers || texture->usedInBatch <= context_.workers->finished()) return;
    // Handed-over batches still sample these texels: they keep them, the texture goes on with
    // a copy, and the states recorded from now on point at the copy.
    retired_.emplace_back(texture->usedInBatch, texture->detachTexels());
    stateDirty_ = true;
}

void SoftDevice::releaseRetired() {
    if (retired_.empty()) return;
    const uint64_t finished = context_.workers->finished();
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [finished](const auto& r) { return r.first <= finished; }),
                   retired_.end());
}

namespace {

bool isAdditive(const PixelState& state) {
    return state.blend && state.srcBlend == kBlendOne && state.destBlend == kBlendOne;
}

// Layers that leave pixels alone where their texels are too dark to count: additive ones, and
// those blended by their own colour whose texture has no alpha (black texels keep the colour
// and make the alpha full, as the texture's alpha of 255 does).
bool passesOverDark(const PixelState& state) {
    if (state.stages < 1 || !state.stage[0].textured || !state.blend) return false;
    return isAdditive(state) || (state.srcBlend == kBlendSrcColor &&
                                 state.destBlend == kBlendInvSrcColor && state.stage[0].opaque);
}

}  // namespace

// Layers pass over the parts of their texture too dark to show; for that they need the tile
// maxima of the texture as it is now. Building them costs less per texel than blending costs
// per pixel, so they are built for layers whose triangles cover at least as many pixels as
// their texture has texels (an additive layer's magnified triangles only: the others do not
// look for bright regions), and kept until the texture changes.
std::vector<int> SoftDevice::prepareTileMaxima(SoftBatch& batch) {
    stateArea_.assign(batch.states.size(), 0);
    for (const Triangle& tri : batch.triangles) {
        const PixelState& state = batch.states[tri.state];
        if (isAdditive(state) && !closeTexels(tri, state.stage[0])) continue;
        stateArea_[tri.state] += uint64_t(tri.x1 - tri.x0 + 1) * uint64_t(tri.y1 - tri.y0 + 1);
    }
    std::vector<int> mapsOf(batch.states.size(), -1);
    for (size_t i = 0; i < batch.states.size(); ++i) {
        StageState& stage = batch.states[i].stage[0];
        stage.footprintMax = nullptr;
        stage.brightBoxes = nullptr;
        if (!passesOverDark(batch.states[i]) || batch.spans[i] == shadeSpanScalar) continue;
        auto kept = std::find_if(tileMaps_.begin(), tileMaps_.end(),
                                 [&](const auto& k) { return k.first == stage.texels; });
        if (kept == tileMaps_.end()) {
            if (stateArea_[i] < uint64_t(stage.width) * uint64_t(stage.height)) continue;
            auto maps = std::make_shared<TileMaps>();
            maps->build(stage);
            kept = tileMaps_.emplace(tileMaps_.end(), stage.texels, std::move(maps));
        }
        auto used = std::find(batch.tileMaps.begin(), batch.tileMaps.end(), kept->second);
        if (used == batch.tileMaps.end()) used = batch.tileMaps.insert(used, kept->second);
        mapsOf[i] = static_cast<int>(used - batch.tileMaps.begin());
        (*used)->attach(&stage);
    }
    return mapsOf;
}

namespace {

// The brightest diffuse channel a triangle's pixels can have. A flat colour is its planes'
// constant part; otherwise the channels are affine, so the corners of the bounding box bound
// them, and one more covers the rounding of the pixel loop's float steps.
uint32_t brightestDiffuse(const Triangle& tri) {
    uint32_t most = 0;
    for (int k = kAttrRed; k <= kAttrBlue; ++k) {
        const Plane& p = tri.plane[k];
        if (tri.flatColour) {
            most = std::max(most, roundChannel(p.c));
            continue;
        }
        for (int corner = 0; corner < 4; ++corner) {
            const double x = corner & 1 ? tri.x1 : tri.x0, y = corner & 2 ? tri.y1 : tri.y0;
            const double v = double(p.ax) * x + double(p.ay) * y + double(p.c);
            most = std::max(most, std::min(roundChannel(static_cast<float>(v)) + 1, 255u));
        }
    }
    return most;
}

// Where the additive layers with tile maps can add colour, triangle by triangle.
void prepareBrightRegions(SoftBatch& batch, const std::vector<int>& mapsOf) {
    batch.regions.assign(batch.triangles.size(), BrightRegion{});
    batch.shapes.clear();
    for (size_t i = 0; i < batch.triangles.size(); ++i) {
        const Triangle& tri = batch.triangles[i];
        const PixelState& state = batch.states[tri.state];
        if (mapsOf[tri.state] < 0 || !isAdditive(state) || !isModulatedLayer(state, tri) ||
            !closeTexels(tri, state.stage[0])) {
            continue;
        }
        const int limit = darkLimitFor(state.stage[0].colourOp, brightestDiffuse(tri));
        placeBrightShapes(tri, state.stage[0],
                          batch.tileMaps[size_t(mapsOf[tri.state])]->brightRects(limit),
                          &batch.shapes, &batch.regions[i]);
    }
}

}  // namespace

int SoftDevice::blocks() const {
    return (height_ + (1 << kRowBlockShift) - 1) >> kRowBlockShift;
}

void SoftDevice::binTriangles(SoftBatch& batch) const {
    const int count = blocks();
    batch.binStart.assign(size_t(count) + 1, 0);
    for (const Triangle& tri : batch.triangles) {
        for (int b = tri.y0 >> kRowBlockShift; b <= (tri.y1 >> kRowBlockShift); ++b)
            ++batch.binStart[size_t(b) + 1];
    }
    for (int b = 0; b < count; ++b) batch.binStart[size_t(b) + 1] += batch.binStart[size_t(b)];
    batch.binned.resize(batch.binStart[size_t(count)]);
    std::vector<uint32_t> at(batch.binStart.begin(), batch.binStart.end() - 1);
    for (uint32_t i = 0; i < uint32_t(batch.triangles.size()); ++i) {
        const Triangle& tri = batch.triangles[i];
        for (int b = tri.y0 >> kRowBlockShift; b <= (tri.y1 >> kRowBlockShift); ++b)
            batch.binned[at[size_t(b)]++] = i;
    }
}

namespace {

// What is known of a row's alpha: the columns [first, last] hold every pixel whose alpha is not
// full (none when first > last). Adding never lowers alpha, so this stays true while only
// additive layers are drawn over the row, and a layer that adds full alpha clears its span.
struct RowAlpha {
    bool known = false;
    int first = 0;
    int last = -1;

    void find(const uint32_t* row, int width) {
        known = true;
        first = 0;
        while (first < width && (row[first] >> 24) == 0xFF) ++first;
        last = width - 1;
        while (last >= first && (row[last] >> 24) == 0xFF) --last;
    }
    // All of [x0, x1] has full alpha.
    bool fullOver(int x0, int x1) const {
        return known && (first > last || x1 < first || x0 > last);
    }
    // The pixels [x0, x1] have been given full alpha.
    void filled(int x0, int x1) {
        if (x0 <= first) first = std::max(first, x1 + 1);
        if (x1 >= last) last = std::min(last, x0 - 1);
    }
};

}  // namespace

void SoftDevice::rasterizeBlock(const SoftBatch& batch, int block) {
    // Every triangle in turn over the block's rows: they stay in the cache while all the layers
    // of the batch are blended into them.
    const int top = block << kRowBlockShift;
    const int bottom = std::min(top + (1 << kRowBlockShift), height_) - 1;
    const size_t first = static_cast<size_t>(top) * width_;
    const size_t end = static_cast<size_t>(bottom + 1) * width_;
    std::array<RowAlpha, 1 << kRowBlockShift> alpha{};
    if (batch.clearFlags & D3DCLEAR_TARGET) {
        std::fill(colour_.begin() + first, colour_.begin() + end, batch.clearColour);
        const bool full = (batch.clearColour >> 24) == 0xFF;
        alpha.fill(RowAlpha{true, full ? width_ : 0, full ? width_ - 1 : width_ - 1});
    }
    if (batch.clearFlags & D3DCLEAR_ZBUFFER)
        std::fill(depth_.begin() + first, depth_.begin() + end, batch.clearDepth);
    uint64_t shaded = 0;
    if (!batch.triangles.empty()) {
        BrightCellRows cells;
        for (uint32_t k = batch.binStart[size_t(block)]; k < batch.binStart[size_t(block) + 1];
             ++k) {
            const Triangle& tri = batch.triangles[batch.binned[k]];
            const PixelState& state = batch.states[tri.state];
            const BrightRegion& region = batch.regions[batch.binned[k]];
            const bool adding = isAdditive(state);
            // Its alpha is the texture's, full everywhere: the sum's alpha is full too.
            const bool fillsAlpha = adding && isModulatedLayer(state, tri) && state.stage[0].opaque;
            SpanFunction shade = batch.spans[tri.state];
            const int rowFirst = std::max(tri.y0, top), rowLast = std::min(tri.y1, bottom);
            if (region.known) {
                cells.start(tri, state.stage[0], batch.shapes.data() + region.first, region.count,
                            rowFirst, rowLast, width_);
            }
            RowSpans spans(tri, rowFirst, width_);
            for (int y = rowFirst; y <= rowLast; ++y) {
                Span span;
                if (!spans.next(&span)) continue;
                uint32_t* row = colour_.data() + static_cast<size_t>(y) * width_;
                RowAlpha& rowAlpha = alpha[size_t(y - top)];
                if (region.known) {
                    span.brightCells = cells.row(y);
                    if (!rowAlpha.known) rowAlpha.find(row, width_);
                    span.alphaFull = rowAlpha.fullOver(span.x0, span.x1);
                    // Nothing to add but alpha, which is full already.
                    if (span.alphaFull && !cells.anyIn(span.x0, span.x1)) {
                        shaded += uint64_t(span.x1 - span.x0 + 1);
                        continue;
                    }
                }
                float* depth =
                    depth_.empty() ? nullptr : depth_.data() + static_cast<size_t>(y) * width_;
                shade(state, tri, span, row, depth);
                if (!adding) {
                    rowAlpha.known = false;
                } else if (fillsAlpha && rowAlpha.known) {
                    rowAlpha.filled(span.x0, span.x1);
                }
                shaded += uint64_t(span.x1 - span.x0 + 1);
            }
        }
    }
    if (batch.copyTo != nullptr)
        std::copy(colour_.begin() + first, colour_.begin() + end, batch.copyTo + first);
    pixelsShaded_ += shaded;
}

uint64_t SoftDevice::submit(uint32_t* copyTo) {
    if (triangles_.empty() && clearFlags_ == 0 && copyTo == nullptr) return submitted_;
    auto batch = std::make_shared<SoftBatch>();
    batch->clearFlags = clearFlags_;
    batch->clearColour = clearColour_;
    batch->clearDepth = clearDepth_;
    batch->copyTo = copyTo;
    clearFlags_ = 0;
    if (!triangles_.empty()) {
        batch->states = states_;
        batch->spans = stateSpans_;
        batch->triangles.swap(triangles_);
        triangles_.reserve(batch->triangles.size());
        prepareBrightRegions(*batch, prepareTileMaxima(*batch));
        binTriangles(*batch);
    }
    // Keep the current state recorded: the next draw usually continues under it.
    if (!states_.empty()) {
        PixelState last = states_.back();
        SpanFunction lastSpan = stateSpans_.back();
        states_.assign(1, last);
        stateSpans_.assign(1, lastSpan);
    }
    submitted_ = batch_++;
    if (!context_.workers) {
        for (int block = 0; block < blocks(); ++block) rasterizeBlock(*batch, block);
        return submitted_;
    }
    releaseRetired();
    // The workers number their jobs as the batches are numbered here: 1, 2, ...
    context_.workers->queue(blocks(), [this, batch](int block) { rasterizeBlock(*batch, block); });
    return submitted_;
}

void SoftDevice::flush() {
    submit();
    if (context_.workers) {
        context_.workers->waitAll();
        releaseRetired();
    }
}

// ---- Direct3D object ----

SoftDirect3D::SoftDirect3D(SoftContext& context) : context_(context) {
    largestSide_ = 16384 / UINT(context.scale);
}

Direct3DDevice9* SoftDirect3D::makeDevice(const D3DPRESENT_PARAMETERS& parameters) {
    auto* made = context_.objects.make<SoftDevice>(context_, parameters);
    context_.device = made;
    return made;
}
