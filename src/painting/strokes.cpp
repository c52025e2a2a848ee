#include "painting/strokes.h"

#include "painting/particles.h"
#include "painting/random_source.h"
#include "platform/d3dx_math.h"
#include "platform/globals.h"

namespace {

const float kTailJitter = 0.035f;

void appendRecord(StrokePath& path, D3DXVECTOR2 start, D3DXVECTOR2 direction) {
    // The doubled start point makes the spline begin exactly there; the extrapolated end point
    // carries the record's direction one step further.
    path.add(start);
    path.add(start);
    path.add(direction);
    path.add(
        D3DXVECTOR2{direction.x + (direction.x - start.x), direction.y + (direction.y - start.y)});
}

void setWorldIdentity(Direct3DDevice9* device) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device->SetTransform(D3DTS_WORLD, &identity);
}

}  // namespace

StrokeList::StrokeList() : currentPath(new StrokePath()) {
    strokes.add(currentPath);
}

StrokeList::~StrokeList() {
    for (int32_t i = 0; i < strokes.count; ++i) delete strokes.items[i];
}

StrokePosition rebuildStrokes(StrokeList& list, float sceneClock,
                              const Vector<D3DXVECTOR2>& track1Points,
                              const Vector<D3DXVECTOR2>& track2Points) {
    while (list.strokes.count > 1) {
        StrokePath* oldest = list.strokes.items[0];
        list.strokes.removeAt(0);
        delete oldest;
    }
    list.currentPath = list.strokes.items[0];
    list.currentPath->count = 0;

    const double q = static_cast<double>(sceneClock) / 5.0;
    StrokePosition position;
    position.strokeIndex = static_cast<int32_t>(q);
    position.inter = static_cast<float>(q - position.strokeIndex);

    const int32_t n = position.strokeIndex;
    // Both lists hold the same records; the second bound only keeps a short track 2 from being
    // read past its end.
    if (n < 0 || 2 * n >= track1Points.count || 2 * n + 1 >= track2Points.count) return position;

    const D3DXVECTOR2 p0 = track1Points.items[2 * n];
    const D3DXVECTOR2 p1 = track1Points.items[2 * n + 1];
    appendRecord(*list.currentPath, p0, p1);
    D3DXVECTOR2 tail = list.currentPath->items[3];
    for (int i = 0; i < 10; ++i) {
        tail.x += jitter(kTailJitter);
        tail.y += jitter(kTailJitter);
        list.currentPath->add(tail);
    }

    list.currentPath = new StrokePath();
    list.strokes.add(list.currentPath);
    appendRecord(*list.currentPath, track2Points.items[2 * n], track2Points.items[2 * n + 1]);
    return position;
}

void setWhiteCorners(Brush& brush) {
    const BrushVertex white[4] = {
        {-1, -1, 0, 0xFFFFFFFF, 0, 0, 0, 0},
        {1, -1, 0, 0xFFFFFFFF, 1, 0, 1, 0},
        {1, 1, 0, 0xFFFFFFFF, 1, 1, 1, 1},
        {-1, 1, 0, 0xFFFFFFFF, 0, 1, 0, 1},
    };
    brush.setCorners(white);
}

void drawPaper(Painting& painting) {
    RenderStateCache& cache = *painting.cache;
    cache.resetDefaults();
    cache.setTexture(painting.paperTexture, 0);
    cache.setBlend(0, kKeepState, kKeepState);
    cache.setStageColour(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, 0);
    setWorldIdentity(painting.device);
    painting.backdropBrush->bindAndDraw();
    painting.baseState = cache.snapshot();
}

void drawBackgroundVideo(Painting& painting, Direct3DTexture9* videoTexture) {
    RenderStateCache& cache = *painting.cache;
    setWorldIdentity(painting.device);
    cache.setTexture(videoTexture, 0);
    cache.setStageColour(D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0);
    cache.setStageColour(D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, 1);
    cache.setBlend(1, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
    painting.backdropBrush->bindAndDraw();
    cache.restore(painting.baseState);
}

namespace {

struct StrokeSetup {
    float sizeFactor;
    float growthStep;
    RenderStateSnapshot strokeState;
};

StrokeSetup setUpStroke(Painting& painting, int32_t position, int32_t pointCount,
                        const StrokeScene& scene) {
    RenderStateCache& cache = *painting.cache;
    StrokeSetup setup;
    // Never used for paths of fewer than three points, which draw no particles.
    setup.growthStep = static_cast<float>(1.0 / ((pointCount - 2) * 60.0));
    setup.sizeFactor = position == 0 ? scene.masterScale : 1.0f;
    if (position == 1) {
        // The second stroke swells late in the show and in its first two seconds.
        float late = static_cast<float>((static_cast<double>(scene.sceneClock) - 400.0) / 1520.0);
        if (late < 0) late = 0;
        setup.growthStep += late;
        if (scene.sceneClock < 10) {
            setup.growthStep = static_cast<float>(
                setup.growthStep + (10.0 - static_cast<double>(scene.sceneClock)) * 0.034);
        }
    }

    const int32_t k = nextRandom() % 4;
    cache.setTexture(painting.brushTextures[k], 0);
    // The second stroke always wears the same image; its draw above still moves the sequence.
    if (position == 1) cache.setTexture(painting.brushTextures[1], 0);
    cache.setTexture(painting.detailTexture, 1);

    D3DCOLOR colours[4];
    colours[0] = 0x00202020;
    const uint32_t greenRed = static_cast<uint32_t>(nextRandom());
    colours[1] = 0x00303040u + ((greenRed << 8) & 0x000F0F0Fu);
    colours[2] = 0x00401020;
    colours[3] = 0x00504010u + static_cast<uint32_t>(nextRandom() % 16);
    if (nextRandom() < 16000) colours[3] = 0xFFFFFFFF;
    painting.particleBrush->setColours(colours);

    if (position == 0) {
        cache.setBlend(1, D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR);
    } else {
        cache.setBlend(1, D3DBLEND_ONE, D3DBLEND_ONE);
    }
    cache.setStageColour(D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0);
    cache.setStageColour(D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, 1);
    setup.strokeState = cache.snapshot();
    painting.particleBrush->bind();
    return setup;
}

}  // namespace

void drawStrokes(Painting& painting, const StrokeList& list, const StrokeScene& scene,
                 const OverlayVideo& overlay) {
    RenderStateCache& cache = *painting.cache;
    painting.particleCount = 0;
    painting.particlePhase = scene.phaseAccumulator;
    for (int32_t i = 0; i < list.strokes.count; ++i) {
        const StrokePath& path = *list.strokes.items[i];
        if (tracing && painting.traceList != nullptr) painting.traceList->count = 0;
        const StrokeSetup setup = setUpStroke(painting, i, path.count, scene);
        drawParticles(painting, path, setup.sizeFactor, setup.growthStep, scene.particleSeed);

        const RenderStateSnapshot afterParticles = cache.snapshot();
        setWorldIdentity(painting.device);
        if (overlay.run != nullptr && overlay.run(overlay.context)) {
            cache.setTexture(overlay.texture, 0);
            cache.setStageColour(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0);
            cache.setStageColour(D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, 1);
            cache.setBlend(1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
            painting.backdropBrush->bindAndDraw();
        }
        cache.restore(afterParticles);
        if (tracing) drawTraceLines(painting);
        cache.restore(setup.strokeState);
    }
}
