#pragma once
// The steps of the numeric model (raster.h) that the scalar pixel loop and the AVX2 loop must
// take alike, bit for bit, written once. The scalar loop is made of them; the AVX2 loop repeats
// them eight lanes at a time, and calls them itself wherever it needs the value of one pixel:
// the ends of a span, a flat colour, the texels a tile test looks at.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "backend/soft/raster.h"

namespace soft {

// Texel coordinates carry 8 fractional bits: the bilinear weight is the fraction.
constexpr int kTexelFractionBits = 8;
constexpr int32_t kTexelFractionMask = (1 << kTexelFractionBits) - 1;
// Bilinear filtering samples around u·W − 0.5 texel, half a texel in fixed point.
constexpr float kBilinearOffset = 128.0f;
// Coordinates are clamped to ±2^30 before they are converted, so that any float converts.
constexpr float kCoordinateLimit = 1073741824.0f;

// The row's part of an attribute plane, ay·y + c.
inline float rowValue(const Plane& p, int y) {
    float t = p.ay * static_cast<float>(y);
    return t + p.c;
}

// The row's part of every attribute plane, once per span.
inline void rowValues(const Triangle& tri, int y, float rowValue[kAttributes]) {
    for (int k = 0; k < kAttributes; ++k) rowValue[k] = soft::rowValue(tri.plane[k], y);
}

// An attribute at column x: ax·x, then the row's part added; two roundings, never fused.
inline float planeAt(const Plane& p, float x, float rowValue) {
    float t = p.ax * x;
    return t + rowValue;
}

// A diffuse channel clamped to [0, 255] and rounded to nearest.
inline uint32_t roundChannel(float v) {
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return static_cast<uint32_t>(std::floor(v + 0.5f));
}

// A texture side in fixed-point texels: what a coordinate of 1 becomes.
inline float texelScale(int size) {
    return static_cast<float>(size << kTexelFractionBits);
}

// Texel coordinate of t with 8 fractional bits; `offset` is kBilinearOffset or 0 (point).
inline int32_t fixedCoordinate(float t, float scaled, float offset) {
    float s = t * scaled;
    s = s - offset;
    s = s > -kCoordinateLimit ? s : -kCoordinateLimit;
    s = s < kCoordinateLimit ? s : kCoordinateLimit;
    return static_cast<int32_t>(std::floor(s));
}

// The texel a wrapped or clamped index reads.
inline int addressTexel(int i, int size, Address mode) {
    if (mode == kClamp) return i < 0 ? 0 : (i >= size ? size - 1 : i);
    if ((size & (size - 1)) == 0) return i & (size - 1);
    int m = i % size;
    return m < 0 ? m + size : m;
}

// How much a modulating stage operation multiplies the product by; 0 for the others.
constexpr uint32_t modulateScale(Op op) {
    return op == kOpModulate ? 1u : op == kOpModulate2x ? 2u : op == kOpModulate4x ? 4u : 0u;
}

// A stage operation on one 8-bit channel: the reference the vector loop matches.
inline uint32_t applyOp(Op op, uint32_t a, uint32_t b) {
    switch (op) {
        case kOpSelect1:
            return a;
        case kOpSelect2:
            return b;
        case kOpAdd:
            return std::min(a + b, 255u);
        default:
            return div255(modulateScale(op) * a * b);
    }
}

}  // namespace soft
