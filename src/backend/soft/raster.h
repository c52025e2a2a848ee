#pragma once
// The pixel pipeline of the CPU renderer: triangles set up once on the calling thread, then
// rasterized row by row into the back buffer by one or more threads.
//
// Numeric model (the fast path must reproduce it bit for bit, so it is kept small):
//
// - Positions: clip = p × world × view × projection in float. Triangles are clipped in clip
//   space against 0 <= z <= w and against a guard band |x|, |y| <= kGuardBand·w, so quads many
//   times larger than the screen become polygons a few screens wide. After the divide by w the
//   viewport maps them to screen pixels (pixel centres at integers, no half-pixel term), and
//   each vertex is snapped to 1/256 pixel (kSubpixelBits).
// - Coverage: exact 64-bit integer edge functions on the snapped vertices, evaluated at integer
//   pixel centres; a centre exactly on an edge belongs to the triangle when the edge is a top
//   or a left edge. Each row's covered run [x0, x1] is solved exactly from the three edges, and
//   this part is shared by every shading path.
// - Attributes (depth, the diffuse channels in 0..255, the two texture-coordinate pairs) are
//   interpolated affinely in screen space: value = ax·x + (ay·y + c) in float, one multiply and
//   one add per step, in this order, never fused (the plane coefficients are solved in double
//   from the snapped corners and stored as float). This is exact for the show's quads, which
//   lie at constant depth (constant w); tilted geometry is not perspective-corrected.
// - Diffuse: each channel is clamped to [0, 255] and rounded to nearest (floor(v + 0.5)).
// - Texels: s = u·(W·256) in float (minus 128 for bilinear, the u·W − 0.5 convention), clamped
//   to ±2^30, floored to an integer with 8 fractional bits. The texel index is s >> 8 and the
//   bilinear weight s & 255; addressing (wrap or clamp) is applied to each index after that.
//   Bilinear, per channel: each row is blended across, top = (t00·(256−fx) + t10·fx + 128) >> 8
//   (likewise bottom), then the two rows down, (top·(256−fy) + bottom·fy + 128) >> 8: two
//   roundings to nearest, every step within 16 unsigned bits. Point: texel floor(u·W).
//   Formats without alpha read alpha 255.
// - Stage operations and blending work on 8-bit integers. A product of two 8-bit values x is
//   scaled back with div255(min(x, 65025)), which rounds to nearest; the 2x/4x modulations and
//   the blend sum saturate through the same min. Nothing else rounds. Every intermediate value
//   fits 16 unsigned bits, which is what lets the fast path work on 16 channels at a time.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "backend/imaging/render_target.h"
#include "backend/platform_constants.h"

namespace soft {

constexpr int kSubpixelBits = 8;
constexpr float kGuardBand = 16.0f;
constexpr int kStages = 2;

// Interpolated attributes, in the order their planes are stored.
enum Attribute : int {
    kAttrZ = 0,
    kAttrRed,
    kAttrGreen,
    kAttrBlue,
    kAttrAlpha,
    kAttrU0,
    kAttrV0,
    kAttrU1,
    kAttrV1,
    kAttributes
};

// Stage operations and arguments after the device's states have been resolved (unbound
// textures, CURRENT at stage 0): only these reach the pixel loop.
enum Op : uint8_t { kOpSelect1 = 0, kOpSelect2, kOpModulate, kOpModulate2x, kOpModulate4x, kOpAdd };
enum Arg : uint8_t { kArgDiffuse = 0, kArgCurrent, kArgTexture, kArgFactor };
enum Address : uint8_t { kWrap = 0, kClamp };
// The blend factors in the device's numbering (1 ZERO ... 10 INVDESTCOLOR).
enum Blend : uint8_t {
    kBlendZero = 1,
    kBlendOne = 2,
    kBlendSrcColor = 3,
    kBlendInvSrcColor = 4,
    kBlendSrcAlpha = 5,
    kBlendInvSrcAlpha = 6,
    kBlendDestAlpha = 7,
    kBlendInvDestAlpha = 8,
    kBlendDestColor = 9,
    kBlendInvDestColor = 10
};

struct StageState {
    Op colourOp = kOpSelect1;
    Arg colourArg1 = kArgDiffuse;
    Arg colourArg2 = kArgDiffuse;
    Op alphaOp = kOpSelect1;
    Arg alphaArg1 = kArgDiffuse;
    Arg alphaArg2 = kArgDiffuse;
    bool textured = false;  // some argument reads the texture
    // The texture, when textured: level 0, `pitch` texels per row.
    const uint32_t* texels = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    int rowShift = 0;     // log2(pitch) when the pitch is a power of two
    bool opaque = false;  // no alpha in the format: alpha reads 255
    Address addressU = kWrap;
    Address addressV = kWrap;
    bool minLinear = false;  // the sampler's filters: minification, magnification
    bool magLinear = false;
    // Optional, filled in just before the draws are shaded (TileMaps), so that layers that add
    // or blend by their own colour pass over texture regions too dark to change anything. For each
    // texel (pitch `width`), the largest colour channel (alpha aside) of it and of its right, lower
    // and lower right neighbours (wrapped): the most that a bilinear footprint whose first texel it
    // is can read, whether the texture is wrapped or clamped. Three bytes of padding follow the
    // last.
    const uint8_t* footprintMax = nullptr;
    // Optional, with footprintMax: for each limit L (0..255), the rectangle of tiles of
    // kTileTexels × kTileTexels texels holding a channel above L. Outside it a layer that turns
    // channels up to L into 0 adds nothing but alpha.
    const struct GridBox* brightBoxes = nullptr;
};

// A rectangle of tiles or of texels, both ends included; empty when x0 > x1.
struct GridBox {
    int x0;
    int y0;
    int x1;
    int y1;
};

constexpr int kTileShift = 3;
constexpr int kTileTexels = 1 << kTileShift;

// How many tiles of 2^shift texels a side of `texels` texels takes.
inline int tilesAcross(int texels, int shift) {
    return (texels + (1 << shift) - 1) >> shift;
}

inline int tileColumns(const StageState& st) {
    return tilesAcross(st.width, kTileShift);
}

inline int tileRows(const StageState& st) {
    return tilesAcross(st.height, kTileShift);
}

// What additive layers know of a texture's dark regions (StageState::footprintMax and
// brightBoxes, and the bright texels as rectangles), built from its level 0 while its draws are
// shaded.
class TileMaps {
  public:
    void build(const StageState& st);
    // Points the stage's optional fields at these maps.
    void attach(StageState* st) const;
    // The texels brighter than `limit`, as rectangles of texels: each row of tiles' runs of
    // tiles that hold such texels, runs that repeat in the rows below merged into one, each
    // narrowed to the texels themselves.
    const std::vector<GridBox>& brightRects(int limit);

  private:
    int columns_ = 0;
    int rows_ = 0;
    std::vector<uint8_t> maxima_;
    std::vector<GridBox> brightBoxes_;  // 256, one per limit
    int width_ = 0;
    std::vector<uint8_t> texelMax_;  // each texel's largest colour channel
    std::vector<uint8_t> footprintMax_;
    std::vector<std::pair<int, std::vector<GridBox>>> brightRects_;  // by limit, as asked for
};

// Everything the pixel loop needs besides the triangle itself. Shared by consecutive triangles
// drawn under the same states.
struct PixelState {
    StageState stage[kStages];
    int stages = 0;  // active stages; 0 = the diffuse colour as it is
    uint32_t textureFactor = 0xFFFFFFFFu;
    bool blend = false;
    Blend srcBlend = kBlendOne;
    Blend destBlend = kBlendZero;
    bool depthTest = false;
    bool depthWrite = false;
    uint8_t depthFunc = D3DCMP_LESSEQUAL;  // the device default, as the show never sets it
};

struct Plane {
    float ax;
    float ay;
    float c;
};

struct Triangle {
    // Edge i: e = a·X + b·Y + c with X, Y in subpixels; a pixel centre is covered when all three
    // are >= 0 (the fill rule's bias is folded into c).
    int64_t a[3];
    int64_t b[3];
    int64_t c[3];
    int y0;  // covered rows, clamped to the target
    int y1;
    int x0;  // bounding columns, clamped to the target
    int x1;
    int state;
    bool linear[kStages];  // bilinear (else point) filter per stage
    bool flatColour;       // all three corners share one colour: the diffuse planes are constant
    Plane plane[kAttributes];
};

// True when stage 0's texel coordinates move by at most two texels per pixel along a row: only
// then do the bilinear footprints of eight pixels stay within a few tiles, which is what the
// tests for dark texture regions look at.
inline bool closeTexels(const Triangle& tri, const StageState& st) {
    float du = tri.plane[kAttrU0].ax * static_cast<float>(st.width);
    float dv = tri.plane[kAttrV0].ax * static_cast<float>(st.height);
    return du <= 2.0f && du >= -2.0f && dv <= 2.0f && dv >= -2.0f;
}

// One run of covered pixels [x0, x1] in row y.
struct Span {
    int y;
    int x0;
    int x1;
    // Optional, for additive layers (see bright_cells.h): bit x of word x / 64 is set when the
    // pixel of column x may take colour from the layer. Null when nothing is known.
    const uint64_t* brightCells = nullptr;
    // True when every pixel of the span is known to have full alpha.
    bool alphaFull = false;
};

// The show's layers: one stage modulating a bilinear texture with the diffuse colour, alpha
// from the texture.
bool isModulatedLayer(const PixelState& state, const Triangle& tri);

// The largest texel channel that the modulation `op` with diffuse channels of at most `most`
// turns into 0: k·t·d rounds to 0 through div255 exactly when it is at most 127.
inline int darkLimitFor(Op op, uint32_t most) {
    if (most == 0) return 255;
    const int scale = op == kOpModulate ? 1 : (op == kOpModulate2x ? 2 : 4);
    return 127 / (scale * static_cast<int>(most));
}

// Shades and blends one span. `row` is the back-buffer row y, `depth` the depth-buffer row (null
// without a depth buffer).
using SpanFunction = void (*)(const PixelState& state, const Triangle& tri, const Span& span,
                              uint32_t* row, float* depth);

void shadeSpanScalar(const PixelState& state, const Triangle& tri, const Span& span, uint32_t* row,
                     float* depth);
// Null when the build or the processor lacks AVX2.
SpanFunction avx2SpanFunction();
// True when the AVX2 loop handles this state exactly (otherwise the scalar loop runs).
bool avx2Handles(const PixelState& state);

// The covered run of a row, false when the row misses the triangle.
bool rowSpan(const Triangle& tri, int y, int width, Span* span);

// The covered runs of consecutive rows, the same as rowSpan gives: each edge's bound is found
// once, then moved from row to row by whole columns and a remainder, with no division.
class RowSpans {
  public:
    // Starts at row y of `tri`, in a target `width` pixels wide.
    RowSpans(const Triangle& tri, int y, int width);
    // The run of the current row (false when the row misses the triangle); then moves to the
    // next row.
    bool next(Span* span);

  private:
    // An edge k·x + r >= 0 along the rows. Where k != 0, `x` is the bound it sets on the row
    // (the first column when k > 0, the last when k < 0) and `rest` (0 <= rest < |k|) how far
    // it is from the exact boundary; per row the bound moves by `step` and `stepRest` / |k|.
    // Where k == 0, `rest` is r.
    struct Edge {
        int64_t x;
        int64_t rest;
        int64_t step;
        int64_t stepRest;
        int64_t size;   // |k|
        int direction;  // +1 for a first column, -1 for a last one, 0 when k == 0
    };

    Edge edge_[3];
    int y_;
    int64_t x0_;
    int64_t x1_;
};

inline bool RowSpans::next(Span* span) {
    int64_t lo = x0_, hi = x1_;
    bool covered = true;
    for (Edge& e : edge_) {
        if (e.direction > 0) {
            lo = std::max(lo, e.x);
        } else if (e.direction < 0) {
            hi = std::min(hi, e.x);
        } else {
            covered = covered && e.rest >= 0;
        }
        // On to the next row; where the rest reaches |k| the bound moves one column more. Which
        // rows that happens on follows no pattern a branch could learn.
        e.rest += e.stepRest;
        const int64_t over = -static_cast<int64_t>(e.direction != 0 && e.rest >= e.size);
        e.rest -= e.size & over;
        e.x += e.step - (e.direction & over);
    }
    const int y = y_++;
    if (!covered || lo > hi) return false;
    span->y = y;
    span->x0 = static_cast<int>(lo);
    span->x1 = static_cast<int>(hi);
    return true;
}

// Rounds x / 255 to nearest for 0 <= x <= 65025 (larger values saturate to 255).
inline uint32_t div255(uint32_t x) {
    x = x < 65025u ? x : 65025u;
    x += 128u;
    return (x + (x >> 8)) >> 8;
}

// A vertex after the transform: clip-space position and its attributes.
struct ClipVertex {
    float x;
    float y;
    float z;
    float w;
    float attr[kAttributes];  // kAttrZ is unused here (z is the position's)
};

// Clips, projects, culls and sets up one triangle; appends 0 or more triangles. `cull` is the
// device's CULLMODE (D3DCULL_NONE, D3DCULL_CW or D3DCULL_CCW).
struct Viewport {
    int x;
    int y;
    int width;
    int height;
    float minZ;
    float maxZ;
    // Target pixels per pixel of the device the show draws for: the filter choice between
    // minification and magnification counts texels per device pixel, so that a finer target
    // samples textures as the show's own device would.
    int scale = 1;
};
void setupTriangle(const ClipVertex& v0, const ClipVertex& v1, const ClipVertex& v2,
                   const Viewport& viewport, int cull, int state, const PixelState& pixelState,
                   int targetWidth, int targetHeight, std::vector<Triangle>* out);

}  // namespace soft
