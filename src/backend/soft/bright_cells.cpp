#include "backend/soft/bright_cells.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "backend/soft/raster_contract.h"

namespace soft {

namespace {

// Texels either side of a shape. The pixel loop computes a coordinate in float, from the row's
// part and the column's part of its plane; where neither exceeds kLargest (in magnitude) the
// roundings of that stay within a few 1/256 of a texel of the exact value.
constexpr double kMargin = 0.125;
constexpr double kLargest = 1e7 / 256;  // texels
// More shapes than this for one triangle (a texture repeated over and over) are not worth
// placing.
constexpr size_t kMostShapes = 4096;

// One texture axis over the screen: coordinate = perColumn·x + perRow·y + atOrigin, in texels.
struct AxisMap {
    double perColumn;
    double perRow;
    double atOrigin;

    AxisMap(const Plane& p, int size)
        : perColumn(double(p.ax) * size),
          perRow(double(p.ay) * size),
          atOrigin(double(p.c) * size - kBilinearOffset / 256.0) {}

    double at(double x, double y) const { return perColumn * x + perRow * y + atOrigin; }
};

using Range = std::pair<double, double>;

// The coordinates within [least, most] from which a footprint (a texel and the next) reaches
// the texels [first, last] of an axis of `size` texels: copies of one range for a wrapped
// texture. False when there would be more than kMostShapes copies.
bool reaching(int first, int last, int size, Address mode, double least, double most,
              std::vector<Range>* out) {
    out->clear();
    double low = double(first) - 1 - kMargin;
    double high = double(last) + 1 + kMargin;
    if (mode == kClamp) {
        // A clamped index beyond the texture reads its edge texels.
        if (first == 0) low = least;
        if (last == size - 1) high = most;
        if (low <= most && high >= least)
            out->emplace_back(std::max(low, least), std::min(high, most));
        return true;
    }
    const double firstCopy = std::ceil((least - high) / size);
    const double lastCopy = std::floor((most - low) / size);
    if (lastCopy - firstCopy >= double(kMostShapes)) return false;
    for (double k = firstCopy; k <= lastCopy; ++k) {
        out->emplace_back(std::max(low + k * size, least), std::min(high + k * size, most));
    }
    return true;
}

// Narrows [*lo, *hi] to the columns of a row where coordinate = perColumn·x + start lies in
// [low, high] (`inverse` is 1 / perColumn, or 0 when that is 0). False when none does.
bool narrow(double perColumn, double inverse, double start, double low, double high, double* lo,
            double* hi) {
    if (perColumn == 0) return start >= low && start <= high;
    double a = (low - start) * inverse, b = (high - start) * inverse;
    if (a > b) std::swap(a, b);
    *lo = std::max(*lo, a);
    *hi = std::min(*hi, b);
    return *lo <= *hi;
}

}  // namespace

void placeBrightShapes(const Triangle& tri, const StageState& st, const std::vector<GridBox>& rects,
                       std::vector<BrightShape>* shapes, BrightRegion* region) {
    *region = BrightRegion{};
    const AxisMap mu(tri.plane[kAttrU0], st.width), mv(tri.plane[kAttrV0], st.height);
    // The coordinates over the triangle's bounding box: its corners bound them.
    double uLeast = kLargest, uMost = -kLargest, vLeast = kLargest, vMost = -kLargest;
    for (int corner = 0; corner < 4; ++corner) {
        const double x = corner & 1 ? tri.x1 : tri.x0, y = corner & 2 ? tri.y1 : tri.y0;
        uLeast = std::min(uLeast, mu.at(x, y));
        uMost = std::max(uMost, mu.at(x, y));
        vLeast = std::min(vLeast, mv.at(x, y));
        vMost = std::max(vMost, mv.at(x, y));
    }
    const double columns = std::max(std::fabs(double(tri.x0)), std::fabs(double(tri.x1)));
    const double bound = kLargest / 2;
    if (!(uLeast > -bound && uMost < bound && vLeast > -bound && vMost < bound &&
          std::fabs(mu.perColumn) * columns < bound && std::fabs(mv.perColumn) * columns < bound)) {
        return;
    }
    uLeast -= 1;
    uMost += 1;
    vLeast -= 1;
    vMost += 1;
    const double det = mu.perColumn * mv.perRow - mu.perRow * mv.perColumn;
    const size_t start = shapes->size();
    std::vector<Range> us, vs;
    for (const GridBox& box : rects) {
        if (!reaching(box.x0, box.x1, st.width, st.addressU, uLeast, uMost, &us) ||
            !reaching(box.y0, box.y1, st.height, st.addressV, vLeast, vMost, &vs)) {
            shapes->resize(start);
            return;
        }
        for (const Range& u : us) {
            for (const Range& v : vs) {
                BrightShape shape{u.first, u.second, v.first, v.second, tri.y0, tri.y1};
                if (det != 0) {
                    // The parallelogram's corners on the screen, a little wider than the shape
                    // so that the rows the loop's rounding could reach are kept.
                    double xLeast = 1e300, xMost = -1e300, yLeast = 1e300, yMost = -1e300;
                    for (int corner = 0; corner < 4; ++corner) {
                        const double du =
                            (corner & 1 ? u.second + kMargin : u.first - kMargin) - mu.atOrigin;
                        const double dv =
                            (corner & 2 ? v.second + kMargin : v.first - kMargin) - mv.atOrigin;
                        const double x = (mv.perRow * du - mu.perRow * dv) / det;
                        const double y = (mu.perColumn * dv - mv.perColumn * du) / det;
                        xLeast = std::min(xLeast, x);
                        xMost = std::max(xMost, x);
                        yLeast = std::min(yLeast, y);
                        yMost = std::max(yMost, y);
                    }
                    if (xMost < tri.x0 - 1 || xLeast > tri.x1 + 1 || yMost < tri.y0 - 1 ||
                        yLeast > tri.y1 + 1) {
                        continue;
                    }
                    if (yLeast > tri.y0) shape.top = static_cast<int>(std::floor(yLeast)) - 1;
                    if (yMost < tri.y1) shape.bottom = static_cast<int>(std::ceil(yMost)) + 1;
                    shape.top = std::max(shape.top, tri.y0);
                    shape.bottom = std::min(shape.bottom, tri.y1);
                    if (shape.top > shape.bottom) continue;
                }
                if (shapes->size() - start == kMostShapes) {
                    shapes->resize(start);
                    return;
                }
                shapes->push_back(shape);
            }
        }
    }
    region->first = static_cast<uint32_t>(start);
    region->count = static_cast<uint32_t>(shapes->size() - start);
    region->known = true;
}

void BrightCellRows::start(const Triangle& tri, const StageState& st, const BrightShape* shapes,
                           uint32_t count, int top, int bottom, int width) {
    for (auto [axis, plane, size] : {std::tuple{&u_, &tri.plane[kAttrU0], st.width},
                                     std::tuple{&v_, &tri.plane[kAttrV0], st.height}}) {
        axis->plane = plane;
        axis->size = size;
        axis->perColumn = double(plane->ax) * size;
        axis->inverse = axis->perColumn == 0 ? 0 : 1 / axis->perColumn;
    }
    left_ = std::max(tri.x0, 0);
    right_ = std::min(tri.x1, width - 1);
    near_.clear();
    for (uint32_t k = 0; k < count; ++k) {
        if (shapes[k].top <= bottom && shapes[k].bottom >= top) near_.push_back(shapes[k]);
    }
    cells_.assign(size_t(cellWords(width)), 0);
}

const uint64_t* BrightCellRows::row(int y) {
    uint64_t* cells = cells_.data();
    std::fill(cells_.begin(), cells_.end(), 0);
    // The row's part of the coordinates exactly as the pixel loop has it; the column's part in
    // double, which the margin covers.
    const double uStart = double(rowValue(*u_.plane, y)) * u_.size - kBilinearOffset / 256.0;
    const double vStart = double(rowValue(*v_.plane, y)) * v_.size - kBilinearOffset / 256.0;
    for (const BrightShape& s : near_) {
        if (y < s.top || y > s.bottom) continue;
        double lo = left_, hi = right_;
        if (!narrow(u_.perColumn, u_.inverse, uStart, s.uLow, s.uHigh, &lo, &hi) ||
            !narrow(v_.perColumn, v_.inverse, vStart, s.vLow, s.vHigh, &lo, &hi)) {
            continue;
        }
        // A column either way for the rounding of the ends (lo and hi are not negative, so
        // the conversions floor them).
        const int first = std::max(left_, static_cast<int>(lo) - 1);
        const int last = std::min(right_, static_cast<int>(hi) + 2);
        for (int word = first >> 6; word <= last >> 6; ++word) {
            const int from = std::max(first, word << 6) & 63;
            const int to = std::min(last, (word << 6) + 63) & 63;
            cells[word] |= (~uint64_t{0} >> (63 - to)) & (~uint64_t{0} << from);
        }
    }
    return cells;
}

bool BrightCellRows::anyIn(int x0, int x1) const {
    return nextColumn(cells_.data(), x0, x1, true) <= x1;
}

}  // namespace soft
