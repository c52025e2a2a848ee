#pragma once
#include <cstdint>

#include "backend/graphics.h"
#include "backend/platform_types.h"
#include "foundation/vector.h"
#include "painting/brush.h"
#include "painting/render_state_cache.h"

// The control points of one stroke, in world units.
typedef Vector<D3DXVECTOR2> StrokePath;

// The strokes of the current frame. The list is never empty and owns its paths; the last one is
// the current path, the one being filled. It is rebuilt from scratch every frame, so nothing a
// stroke drew last frame survives into this one.
class StrokeList {
  public:
    // One empty path, which is the current one.
    StrokeList();
    // Deletes every path still held.
    ~StrokeList();
    StrokeList(const StrokeList&) = delete;
    StrokeList& operator=(const StrokeList&) = delete;

    Vector<StrokePath*> strokes;
    StrokePath* currentPath;
};

// Which track record the strokes use and how far the scene clock is into it.
struct StrokePosition {
    int32_t strokeIndex;
    float inter;
};

// Refills the list from the track record of the scene clock `sceneClock` (before this frame's
// advance): a 14-point first stroke from track 1 ending in a random tail (20 draws from the
// shared generator) and a 4-point second stroke from track 2. Past the last record the list is
// one empty path. Keeps the most recent path and deletes the others.
StrokePosition rebuildStrokes(StrokeList& list, float sceneClock,
                              const Vector<D3DXVECTOR2>& track1Points,
                              const Vector<D3DXVECTOR2>& track2Points);

// The objects the painting pass draws with. All of them are made at start-up and owned by the
// show's entry function; the pass only borrows them. The per-frame values at the end are the
// painting's own.
struct Painting {
    Direct3DDevice9* device = nullptr;
    RenderStateCache* cache = nullptr;
    // Covers the whole view with white corners; carries the paper and both videos.
    Brush* backdropBrush = nullptr;
    // The brush pressed along the strokes; only its colours change, once per stroke.
    Brush* particleBrush = nullptr;
    // The debug markers' brush, white like the backdrop.
    Brush* markerBrush = nullptr;
    Direct3DTexture9* paperTexture = nullptr;
    Direct3DTexture9* brushTextures[4] = {nullptr, nullptr, nullptr, nullptr};
    Direct3DTexture9* detailTexture = nullptr;
    D3DXLine* lineDrawer = nullptr;
    // Particle centres of the stroke being drawn, while tracing is on.
    Vector<D3DXVECTOR3>* traceList = nullptr;
    // The camera's projection, which turns the traced centres into screen lines.
    D3DXMATRIX projection = {};

    // The state the paper layer leaves; every later layer returns to it.
    RenderStateSnapshot baseState = {};
    // Both run on from the first stroke into the second within a frame.
    float particlePhase = 0.0f;
    int32_t particleCount = 0;
};

// The white corners of the backdrop and marker brushes: the default quad and texture coordinates.
void setWhiteCorners(Brush& brush);

// The paper layer. Runs first after the camera; the render state cache is untouched this frame.
void drawPaper(Painting& painting);

// The background video layer from the texture the video has just been uploaded to.
void drawBackgroundVideo(Painting& painting, Direct3DTexture9* videoTexture);

// The overlay video, which is drawn over each stroke for most of the show. `run` decodes and
// uploads its frame for this moment into `texture` and returns whether the video is to be drawn
// now (the scene clock's window for it is the caller's). Painting does not know the video
// objects, so the shell hands them in through `context`.
struct OverlayVideo {
    bool (*run)(void* context) = nullptr;
    void* context = nullptr;
    Direct3DTexture9* texture = nullptr;
};

// The scene values the stroke loop reads, after this frame's timeline step.
struct StrokeScene {
    float sceneClock;
    float masterScale;
    float phaseAccumulator;
    int32_t particleSeed;
};

// Every stroke of the list: its setup (four draws from the shared generator), its particles,
// the overlay video over it, and its trace lines while tracing is on.
void drawStrokes(Painting& painting, const StrokeList& list, const StrokeScene& scene,
                 const OverlayVideo& overlay);
