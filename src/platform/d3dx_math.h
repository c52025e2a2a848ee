#pragma once
// The extension library's matrix and spline helpers the show relies on (the painting's
// transforms and spline, the start-up camera), worked out in 32-bit floats term by term in the
// order written below, so that every backend places the particles on the same bits. Matrices act
// on row vectors (p' = p x M); translation sits in row 3. Each function writes `out` and returns
// it; `out` may be one of the inputs.
#include "backend/platform_types.h"

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);

// [sx 0 0 0] [0 sy 0 0] [0 0 sz 0] [0 0 0 1]
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);

// [c s 0 0] [-s c 0 0] [0 0 1 0] [0 0 0 1] with c = cos(angle), s = sin(angle), so (1, 0) turns
// to (c, s).
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);

// The identity with row 3 = [x y z 1].
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);

// a x b: out[i][j] = a[i][0]*b[0][j] + a[i][1]*b[1][j] + a[i][2]*b[2][j] + a[i][3]*b[3][j],
// summed left to right. Applying the result means applying a, then b.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);

// (x, y, 0, 1) x m, all four components, with no divide by w.
D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* out, const D3DXVECTOR2* v, const D3DXMATRIX* m);

// The uniform Catmull-Rom spline through p1 (s = 0) and p2 (s = 1):
// 0.5 * (2*p1 + (p2 - p0)*s + (2*p0 - 5*p1 + 4*p2 - p3)*s^2 + (3*p1 - p0 - 3*p2 + p3)*s^3).
D3DXVECTOR2* D3DXVec2CatmullRom(D3DXVECTOR2* out, const D3DXVECTOR2* p0, const D3DXVECTOR2* p1,
                                const D3DXVECTOR2* p2, const D3DXVECTOR2* p3, float s);

// The start-up camera's two matrices, left-handed, for row vectors (p' = p x M).

// View matrix looking from `eye` at `at`, with `up` giving the upward direction.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);

// Perspective projection with vertical field of view `fovY` (radians), width / height `aspect`,
// and depth mapped from `zNear` (0) to `zFar` (1).
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear,
                                       float zFar);
