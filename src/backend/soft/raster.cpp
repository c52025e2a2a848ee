#include "backend/soft/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "backend/soft/raster_contract.h"

namespace soft {

namespace {

float lerp(float a, float b, float t) {
    return a + t * (b - a);
}

ClipVertex lerpVertex(const ClipVertex& a, const ClipVertex& b, float t) {
    ClipVertex out;
    out.x = lerp(a.x, b.x, t);
    out.y = lerp(a.y, b.y, t);
    out.z = lerp(a.z, b.z, t);
    out.w = lerp(a.w, b.w, t);
    for (int i = 0; i < kAttributes; ++i) out.attr[i] = lerp(a.attr[i], b.attr[i], t);
    return out;
}

// The planes a triangle is clipped against, in the order it is clipped: the order decides
// where the cut vertices land, so it is part of the picture.
enum ClipPlane : int {
    kClipNear = 0,  // z >= 0
    kClipFar,       // z <= w
    kClipRight,     // the guard band's four sides
    kClipLeft,
    kClipTop,
    kClipBottom,
    kClipPlanes
};

// Each plane cuts off at most one corner, adding one vertex.
constexpr int kMaxPolygon = 3 + kClipPlanes;

// Signed distance of a vertex to clip plane `plane` (inside when >= 0).
float planeDistance(const ClipVertex& v, int plane) {
    switch (plane) {
        case kClipNear:
            return v.z;
        case kClipFar:
            return v.w - v.z;
        case kClipRight:
            return kGuardBand * v.w - v.x;
        case kClipLeft:
            return kGuardBand * v.w + v.x;
        case kClipTop:
            return kGuardBand * v.w - v.y;
        default:
            return kGuardBand * v.w + v.y;
    }
}

// Sutherland-Hodgman against one plane; returns the new vertex count.
int clipAgainst(const ClipVertex* in, int count, int plane, ClipVertex* out) {
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& a = in[i];
        const ClipVertex& b = in[(i + 1) % count];
        float da = planeDistance(a, plane);
        float db = planeDistance(b, plane);
        if (da >= 0) out[made++] = a;
        if ((da >= 0) != (db >= 0)) {
            // Interpolate from the inside vertex so that the cut is the same whichever
            // triangle of a shared edge is being clipped.
            if (da >= 0) {
                out[made++] = lerpVertex(a, b, da / (da - db));
            } else {
                out[made++] = lerpVertex(b, a, db / (db - da));
            }
        }
    }
    return made;
}

int64_t floorDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    if ((n % d != 0) && ((n < 0) != (d < 0))) --q;
    return q;
}

int64_t ceilDiv(int64_t n, int64_t d) {
    return -floorDiv(-n, d);
}

struct ScreenVertex {
    int64_t x;  // subpixels
    int64_t y;
    double fx;  // pixels, as snapped
    double fy;
    float attr[kAttributes];
};

void setupFanTriangle(const ScreenVertex* v0, const ScreenVertex* v1, const ScreenVertex* v2,
                      int cull, int state, const PixelState& pixelState, int scale, int targetWidth,
                      int targetHeight, std::vector<Triangle>* out) {
    int64_t cross = (v1->x - v0->x) * (v2->y - v0->y) - (v1->y - v0->y) * (v2->x - v0->x);
    if (cross == 0) return;
    // With y growing downward a positive cross product is clockwise on screen.
    if (cull == int(D3DCULL_CW) && cross > 0) return;
    if (cull == int(D3DCULL_CCW) && cross < 0) return;
    if (cross < 0) std::swap(v1, v2);

    const ScreenVertex* v[3] = {v0, v1, v2};
    Triangle tri;
    int64_t minX = v0->x, maxX = v0->x, minY = v0->y, maxY = v0->y;
    for (int i = 0; i < 3; ++i) {
        const ScreenVertex* a = v[i];
        const ScreenVertex* b = v[(i + 1) % 3];
        int64_t dx = b->x - a->x;
        int64_t dy = b->y - a->y;
        tri.a[i] = -dy;
        tri.b[i] = dx;
        tri.c[i] = dy * a->x - dx * a->y;
        bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        if (!topLeft) tri.c[i] -= 1;
        minX = std::min(minX, a->x);
        maxX = std::max(maxX, a->x);
        minY = std::min(minY, a->y);
        maxY = std::max(maxY, a->y);
    }
    constexpr int64_t one = int64_t{1} << kSubpixelBits;
    int64_t y0 = ceilDiv(minY, one), y1 = floorDiv(maxY, one);
    int64_t x0 = ceilDiv(minX, one), x1 = floorDiv(maxX, one);
    y0 = std::max<int64_t>(y0, 0);
    x0 = std::max<int64_t>(x0, 0);
    y1 = std::min<int64_t>(y1, targetHeight - 1);
    x1 = std::min<int64_t>(x1, targetWidth - 1);
    if (y0 > y1 || x0 > x1) return;
    tri.y0 = static_cast<int>(y0);
    tri.y1 = static_cast<int>(y1);
    tri.x0 = static_cast<int>(x0);
    tri.x1 = static_cast<int>(x1);
    tri.state = state;

    double ex1 = v1->fx - v0->fx, ey1 = v1->fy - v0->fy;
    double ex2 = v2->fx - v0->fx, ey2 = v2->fy - v0->fy;
    double det = ex1 * ey2 - ex2 * ey1;
    for (int k = 0; k < kAttributes; ++k) {
        double d1 = static_cast<double>(v1->attr[k]) - v0->attr[k];
        double d2 = static_cast<double>(v2->attr[k]) - v0->attr[k];
        double ax = (d1 * ey2 - d2 * ey1) / det;
        double ay = (d2 * ex1 - d1 * ex2) / det;
        if (d1 == 0 && d2 == 0) ax = ay = 0;
        tri.plane[k].ax = static_cast<float>(ax);
        tri.plane[k].ay = static_cast<float>(ay);
        tri.plane[k].c = static_cast<float>(v0->attr[k] - ax * v0->fx - ay * v0->fy);
    }
    tri.flatColour = true;
    for (int k = kAttrRed; k <= kAttrAlpha; ++k) {
        if (tri.plane[k].ax != 0 || tri.plane[k].ay != 0) tri.flatColour = false;
    }
    for (int s = 0; s < kStages; ++s) {
        const StageState& stage = pixelState.stage[s];
        tri.linear[s] = false;
        if (s >= pixelState.stages || !stage.textured) continue;
        // Texels per pixel decides between the minification and magnification filter.
        const Plane& pu = tri.plane[kAttrU0 + 2 * s];
        const Plane& pv = tri.plane[kAttrV0 + 2 * s];
        double w = stage.width, h = stage.height;
        double rx = (pu.ax * w) * (pu.ax * w) + (pv.ax * h) * (pv.ax * h);
        double ry = (pu.ay * w) * (pu.ay * w) + (pv.ay * h) * (pv.ay * h);
        const double perDevicePixel = double(scale) * scale;
        tri.linear[s] = std::max(rx, ry) * perDevicePixel > 1.0 ? stage.minLinear : stage.magLinear;
    }
    out->push_back(tri);
}

}  // namespace

void setupTriangle(const ClipVertex& v0, const ClipVertex& v1, const ClipVertex& v2,
                   const Viewport& viewport, int cull, int state, const PixelState& pixelState,
                   int targetWidth, int targetHeight, std::vector<Triangle>* out) {
    ClipVertex bufferA[kMaxPolygon];
    ClipVertex bufferB[kMaxPolygon];
    bufferA[0] = v0;
    bufferA[1] = v1;
    bufferA[2] = v2;
    int count = 3;
    ClipVertex* in = bufferA;
    ClipVertex* next = bufferB;
    for (int plane = kClipNear; plane < kClipPlanes && count >= 3; ++plane) {
        bool allInside = true;
        for (int i = 0; i < count; ++i) {
            if (!(planeDistance(in[i], plane) >= 0)) allInside = false;
        }
        if (allInside) continue;
        count = clipAgainst(in, count, plane, next);
        std::swap(in, next);
    }
    if (count < 3) return;

    ScreenVertex screen[kMaxPolygon];
    double halfWidth = viewport.width * 0.5, halfHeight = viewport.height * 0.5;
    double zScale = static_cast<double>(viewport.maxZ) - viewport.minZ;
    constexpr double scale = 1 << kSubpixelBits;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& c = in[i];
        if (!(c.w > 0)) return;
        double invW = 1.0 / c.w;
        double sx = viewport.x + (1.0 + c.x * invW) * halfWidth;
        double sy = viewport.y + (1.0 - c.y * invW) * halfHeight;
        if (!std::isfinite(sx) || !std::isfinite(sy)) return;
        ScreenVertex& s = screen[i];
        s.x = std::llrint(sx * scale);
        s.y = std::llrint(sy * scale);
        s.fx = static_cast<double>(s.x) / scale;
        s.fy = static_cast<double>(s.y) / scale;
        std::memcpy(s.attr, c.attr, sizeof s.attr);
        s.attr[kAttrZ] = static_cast<float>(viewport.minZ + c.z * invW * zScale);
    }
    for (int i = 1; i + 1 < count; ++i) {
        setupFanTriangle(&screen[0], &screen[i], &screen[i + 1], cull, state, pixelState,
                         viewport.scale, targetWidth, targetHeight, out);
    }
}

bool rowSpan(const Triangle& tri, int y, int width, Span* span) {
    int64_t lo = tri.x0, hi = std::min(tri.x1, width - 1);
    int64_t Y = static_cast<int64_t>(y) << kSubpixelBits;
    for (int i = 0; i < 3; ++i) {
        int64_t k = tri.a[i] * (int64_t{1} << kSubpixelBits);
        int64_t r = tri.b[i] * Y + tri.c[i];
        // k·x + r >= 0. A double division gives the boundary to within one; the exact
        // integer test then settles it.
        if (k > 0) {
            int64_t x = static_cast<int64_t>(std::ceil(static_cast<double>(-r) / k));
            if (k * (x - 1) + r >= 0) --x;
            if (k * x + r < 0) ++x;
            lo = std::max(lo, x);
        } else if (k < 0) {
            int64_t x = static_cast<int64_t>(std::floor(static_cast<double>(r) / -k));
            if (k * (x + 1) + r >= 0) ++x;
            if (k * x + r < 0) --x;
            hi = std::min(hi, x);
        } else if (r < 0) {
            return false;
        }
    }
    if (lo > hi) return false;
    span->y = y;
    span->x0 = static_cast<int>(lo);
    span->x1 = static_cast<int>(hi);
    return true;
}

namespace {

// floor(n / d) for d > 0.
int64_t floorDivide(int64_t n, int64_t d) {
    int64_t q = n / d;
    if (n % d != 0 && n < 0) --q;
    return q;
}

}  // namespace

RowSpans::RowSpans(const Triangle& tri, int y, int width)
    : y_(y), x0_(tri.x0), x1_(std::min(tri.x1, width - 1)) {
    const int64_t Y = static_cast<int64_t>(y) << kSubpixelBits;
    for (int i = 0; i < 3; ++i) {
        const int64_t k = tri.a[i] * (int64_t{1} << kSubpixelBits);
        const int64_t r = tri.b[i] * Y + tri.c[i];
        // r grows by this much from row to row.
        const int64_t rowStep = tri.b[i] * (int64_t{1} << kSubpixelBits);
        Edge& e = edge_[i];
        if (k == 0) {
            e = Edge{0, r, 0, rowStep, 0, 0};
        } else if (k > 0) {
            // The first x with k·x >= -r is -floor(r / k); k·x + r is then the rest. As r grows
            // by rowStep, the bound moves back by floor(rowStep / k) and one more column each
            // time the rest reaches k.
            const int64_t q = floorDivide(rowStep, k);
            e.x = -floorDivide(r, k);
            e.rest = k * e.x + r;
            e.step = -q;
            e.stepRest = rowStep - q * k;
            e.size = k;
            e.direction = 1;
        } else {
            // The last x with -k·x <= r is floor(r / -k); r + k·x is the rest.
            const int64_t q = floorDivide(rowStep, -k);
            e.x = floorDivide(r, -k);
            e.rest = r + k * e.x;
            e.step = q;
            e.stepRest = rowStep + q * k;
            e.size = -k;
            e.direction = -1;
        }
    }
}

namespace {

void buildTexelMax(const StageState& st, std::vector<uint8_t>* out) {
    const size_t width = size_t(st.width), height = size_t(st.height);
    out->resize(width * height);
    for (size_t y = 0; y < height; ++y) {
        const uint32_t* texel = st.texels + y * size_t(st.pitch);
        uint8_t* most = out->data() + y * width;
        for (size_t x = 0; x < width; ++x) {
            const uint32_t p = texel[x];
            most[x] = static_cast<uint8_t>(std::max({p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF}));
        }
    }
}

// The largest channel of each tile, from those of its texels.
void buildTileMax(const StageState& st, const std::vector<uint8_t>& texelMax,
                  std::vector<uint8_t>* out) {
    const int columns = tileColumns(st);
    out->assign(static_cast<size_t>(columns) * tileRows(st), 0);
    for (int y = 0; y < st.height; ++y) {
        const uint8_t* texel = texelMax.data() + static_cast<size_t>(y) * st.width;
        uint8_t* tile = out->data() + static_cast<size_t>(y >> kTileShift) * columns;
        for (int x = 0; x < st.width; ++x) {
            tile[x >> kTileShift] = std::max(tile[x >> kTileShift], texel[x]);
        }
    }
}

void buildFootprintMax(const StageState& st, const std::vector<uint8_t>& texelMax,
                       std::vector<uint8_t>* out) {
    const size_t width = size_t(st.width), height = size_t(st.height);
    // Each texel's largest channel and its right neighbour's, then that and the row below's.
    std::vector<uint8_t> across(width * height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* most = texelMax.data() + y * width;
        uint8_t* row = across.data() + y * width;
        for (size_t x = 0; x + 1 < width; ++x) row[x] = std::max(most[x], most[x + 1]);
        row[width - 1] = std::max(most[width - 1], most[0]);
    }
    out->assign(width * height + 3, 0);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = across.data() + y * width;
        const uint8_t* below = across.data() + (y + 1 == height ? 0 : y + 1) * width;
        uint8_t* most = out->data() + y * width;
        for (size_t x = 0; x < width; ++x) most[x] = std::max(row[x], below[x]);
    }
}

void buildBrightBoxes(const StageState& st, const std::vector<uint8_t>& tileMax,
                      std::vector<GridBox>* out) {
    const int columns = tileColumns(st);
    const GridBox empty{1, 1, 0, 0};
    // The tiles of each maximum, then the union over all maxima above each limit.
    std::vector<GridBox> ofMaximum(256, empty);
    for (size_t i = 0; i < tileMax.size(); ++i) {
        GridBox& box = ofMaximum[tileMax[i]];
        const int x = static_cast<int>(i % static_cast<size_t>(columns));
        const int y = static_cast<int>(i / static_cast<size_t>(columns));
        if (box.x0 > box.x1) {
            box = GridBox{x, y, x, y};
        } else {
            box = GridBox{std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x),
                          std::max(box.y1, y)};
        }
    }
    out->assign(256, empty);
    for (int limit = 254; limit >= 0; --limit) {
        const GridBox& above = (*out)[limit + 1];
        const GridBox& at = ofMaximum[limit + 1];
        GridBox& box = (*out)[limit];
        if (above.x0 > above.x1) {
            box = at;
        } else if (at.x0 > at.x1) {
            box = above;
        } else {
            box = GridBox{std::min(above.x0, at.x0), std::min(above.y0, at.y0),
                          std::max(above.x1, at.x1), std::max(above.y1, at.y1)};
        }
    }
}

}  // namespace

void TileMaps::build(const StageState& st) {
    columns_ = tileColumns(st);
    rows_ = tileRows(st);
    width_ = st.width;
    buildTexelMax(st, &texelMax_);
    buildTileMax(st, texelMax_, &maxima_);
    buildBrightBoxes(st, maxima_, &brightBoxes_);
    buildFootprintMax(st, texelMax_, &footprintMax_);
    brightRects_.clear();
}

void TileMaps::attach(StageState* st) const {
    st->brightBoxes = brightBoxes_.data();
    st->footprintMax = footprintMax_.data();
}

const std::vector<GridBox>& TileMaps::brightRects(int limit) {
    for (const auto& [known, rects] : brightRects_) {
        if (known == limit) return rects;
    }
    std::vector<GridBox> rects;
    // The rectangles that reach the row above, and those that reach this row, left to right.
    std::vector<size_t> above, here;
    for (int y = 0; y < rows_; ++y) {
        const uint8_t* row = maxima_.data() + static_cast<size_t>(y) * columns_;
        here.clear();
        size_t next = 0;  // the first of `above` not yet passed
        for (int x = 0; x < columns_; ++x) {
            if (row[x] <= limit) continue;
            const int first = x;
            while (x + 1 < columns_ && row[x + 1] > limit) ++x;
            while (next < above.size() && rects[above[next]].x1 < first) ++next;
            if (next < above.size() && rects[above[next]].x0 == first &&
                rects[above[next]].x1 == x) {
                rects[above[next]].y1 = y;
                here.push_back(above[next]);
            } else {
                here.push_back(rects.size());
                rects.push_back(GridBox{first, y, x, y});
            }
        }
        std::swap(above, here);
    }
    // From tiles to the texels in them that are brighter than the limit.
    const int height = static_cast<int>(texelMax_.size()) / width_;
    for (GridBox& box : rects) {
        GridBox texels{width_, height, -1, -1};
        for (int y = box.y0 * kTileTexels; y < std::min((box.y1 + 1) * kTileTexels, height); ++y) {
            const uint8_t* row = texelMax_.data() + static_cast<size_t>(y) * width_;
            for (int x = box.x0 * kTileTexels; x < std::min((box.x1 + 1) * kTileTexels, width_);
                 ++x) {
                if (row[x] <= limit) continue;
                texels = GridBox{std::min(texels.x0, x), std::min(texels.y0, y),
                                 std::max(texels.x1, x), std::max(texels.y1, y)};
            }
        }
        box = texels;
    }
    brightRects_.emplace_back(limit, std::move(rects));
    return brightRects_.back().second;
}

bool isModulatedLayer(const PixelState& state, const Triangle& tri) {
    if (state.stages != 1 || !tri.linear[0]) return false;
    const StageState& st = state.stage[0];
    if (!st.textured) return false;
    bool colour = (st.colourArg1 == kArgTexture && st.colourArg2 == kArgDiffuse) ||
                  (st.colourArg1 == kArgDiffuse && st.colourArg2 == kArgTexture);
    bool alpha = (st.alphaOp == kOpSelect1 && st.alphaArg1 == kArgTexture) ||
                 (st.alphaOp == kOpSelect2 && st.alphaArg2 == kArgTexture);
    bool op =
        st.colourOp == kOpModulate || st.colourOp == kOpModulate2x || st.colourOp == kOpModulate4x;
    return colour && alpha && op;
}

// ---- scalar shading: the reference ----

namespace {

struct Colour {
    uint32_t c[4];  // blue, green, red, alpha: the byte order of a texel
};

Colour unpack(uint32_t p) {
    return Colour{{p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF, p >> 24}};
}

uint32_t pack(const Colour& c) {
    return c.c[0] | (c.c[1] << 8) | (c.c[2] << 16) | (c.c[3] << 24);
}

Colour sample(const StageState& st, bool linear, float u, float v) {
    float sw = texelScale(st.width), sh = texelScale(st.height);
    Colour out;
    if (!linear) {
        int32_t su = fixedCoordinate(u, sw, 0.0f), sv = fixedCoordinate(v, sh, 0.0f);
        int x = addressTexel(su >> kTexelFractionBits, st.width, st.addressU);
        int y = addressTexel(sv >> kTexelFractionBits, st.height, st.addressV);
        out = unpack(st.texels[static_cast<size_t>(y) * st.pitch + x]);
    } else {
        int32_t su = fixedCoordinate(u, sw, kBilinearOffset);
        int32_t sv = fixedCoordinate(v, sh, kBilinearOffset);
        uint32_t fx = su & kTexelFractionMask, fy = sv & kTexelFractionMask;
        int x0 = addressTexel(su >> kTexelFractionBits, st.width, st.addressU);
        int x1 = addressTexel((su >> kTexelFractionBits) + 1, st.width, st.addressU);
        int y0 = addressTexel(sv >> kTexelFractionBits, st.height, st.addressV);
        int y1 = addressTexel((sv >> kTexelFractionBits) + 1, st.height, st.addressV);
        const uint32_t* r0 = st.texels + static_cast<size_t>(y0) * st.pitch;
        const uint32_t* r1 = st.texels + static_cast<size_t>(y1) * st.pitch;
        Colour t00 = unpack(r0[x0]), t10 = unpack(r0[x1]);
        Colour t01 = unpack(r1[x0]), t11 = unpack(r1[x1]);
        for (int ch = 0; ch < 4; ++ch) {
            uint32_t top = (t00.c[ch] * (256 - fx) + t10.c[ch] * fx + 128u) >> 8;
            uint32_t bottom = (t01.c[ch] * (256 - fx) + t11.c[ch] * fx + 128u) >> 8;
            out.c[ch] = (top * (256 - fy) + bottom * fy + 128u) >> 8;
        }
    }
    if (st.opaque) out.c[3] = 255;
    return out;
}

uint32_t argValue(Arg arg, int ch, const Colour& diffuse, const Colour& current,
                  const Colour& texel, const Colour& factor) {
    switch (arg) {
        case kArgDiffuse:
            return diffuse.c[ch];
        case kArgCurrent:
            return current.c[ch];
        case kArgTexture:
            return texel.c[ch];
        default:
            return factor.c[ch];
    }
}

uint32_t blendFactor(Blend f, int ch, const Colour& src, const Colour& dst) {
    switch (f) {
        case kBlendZero:
            return 0;
        case kBlendOne:
            return 255;
        case kBlendSrcColor:
            return src.c[ch];
        case kBlendInvSrcColor:
            return 255 - src.c[ch];
        case kBlendSrcAlpha:
            return src.c[3];
        case kBlendInvSrcAlpha:
            return 255 - src.c[3];
        case kBlendDestAlpha:
            return dst.c[3];
        case kBlendInvDestAlpha:
            return 255 - dst.c[3];
        case kBlendDestColor:
            return dst.c[ch];
        default:
            return 255 - dst.c[ch];
    }
}

bool depthPasses(uint8_t func, float z, float stored) {
    switch (func) {
        case D3DCMP_NEVER:
            return false;
        case D3DCMP_LESS:
            return z < stored;
        case D3DCMP_EQUAL:
            return z == stored;
        case D3DCMP_LESSEQUAL:
            return z <= stored;
        case D3DCMP_GREATER:
            return z > stored;
        case D3DCMP_NOTEQUAL:
            return z != stored;
        case D3DCMP_GREATEREQUAL:
            return z >= stored;
        default:  // D3DCMP_ALWAYS, and any number the device does not define
            return true;
    }
}

}  // namespace

void shadeSpanScalar(const PixelState& state, const Triangle& tri, const Span& span, uint32_t* row,
                     float* depth) {
    float rowValue[kAttributes];
    rowValues(tri, span.y, rowValue);
    Colour factor = unpack(state.textureFactor);
    for (int x = span.x0; x <= span.x1; ++x) {
        float fx = static_cast<float>(x);
        if (state.depthTest && depth != nullptr) {
            float z = planeAt(tri.plane[kAttrZ], fx, rowValue[kAttrZ]);
            if (!depthPasses(state.depthFunc, z, depth[x])) continue;
            if (state.depthWrite) depth[x] = z;
        }
        // Texel order: blue, green, red, alpha; the planes are red, green, blue, alpha.
        Colour diffuse;
        diffuse.c[2] = roundChannel(planeAt(tri.plane[kAttrRed], fx, rowValue[kAttrRed]));
        diffuse.c[1] = roundChannel(planeAt(tri.plane[kAttrGreen], fx, rowValue[kAttrGreen]));
        diffuse.c[0] = roundChannel(planeAt(tri.plane[kAttrBlue], fx, rowValue[kAttrBlue]));
        diffuse.c[3] = roundChannel(planeAt(tri.plane[kAttrAlpha], fx, rowValue[kAttrAlpha]));
        Colour current = diffuse;
        for (int s = 0; s < state.stages; ++s) {
            const StageState& st = state.stage[s];
            Colour texel{{0, 0, 0, 0}};
            if (st.textured) {
                float u = planeAt(tri.plane[kAttrU0 + 2 * s], fx, rowValue[kAttrU0 + 2 * s]);
                float v = planeAt(tri.plane[kAttrV0 + 2 * s], fx, rowValue[kAttrV0 + 2 * s]);
                texel = sample(st, tri.linear[s], u, v);
            }
            Colour next;
            for (int ch = 0; ch < 3; ++ch) {
                next.c[ch] = applyOp(st.colourOp,
                                     argValue(st.colourArg1, ch, diffuse, current, texel, factor),
                                     argValue(st.colourArg2, ch, diffuse, current, texel, factor));
            }
            next.c[3] =
                applyOp(st.alphaOp, argValue(st.alphaArg1, 3, diffuse, current, texel, factor),
                        argValue(st.alphaArg2, 3, diffuse, current, texel, factor));
            current = next;
        }
        if (!state.blend) {
            row[x] = pack(current);
            continue;
        }
        Colour dst = unpack(row[x]);
        Colour out;
        for (int ch = 0; ch < 4; ++ch) {
            uint32_t fs = blendFactor(state.srcBlend, ch, current, dst);
            uint32_t fd = blendFactor(state.destBlend, ch, current, dst);
            out.c[ch] = div255(current.c[ch] * fs + dst.c[ch] * fd);
        }
        row[x] = pack(out);
    }
}

}  // namespace soft
