#include "shell/show.h"

#include "backend/audio.h"
#include "backend/graphics.h"
#include "backend/window_system.h"
#include "foundation/vector.h"
#include "painting/brush.h"
#include "painting/load_whole_file.h"
#include "painting/particles.h"
#include "painting/random_source.h"
#include "painting/render_state_cache.h"
#include "painting/strokes.h"
#include "painting/tracks.h"
#include "platform/d3dx_math.h"
#include "platform/display.h"
#include "platform/font_writer.h"
#include "platform/globals.h"
#include "platform/key_checker.h"
#include "platform/user_input.h"
#include "platform/window_functions.h"
#include "shell/overlay.h"
#include "shell/show_state.h"
#include "shell/timer.h"
#include "shell/video_brush.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

const char kTitle[] = "Quillmere";
const char kOverlayVideoPath[] = "vid\\kasi.vid";
const char kBackgroundVideoPath[] = "vid\\vemla.vid";
const char kMusicPath[] = "data\\aaa.mp3";
const int32_t kPreRollMs = 3000;

int32_t tick() {
    // The Timer works on the tick as a signed 32-bit count; its differences wrap correctly.
    return static_cast<int32_t>(GetTickCount());
}

bool stillRunning() {
    return running.load(std::memory_order_relaxed);
}

// What the overlay video step needs; the stroke loop calls it after each stroke.
struct OverlayContext {
    const ShowState* state;
    const Timer* timer;
    VideoDecoder* decoder;
    const VideoImage* image;
    YUVSurface* surface;
    VideoBrush* brush;
};

bool runOverlayVideo(void* context) {
    auto* c = static_cast<OverlayContext*>(context);
    return overlayVideoStep(*c->state, *c->timer, *c->decoder, *c->image, *c->surface, *c->brush);
}

// A video file held whole in memory for the run; freed with the other objects at shutdown.
struct LoadedVideo {
    explicit LoadedVideo(const char* path) { image.bytes = loadWholeFile(path, &image.size); }
    ~LoadedVideo() { delete[] image.bytes; }
    LoadedVideo(const LoadedVideo&) = delete;
    LoadedVideo& operator=(const LoadedVideo&) = delete;
    VideoImage image;
};

}  // namespace

void onMusicEnd(HSYNC /*handle*/, DWORD /*channel*/, DWORD /*data*/, void* /*user*/) {
    running.store(false, std::memory_order_relaxed);
}

void resetShowState() {
    resetGlobals();
    randomSource().seed(1);
    setNoiseState(kNoiseStateStart);
}

int runShow(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
    const int created = createAppWindow(instance, previous, commandLine, showCommand, kTitle,
                                        &windowHandle, windowWidth, windowHeight);
    // Without a window nothing else is made. The window creation reports that as 0, which as
    // the process status would read as success.
    if (created <= 0) return created == 0 ? 1 : created;

    display = new Display();
    if (display->init(windowHandle, windowWidth, windowHeight) < 0) {
        fatalError("D3D init error", true);
    }
    device = display->getDevice();

    {
        // Every object below lives until the end of this block; C++ destroys them in the reverse
        // of their creation, which is the show's shutdown order.
        RenderStateCache cache(device);
        // One black frame at once: the screen stays black through the pre-roll.
        display->beginFrame(0);
        display->endFrame();

        FontWriter font(device, windowWidth, windowHeight, "Arial", 18, 0, FW_BOLD, false);
        Timer timer;

        Vector<D3DXVECTOR2> track1Points;
        Vector<D3DXVECTOR2> track2Points;
        loadTracks(&track1Points, &track2Points);

        UserInput input;
        input.init(windowHandle);
        KeyChecker keyChecker;
        input.add(&keyChecker);

        Brush particleBrush(device);
        display->setCulling(false);
        display->setDepthTest(false);

        D3DXLine* lineDrawer = nullptr;
        if (D3DXCreateLine(device, &lineDrawer) < 0) {
            fatalError("Could not create line drawer.", true);
        }
        Vector<D3DXVECTOR3> traceList;
        traceList.grow(2000);

        Brush backdropBrush(device);
        setWhiteCorners(backdropBrush);
        Brush markerBrush(device);
        markerBrush.setCorners(backdropBrush.corners);

        StrokeList strokes;

        Painting painting;
        painting.device = device;
        painting.cache = &cache;
        painting.backdropBrush = &backdropBrush;
        painting.particleBrush = &particleBrush;
        painting.markerBrush = &markerBrush;
        painting.lineDrawer = lineDrawer;
        painting.traceList = &traceList;
        painting.detailTexture = display->loadTexture("data//brushes//brush2.jpg");
        painting.brushTextures[0] = display->loadTexture("data//brushes//brush1.jpg");
        painting.brushTextures[1] = display->loadTexture("data//brushes//zor_brush2.jpg");
        painting.brushTextures[2] = display->loadTexture("data//brushes//brush2.jpg");
        painting.brushTextures[3] = display->loadTexture("data//brushes//zor_brush4.jpg");
        painting.paperTexture = display->loadTexture("data//paper1.jpg");

        VideoDecoder decoder;
        decoder.init();
        const LoadedVideo overlayVideo(kOverlayVideoPath);
        const LoadedVideo backgroundVideo(kBackgroundVideoPath);
        const VideoImage& overlayImage = overlayVideo.image;
        const VideoImage& backgroundImage = backgroundVideo.image;
        // A file that is there but is no video would otherwise give a show without its video
        // and a surface of no size; it is as fatal as a missing one, before any music plays.
        if (decoder.open(overlayImage) < 0) fatalError(kOverlayVideoPath, true);
        // The background video gets the same check; the overlay is opened again afterwards
        // because the decoder keeps the frame size of the image it opened last.
        if (decoder.open(backgroundImage) < 0) fatalError(kBackgroundVideoPath, true);
        decoder.open(overlayImage);
        YUVSurface surface(decoder.width(), decoder.height());
        VideoBrush videoBrush(device, &decoder);

        // Unchecked: without sound the show still runs and ends by its timeline.
        BASS_Init(-1, 44100, 0, GetForegroundWindow());
        const HSTREAM music = BASS_StreamCreateFile(FALSE, kMusicPath, 0, 0, 0);
        BASS_ChannelSetSync(music, BASS_SYNC_END, 0, onMusicEnd, nullptr);

        ShowState state;
        state.phaseAccumulator = 0.0f;
        state.particleSeed = 0;
        state.crossingCounter = 0;
        state.masterScale = 1.0f;
        const float aspect = static_cast<float>(windowWidth) / static_cast<float>(windowHeight);

        // The pre-roll: no messages, no drawing.
        timer.reset(tick());
        while (stillRunning()) {
            timer.update(tick());
            if (timer.elapsedMs > kPreRollMs) break;
        }

        BASS_Start();
        BASS_StreamPlay(music, FALSE, BASS_SAMPLE_LOOP);
        timer.reset(tick());
        state.sceneClock = 0.0f;
        state.levelsToggle = false;
        state.noiseToggle = false;
        state.runBlurToggle = false;
        state.columnBlurToggle = false;
        state.sharpenToggle = false;

        OverlayContext overlayContext{&state,        &timer,   &decoder,
                                      &overlayImage, &surface, &videoBrush};
        OverlayVideo overlay;
        overlay.run = runOverlayVideo;
        overlay.context = &overlayContext;
        overlay.texture = videoBrush.displayTexture;

        POINT cursor = {0, 0};
        while (stillRunning()) {
            if (pumpMessage() != 0) break;
            timer.update(tick());
            input.poll();

            POINT read = cursor;
            // A failed read keeps the last known position.
            if (GetCursorPos(&read) && ScreenToClient(windowHandle, &read)) cursor = read;
            DIMOUSESTATE mouseState = {};
            input.getState(&mouseState);
            const D3DXVECTOR2 cursorWorld =
                cursorWorldPosition(cursor.x, cursor.y, windowWidth, windowHeight);

            const StrokePosition position =
                rebuildStrokes(strokes, state.sceneClock, track1Points, track2Points);
            state.strokeIndex = position.strokeIndex;
            state.inter = position.inter;

            if (timelineStep(state, timer)) break;

            display->beginFrame(0xFFFFFFFF);
            D3DXMATRIX view;
            D3DXMatrixIdentity(&view);
            D3DXMATRIX projection;
            D3DXMatrixScaling(&projection, 1.0f, -aspect, 1.0f);
            device->SetTransform(D3DTS_VIEW, &view);
            device->SetTransform(D3DTS_PROJECTION, &projection);
            painting.projection = projection;

            drawPaper(painting);
            backgroundVideoStep(state, timer, decoder, backgroundImage, surface, videoBrush);
            drawBackgroundVideo(painting, videoBrush.displayTexture);

            const StrokeScene scene{state.sceneClock, state.masterScale, state.phaseAccumulator,
                                    state.particleSeed};
            drawStrokes(painting, strokes, scene, overlay);

            phaseStep(state, timer);
            drawMarkers(painting, cursorWorld.x, cursorWorld.y);
            overlayStep(font, timer, state, strokes.strokes.count, painting.particleCount);
            display->endFrame();
        }

        delete display;
        display = nullptr;
        DestroyWindow(windowHandle);
    }
    return 0;
}
