#pragma once
// A painting pass on the recording backend with the start-up objects and two straight tracks.
#include <string>

#include "painting/particles.h"
#include "painting/random_source.h"
#include "painting/strokes.h"
#include "painting_fixture.h"
#include "platform/d3dx_math.h"

class StrokeTest : public PaintingTest {
  protected:
    void SetUp() override {
        PaintingTest::SetUp();
        Direct3DDevice9* device = makeDevice();
        particleBrush.init(device);  // first, so its buffer is vb1
        backdropBrush.init(device);
        markerBrush.init(device);
        setWhiteCorners(backdropBrush);
        cache = new RenderStateCache(device);
        traceList.grow(2000);
        painting.device = device;
        painting.cache = cache;
        painting.backdropBrush = &backdropBrush;
        painting.particleBrush = &particleBrush;
        painting.markerBrush = &markerBrush;
        painting.traceList = &traceList;
        D3DXCreateLine(device, &painting.lineDrawer);
        for (int i = 0; i < 4; ++i)
            D3DXCreateTextureFromFileA(device, kBrushFiles[i], &painting.brushTextures[i]);
        for (int n = 0; n < 133; ++n) {
            track1.add(D3DXVECTOR2{0.01f * n, 0});
            track1.add(D3DXVECTOR2{0.01f * n + 0.1f, 0.05f});
            track2.add(D3DXVECTOR2{-0.01f * n, 0.2f});
            track2.add(D3DXVECTOR2{-0.01f * n - 0.1f, 0.1f});
        }
        recorder.clearLines();
    }
    void TearDown() override {
        delete cache;
        PaintingTest::TearDown();
    }

    // Rebuild, paper and strokes of one frame; the lines they wrote.
    Lines paintFrame(const StrokeScene& scene, const OverlayVideo& overlay = OverlayVideo{}) {
        rebuildStrokes(strokes, scene.sceneClock, track1, track2);
        drawPaper(painting);
        drawStrokes(painting, strokes, scene, overlay);
        return takeLines();
    }

    static int countStarting(const Lines& lines, const std::string& prefix) {
        int found = 0;
        for (const std::string& line : lines) found += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return found;
    }

    static constexpr const char* kBrushFiles[4] = {
        "data//brushes//brush1.jpg", "data//brushes//zor_brush2.jpg", "data//brushes//brush2.jpg",
        "data//brushes//zor_brush4.jpg"};

    Brush particleBrush, backdropBrush, markerBrush;
    RenderStateCache* cache = nullptr;
    Vector<D3DXVECTOR3> traceList;
    Painting painting;
    StrokeList strokes;
    Vector<D3DXVECTOR2> track1, track2;
};
