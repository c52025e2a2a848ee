#pragma once
// Texture from a JPEG file, the way the platform's texture-from-file helper makes one.
//
// The texture is the picture's width and height each rounded up to a power of two. When a side
// grows, the picture is stretched over the whole texture (never padded), so texture coordinates
// 0..1 still span the whole picture. A side that keeps its size keeps its texels exactly: a
// 512 x 512 picture gives libjpeg's decode texel for texel.
//
// Stretch filter (a tent, separable, rows first then columns): destination texel i of a side
// with S source and D destination texels samples the source at the centre-aligned position
// x = (i + 0.5) * S / D - 0.5. Because D >= S the tent is one source texel wide on each side,
// which makes it a linear blend of texels floor(x) and floor(x) + 1 with weights 1 - f and f
// (f the fraction of x); positions before the first or after the last texel centre take the
// edge texel. All weights and sums are integers (16-bit weights, one rounding at the end), so
// the result is the same on every machine, and corner texels keep the picture's corner
// colours exactly.
//
// Alpha is 0xFF everywhere (the format has none). Grey pictures give grey texels. CMYK
// pictures, 12-bit pictures and textures over 8192 texels on a side are refused.
#include <string>

#include "backend/imaging/render_target.h"

// The largest texture side accepted (after rounding up).
constexpr unsigned kMaxJpegTextureSide = 8192;

// On failure returns false, leaves *out empty and puts a one-line reason (without the path,
// which the caller knows) in *error. A file that is missing, empty, truncated or damaged in
// its coded data is a failure, never a partial picture.
bool loadJpegTexture(const std::string& nativePath, TextureImage* out, std::string* error);
