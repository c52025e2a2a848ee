#pragma once
#include "backend/platform_types.h"

// The start-up camera's two matrices, left-handed, for row vectors (p' = p x M).

// View matrix looking from `eye` at `at`, with `up` giving the upward direction.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);

// Perspective projection with vertical field of view `fovY` (radians), width / height `aspect`,
// and depth mapped from `zNear` (0) to `zFar` (1).
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear,
                                       float zFar);
