#include "platform/view_matrices.h"

#include <cmath>

namespace {

D3DXVECTOR3 subtract(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

D3DXVECTOR3 cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// A zero vector stays zero rather than turning into NaNs.
D3DXVECTOR3 normalize(const D3DXVECTOR3& v) {
    float length = std::sqrt(dot(v, v));
    if (length == 0.0f) return {0.0f, 0.0f, 0.0f};
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    D3DXVECTOR3 zAxis = normalize(subtract(*at, *eye));
    D3DXVECTOR3 xAxis = normalize(cross(*up, zAxis));
    D3DXVECTOR3 yAxis = cross(zAxis, xAxis);
    *out = D3DXMATRIX{{{xAxis.x, yAxis.x, zAxis.x, 0.0f},
                       {xAxis.y, yAxis.y, zAxis.y, 0.0f},
                       {xAxis.z, yAxis.z, zAxis.z, 0.0f},
                       {-dot(xAxis, *eye), -dot(yAxis, *eye), -dot(zAxis, *eye), 1.0f}}};
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear,
                                       float zFar) {
    float yScale = 1.0f / std::tan(fovY / 2.0f);
    float xScale = yScale / aspect;
    float depth = zFar / (zFar - zNear);
    *out = D3DXMATRIX{{{xScale, 0.0f, 0.0f, 0.0f},
                       {0.0f, yScale, 0.0f, 0.0f},
                       {0.0f, 0.0f, depth, 1.0f},
                       {0.0f, 0.0f, zNear * zFar / (zNear - zFar), 0.0f}}};
    return out;
}
