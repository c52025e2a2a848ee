#include "painting/particles.h"

#include <cmath>

#include "painting/random_source.h"
#include "platform/d3dx_math.h"
#include "platform/globals.h"

namespace {

const int kParticlesPerSegment = 60;
const float kParticleJitter = 0.025f;
const float kSplineStep = 1.0f / 60.0f;
// The line drawer takes at most this many points per strip.
const int32_t kTraceChunk = 512;
const int kMarkerLayers = 8;

void drawMarker(Painting& painting, float scale, float x, float y) {
    D3DXMATRIX scaling;
    D3DXMATRIX translation;
    D3DXMATRIX world;
    D3DXMatrixScaling(&scaling, scale, scale, scale);
    D3DXMatrixTranslation(&translation, x, y, 0);
    D3DXMatrixMultiply(&world, &scaling, &translation);
    painting.device->SetTransform(D3DTS_WORLD, &world);
    // The layers stack under the blend mode the last stroke left.
    for (int i = 0; i < kMarkerLayers; ++i) painting.markerBrush->bindAndDraw();
}

}  // namespace

void drawParticles(Painting& painting, const StrokePath& path, float sizeFactor, float growthStep,
                   int32_t particleSeed) {
    const int32_t n = path.count;
    if (n <= 2) return;
    float sizeRamp = 0.0f;
    for (int32_t k = 2; k <= n - 1; ++k) {
        const D3DXVECTOR2* p0 = &path.items[k - 2];
        const D3DXVECTOR2* p1 = &path.items[k - 1];
        const D3DXVECTOR2* p2 = &path.items[k];
        const D3DXVECTOR2* p3 = &path.items[k == n - 1 ? n - 1 : k + 1];
        float u = 0.0f;
        seedRandom(particleSeed);
        for (int i = 0; i < kParticlesPerSegment; ++i) {
            const double phase = static_cast<double>(painting.particlePhase);
            const float a = static_cast<float>(0.3 + 0.15 * std::sin(1.2 * phase));
            const float b = static_cast<float>(static_cast<double>(a) * 0.33);
            const float size = static_cast<float>(static_cast<double>(b) * sizeRamp * sizeFactor);
            sizeRamp += growthStep;
            const float angle = static_cast<float>(0.9 * phase);

            D3DXMATRIX scaling;
            D3DXMATRIX rotation;
            D3DXMATRIX turned;
            D3DXMatrixScaling(&scaling, size, size, 0);
            D3DXMatrixRotationZ(&rotation, angle);
            D3DXMatrixMultiply(&turned, &scaling, &rotation);

            D3DXVECTOR2 centre;
            D3DXVec2CatmullRom(&centre, p0, p1, p2, p3, u);
            centre.x += jitter(kParticleJitter);
            centre.y += jitter(kParticleJitter);

            D3DXMATRIX translation;
            D3DXMATRIX world;
            D3DXMatrixTranslation(&translation, centre.x, centre.y, 0);
            D3DXMatrixMultiply(&world, &turned, &translation);
            painting.particlePhase = static_cast<float>(phase + 1.0 / 60.0);
            painting.device->SetTransform(D3DTS_WORLD, &world);

            if (particlesVisible) {
                painting.particleBrush->draw();
                painting.particleCount += 1;
            }
            u += kSplineStep;

            if (tracing && painting.traceList != nullptr) {
                const D3DXVECTOR2 origin = {0, 0};
                D3DXVECTOR4 placed;
                D3DXVec2Transform(&placed, &origin, &world);
                painting.traceList->add(D3DXVECTOR3{placed.x, placed.y, 0});
            }
        }
    }
}

void drawTraceLines(Painting& painting) {
    RenderStateCache& cache = *painting.cache;
    cache.setBlend(0, kKeepState, kKeepState);
    cache.setTexture(nullptr, 0);
    cache.setStageColour(D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_DIFFUSE, 0);
    if (painting.lineDrawer == nullptr || painting.traceList == nullptr) return;
    painting.lineDrawer->Begin();
    const Vector<D3DXVECTOR3>& points = *painting.traceList;
    // Strips do not join: no line runs from one chunk's last point to the next chunk's first.
    for (int32_t start = 0; start < points.count; start += kTraceChunk) {
        const int32_t length =
            points.count - start < kTraceChunk ? points.count - start : kTraceChunk;
        painting.lineDrawer->DrawTransform(points.items + start, static_cast<DWORD>(length),
                                           &painting.projection, 0xFFFFFFFF);
    }
    painting.lineDrawer->End();
}

void drawMarkers(Painting& painting, float cursorX, float cursorY) {
    if (cornerPreview) drawMarker(painting, 0.14f, -0.85f, -0.7f);
    if (cursorBrush) drawMarker(painting, 0.04f, cursorX, cursorY);
}

D3DXVECTOR2 cursorWorldPosition(int32_t px, int32_t py, int32_t width, int32_t height) {
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    const double halfWidth = width * 0.5;
    const double halfHeight = height * 0.5;
    D3DXVECTOR2 world;
    world.x = static_cast<float>((px - halfWidth) / halfWidth);
    // The stretch is a real ratio (480 / 448), not a whole-number quotient.
    world.y = static_cast<float>(((py + 32) - halfHeight) * (1.0f / aspect) / halfHeight *
                                 (static_cast<double>(height) / (height - 32)));
    return world;
}
