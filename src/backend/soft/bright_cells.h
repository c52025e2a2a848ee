#pragma once
// Where an additive layer can add colour: the pixels whose bilinear footprints reach a texel
// brighter than what the layer's modulation turns into black. Everywhere else the layer
// adds only alpha, which changes nothing where alpha is already full.
//
// The texture coordinates are affine on the screen, so a rectangle of bright texels, widened by
// the footprint's neighbour texel and by a margin for the pixel loop's float rounding, covers a
// parallelogram of the screen. A triangle's rectangles (and their repeats, for a wrapped
// texture) are placed once, when its batch is handed over; then each row marks the columns
// that their parallelograms cross, one bit a column.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "backend/soft/raster.h"

namespace soft {

// A rectangle of texel coordinates (u·W − 0.5 and v·H − 0.5, in texels, as the bilinear filter
// takes them) from which a footprint reaches a bright texel, and the rows it can cross.
struct BrightShape {
    double uLow;
    double uHigh;
    double vLow;
    double vHigh;
    int top;
    int bottom;
};

// A triangle's shapes: shapes[first, first + count). Without `known`, any column may be bright.
struct BrightRegion {
    uint32_t first = 0;
    uint32_t count = 0;
    bool known = false;
};

// Places the shapes of `tri`, a layer that reads stage 0 bilinearly and adds nothing where its
// texels lie outside `rects` (the bright texels as TileMaps gives them). Appends them to
// `shapes` and describes them in *region; leaves the region unknown where the texture
// coordinates are too large for the margin to cover their rounding, or the texture repeats
// too often over the triangle.
void placeBrightShapes(const Triangle& tri, const StageState& st, const std::vector<GridBox>& rects,
                       std::vector<BrightShape>* shapes, BrightRegion* region);

// The words of bits a row of `width` pixels needs.
inline int cellWords(int width) {
    return width / 64 + 1;
}

// The first column from `from` up to `last` whose bit in `cells` is `bright`; last + 1 when
// there is none.
inline int nextColumn(const uint64_t* cells, int from, int last, bool bright) {
    for (int word = from >> 6; word <= last >> 6; ++word) {
        uint64_t bits = bright ? cells[word] : ~cells[word];
        if (word == from >> 6) bits &= ~uint64_t{0} << (from & 63);
        if (bits != 0) return std::min((word << 6) + __builtin_ctzll(bits), last + 1);
    }
    return last + 1;
}

// The bright columns of the rows of a triangle, block of rows by block of rows: each block first
// picks out the shapes that cross it.
class BrightCellRows {
  public:
    // Rows [top, bottom] of `tri` (see placeBrightShapes) in a target `width` pixels wide.
    void start(const Triangle& tri, const StageState& st, const BrightShape* shapes, uint32_t count,
               int top, int bottom, int width);
    // The columns of row y of the block where a pixel of the triangle may reach a bright texel.
    const uint64_t* row(int y);
    // Whether any of the columns [x0, x1] of the row last marked is.
    bool anyIn(int x0, int x1) const;

  private:
    // One texture axis along the rows: coordinate = perColumn·x + the row's start.
    struct Axis {
        const Plane* plane;
        double size;
        double perColumn;
        double inverse;  // 1 / perColumn, or 0
    };

    Axis u_{}, v_{};
    int left_ = 0;
    int right_ = -1;
    std::vector<BrightShape> near_;
    std::vector<uint64_t> cells_;
};

}  // namespace soft
