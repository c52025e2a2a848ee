#include "platform/d3dx_math.h"

#include <cmath>

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    return D3DXMatrixScaling(out, 1.0f, 1.0f, 1.0f);
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    *out = D3DXMATRIX{{{sx, 0, 0, 0}, {0, sy, 0, 0}, {0, 0, sz, 0}, {0, 0, 0, 1}}};
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    // Cosine and sine in double, rounded once: the same float on every C library, where the
    // float versions may differ in the last bit.
    float c = static_cast<float>(std::cos(double(angle)));
    float s = static_cast<float>(std::sin(double(angle)));
    *out = D3DXMATRIX{{{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    *out = D3DXMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {x, y, z, 1}}};
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    D3DXMATRIX product;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            product.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] +
                              a->m[i][2] * b->m[2][j] + a->m[i][3] * b->m[3][j];
        }
    }
    *out = product;
    return out;
}

D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* out, const D3DXVECTOR2* v, const D3DXMATRIX* m) {
    // The z row is multiplied by 0 and drops out; the w row is added once.
    D3DXVECTOR4 result;
    result.x = v->x * m->m[0][0] + v->y * m->m[1][0] + m->m[3][0];
    result.y = v->x * m->m[0][1] + v->y * m->m[1][1] + m->m[3][1];
    result.z = v->x * m->m[0][2] + v->y * m->m[1][2] + m->m[3][2];
    result.w = v->x * m->m[0][3] + v->y * m->m[1][3] + m->m[3][3];
    *out = result;
    return out;
}

namespace {

float catmullRom(float p0, float p1, float p2, float p3, float s, float s2, float s3) {
    return 0.5f * (2.0f * p1 + (p2 - p0) * s + (2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) * s2 +
                   (3.0f * p1 - p0 - 3.0f * p2 + p3) * s3);
}

}  // namespace

D3DXVECTOR2* D3DXVec2CatmullRom(D3DXVECTOR2* out, const D3DXVECTOR2* p0, const D3DXVECTOR2* p1,
                                const D3DXVECTOR2* p2, const D3DXVECTOR2* p3, float s) {
    float s2 = s * s;
    float s3 = s2 * s;
    D3DXVECTOR2 result;
    result.x = catmullRom(p0->x, p1->x, p2->x, p3->x, s, s2, s3);
    result.y = catmullRom(p0->y, p1->y, p2->y, p3->y, s, s2, s3);
    *out = result;
    return out;
}

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
