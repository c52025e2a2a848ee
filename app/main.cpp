// quillmere: runs the show. With a display it plays in a window with its music; otherwise, or
// with --headless, it runs on the headless backend (virtual clock, no window, no sound).
// --trace writes every call the show makes to the outside, one line each. With --capture or
// --screenshot the CPU renderer draws the frames on the virtual clock and they are written out.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/headless/frame_capture.h"
#include "backend/headless/headless_backend.h"
#include "backend/headless/mp3_duration.h"
#include "backend/recording/recording_backend.h"
#include "backend/soft/soft_graphics.h"
#include "options.h"
#ifdef QM_GL
#include "backend/egl/egl_context.h"
#include "backend/gl/gl_graphics.h"
#endif
#include "shell/show.h"
#ifdef QM_DESKTOP
#include "desktop.h"
#endif

namespace {

const char* const kUsage =
    "usage: quillmere [--headless] [--fps N] [--frames N] [--assets DIR] [--trace FILE]\n"
    "                 [--press KEY@SECONDS]... [--windowed] [--frame-stats] [--no-dialogs]\n"
    "                 [--threads N] [--scale N] [--renderer cpu|gl|auto] [--help]\n"
    "                 [--version]\n"
    "       quillmere --capture OUT [--from SEC] [--to SEC] [--overwrite] [--crf N] [options]\n"
    "       quillmere --screenshot SEC OUT.png [--overwrite] [options]\n"
    "\n"
    "Plays the show full screen with its music when a display is present (X11 or Wayland:\n"
    "DISPLAY or WAYLAND_DISPLAY). Escape or closing the window ends it; F1-F4, Num Lock and\n"
    "keypad / flip the debug views. Without a display, or with --headless, --fps, --frames or\n"
    "--press, it runs headless: a virtual clock at --fps frames per second of show time, no\n"
    "window and no sound, as fast as the machine allows. Without a display and with the\n"
    "environment variable QM_FALLBACK_CAPTURE set to a video file name (as `make show` does),\n"
    "the show is captured to that file instead.\n"
    "\n"
    "  --headless           run without window or sound\n"
    "  --windowed           play in a 640x480 window instead of full screen\n"
    "  --frame-stats        after playing in a window, print the frames shown and their rate\n"
    "  --no-dialogs         show start-up failures only on standard error, not as dialogs\n"
    "  --fps N              frames per second of the virtual clock, 1..1000 (default 60)\n"
    "  --frames N           stop after N frames of the show, as if the window were closed\n"
    "  --assets DIR         folder holding data/ and vid/ (default: the current folder if it\n"
    "                       has them, else the program's own folder)\n"
    "  --trace FILE         write every outside call to FILE ('-' for standard output), one\n"
    "                       line each, with a line 'frame K' before the K-th frame's calls\n"
    "  --press KEY@SECONDS  press and release KEY at that show time; KEY is one of F1 F2 F3\n"
    "                       F4 NUMLOCK DIVIDE ESCAPE (repeatable)\n"
    "  --threads N          threads that draw each frame, 1..256 (default: the processors the\n"
    "                       program may run on); every number gives the same pictures\n"
    "  --scale N            draw N times finer, 1..4 (default 1): the window's picture, or\n"
    "                       frames of 640N x 480N for --capture and --screenshot; the show\n"
    "                       itself runs exactly as at 1. The GL renderer draws a window's\n"
    "                       picture at the window's own pixel size whatever N is\n"
    "  --renderer cpu|gl|auto\n"
    "                       what draws the frames, in a window and headless: the CPU renderer\n"
    "                       (the reference), the GL renderer (OpenGL ES 3 on the GPU; headless\n"
    "                       through EGL), or auto (default): the GL renderer when a GPU is\n"
    "                       behind it, not a software driver (llvmpipe, softpipe, swrast).\n"
    "                       Where the GL renderer cannot start, auto says so in one line and\n"
    "                       draws with the CPU renderer; gl ends with status 1\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Capturing draws every frame with the chosen renderer on the virtual clock. Frame k is the\n"
    "k-th frame after the music starts (k = 1, 2, ...) and shows show time k*1000/fps ms.\n"
    "\n"
    "  --capture OUT        write the presented frames to OUT:\n"
    "                         a folder (created if needed): one RGB PNG per frame, named\n"
    "                         frame_KKKKKK.png by the frame's number k (zero-padded to 6);\n"
    "                         a file ending .mp4 or .mkv (H.264, yuv420p) or .webm (VP9),\n"
    "                         encoded by the ffmpeg program found on PATH, with the show's\n"
    "                         music (data/aaa.mp3) from the first frame's show time on, cut\n"
    "                         where the frames end;\n"
    "                         '-': raw frames on standard output, each 640*480*4 bytes:\n"
    "                         480 rows from the top, 640 pixels a row from the left, 4 bytes a\n"
    "                         pixel in the order R, G, B, A with A always 255; no header\n"
    "  --from SEC           capture only frames whose show time is SEC seconds or later; the\n"
    "                       frames before run undrawn, so each frame equals the same frame of\n"
    "                       a full capture (default 0)\n"
    "  --to SEC             capture only frames whose show time is before SEC seconds, then\n"
    "                       stop the show (default: until the show ends)\n"
    "  --overwrite          write into a folder that is not empty (same-named files are\n"
    "                       replaced, other files stay) or replace an existing file\n"
    "  --crf N              video quality for .mp4/.mkv (0..51) and .webm (0..63), lower is\n"
    "                       better (default 18)\n"
    "  --screenshot SEC OUT.png\n"
    "                       write one RGB PNG: the first frame whose show time is SEC\n"
    "                       seconds or later\n"
    "\n"
    "While capturing, a progress line is shown on standard error when it is a terminal, and a\n"
    "summary line, naming the renderer that drew the frames, is always written to standard\n"
    "error at the end.\n"
    "\n"
    "Exit status: 0 after a normal end, 2 for bad arguments or an output that exists, 1 when\n"
    "assets, the output or ffmpeg fail (a failing ffmpeg's own status is named).\n";

std::string programFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    std::string s(path);
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string currentFolder() {
    char path[PATH_MAX];
    return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string(".");
}

// Output paths are named from where the program was started; the show itself runs in its asset
// folder.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    return currentFolder() + "/" + path;
}

// The signal that asked a capture to stop (SIGTERM, SIGINT), or 0. The show stops at the next
// frame, so what has been written is either whole or removed.
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
}

void catchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// A capture's part in each frame: the renderer draws only the frames the window wants, the sink
// learns which frame comes, and a sink that cannot write stops the show.
class CaptureFrames : public FrameListener {
  public:
    CaptureFrames(Renderer& renderer, FrameCapture& sink, const CaptureWindow& window)
        : renderer_(renderer), sink_(sink), window_(window) {
        // Start-up's black frame is no frame of the show; nothing before the window is drawn.
        renderer_.setRasterizing(false);
    }

    void frameBegins(uint64_t k) override {
        renderer_.setRasterizing(window_.contains(k));
        sink_.frameBegun(k);
    }
    void showStopping() override { renderer_.setRasterizing(false); }
    bool failed() const override { return sink_.failed() || stopSignal != 0; }

  private:
    Renderer& renderer_;
    FrameCapture& sink_;
    CaptureWindow window_;
};

// The show stops by its clock at 140 s or when its music ends, whichever comes first.
uint64_t expectedLastFrame(const CaptureWindow& window, const std::string& music) {
    if (window.bounded()) return window.lastFrame();
    int64_t endMs = 140000;
    Mp3Duration duration;
    if (!music.empty() && readMp3Duration(music, &duration) && duration.rate > 0)
        endMs = std::min<int64_t>(endMs, duration.samples * 1000 / duration.rate);
    return uint64_t(endMs) * window.fps / 1000u;
}

// The GPU renderer and its context when the choice of renderer asks for them (both empty: the
// CPU renderer draws).
struct GpuRenderer {
#ifdef QM_GL
    // Declared first so that it goes last: the renderer's objects need the context to go.
    std::unique_ptr<EglContext> context;
    std::unique_ptr<GlGraphics> graphics;
#endif
    Renderer* renderer() const {
#ifdef QM_GL
        return graphics.get();
#else
        return nullptr;
#endif
    }
};

// Makes the GPU renderer for headless runs when `choice` wants it. False, after one line on
// standard error, when --renderer gl cannot be had; auto falls back to the CPU renderer, with a
// warning line when the GL renderer failed rather than merely ran on no GPU.
bool chooseHeadlessRenderer(RendererChoice choice, int scale, GpuRenderer* gpu) {
    if (choice == RendererChoice::kCpu) return true;
#if defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the GPU drivers' own allocations, kept until the process ends,
    // would read as leaks of every run: auto draws with the CPU renderer without asking them.
    if (choice == RendererChoice::kAuto) return true;
#endif
#ifdef QM_GL
    std::string error;
    gpu->context = EglContext::create(&error);
    if (gpu->context) {
        const GlContextInfo info = currentGlContext();
        if (!info.usable) {
            error = "it needs OpenGL ES 3.0, the context offers '" + info.version + "' (" +
                    info.renderer + ")";
        } else if (choice == RendererChoice::kAuto && info.software) {
            gpu->context.reset();
            return true;
        } else if (GlGraphics::canDraw(&error)) {
            GlOptions options;
            options.scale = scale;
            gpu->graphics = std::make_unique<GlGraphics>(options);
            return true;
        }
        gpu->context.reset();
    }
#else
    const std::string error = "this build has none";
#endif
    if (choice == RendererChoice::kGl) {
        std::fprintf(stderr, "quillmere: the GL renderer cannot start: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr,
                 "quillmere: warning: the GL renderer cannot start (%s); drawing with the CPU "
                 "renderer\n",
                 error.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const Options parsed = parseOptions(
        std::vector<std::string>(argv + 1, argv + argc),
        kFlagHeadless | kFlagWindowed | kFlagFrameStats | kFlagNoDialogs | kFlagFps | kFlagFrames |
            kFlagAssets | kFlagTrace | kFlagPress | kFlagCapture | kFlagScreenshot | kFlagFrom |
            kFlagTo | kFlagOverwrite | kFlagCrf | kFlagThreads | kFlagScale | kFlagRenderer,
        kUsage, "quillmere " QM_VERSION);
    HeadlessOptions options;
    if (parsed.threads > 0) options.threads = parsed.threads;
    options.scale = parsed.scale;
    options.fps = parsed.fps;
    options.presses = parsed.presses;
    const uint64_t frameLimit = parsed.frameLimit;
    std::string assets = parsed.assets;
    const std::string tracePath = parsed.trace;
    std::string capturePath = parsed.capture;
    const std::string screenshotPath = parsed.screenshot;
    const int64_t screenshotMs = parsed.screenshotMs;
    const int64_t fromMs = parsed.fromMs;
    const int64_t toMs = parsed.toMs;
    bool overwrite = parsed.has(kFlagOverwrite);
    const long crf = parsed.crf;
    const bool headlessAsked = parsed.has(kFlagHeadless | kFlagFps | kFlagFrames | kFlagPress);
    const bool windowed = parsed.has(kFlagWindowed);
    const bool frameStats = parsed.has(kFlagFrameStats);
    const bool dialogs = !parsed.has(kFlagNoDialogs);

    // Plain `quillmere` on a machine without a display: say so, then either capture to the
    // fallback file (`make show` asks for that) or run headless.
    std::string announcedPath;
    const bool playAsked = !headlessAsked && capturePath.empty() && screenshotMs < 0 &&
                           fromMs < 0 && toMs < 0 && !overwrite && crf < 0;
    bool desktop = false;
#ifdef QM_DESKTOP
    desktop = playAsked && desktopAvailable();
#endif
    if (playAsked && !desktop) {
        const char* fallback = std::getenv("QM_FALLBACK_CAPTURE");
        if (fallback != nullptr && *fallback != 0) {
            capturePath = fallback;
            overwrite = true;
            announcedPath = absolutePath(capturePath);
            std::fprintf(stderr,
                         "quillmere: no display to open a window on (neither DISPLAY nor "
                         "WAYLAND_DISPLAY works); capturing the show to %s instead\n",
                         announcedPath.c_str());
        } else {
            std::fprintf(stderr,
                         "quillmere: no display to open a window on (neither DISPLAY nor "
                         "WAYLAND_DISPLAY works); running headless, use --capture OUT to see "
                         "the show\n");
        }
    } else if (!playAsked && (windowed || frameStats || !dialogs)) {
        usageError("--windowed, --frame-stats and --no-dialogs belong to playing in a window");
    }
    const bool capturing = !capturePath.empty() || screenshotMs >= 0;
    if (!capturePath.empty() && screenshotMs >= 0)
        usageError("--capture and --screenshot cannot be used together");
    if (!capturing && (fromMs >= 0 || toMs >= 0 || overwrite || crf >= 0))
        usageError("--from, --to, --overwrite and --crf belong to --capture or --screenshot");
    if (headlessAsked && !capturing && parsed.has(kFlagScale))
        usageError("--scale belongs to --capture, --screenshot or playing in a window");
    if (screenshotMs >= 0 && (fromMs >= 0 || toMs >= 0))
        usageError("--screenshot takes its time itself; --from and --to belong to --capture");
    if (screenshotMs >= 0 && !isPngPath(screenshotPath))
        usageError("--screenshot writes a PNG file: OUT must end in .png, not '" + screenshotPath +
                   "'");

    CaptureOutput output;
    CaptureWindow window;
    window.fps = options.fps;
    output.overwrite = overwrite;
    output.scale = options.scale;
    if (!capturePath.empty()) {
        if (capturePath == "-") {
            output.kind = CaptureKind::kRaw;
            if (tracePath == "-")
                usageError("--capture - and --trace - cannot both use standard output");
            if (isatty(STDOUT_FILENO))
                usageError(
                    "--capture - writes binary frames; send standard output to a file or "
                    "a pipe");
        } else if (isVideoPath(capturePath)) {
            output.kind = CaptureKind::kVideo;
            output.path = absolutePath(capturePath);
        } else if (isPngPath(capturePath)) {
            usageError(
                "--capture writes a folder, a .mp4/.mkv/.webm video or '-'; for one "
                "picture use --screenshot SEC " +
                capturePath);
        } else {
            output.kind = CaptureKind::kFolder;
            output.path = absolutePath(capturePath);
        }
        if (crf >= 0 && output.kind != CaptureKind::kVideo)
            usageError("--crf only applies to a .mp4, .mkv or .webm capture");
        const long crfLimit = videoContainer(capturePath) == "webm" ? 63 : 51;
        if (crf > crfLimit)
            usageError("--crf for ." + videoContainer(capturePath) + " goes from 0 to " +
                       std::to_string(crfLimit) + ", not " + std::to_string(crf));
        output.crf = crf >= 0 ? int(crf) : 18;
        window.fromMs = fromMs >= 0 ? fromMs : 0;
        window.toMs = toMs;
        if (window.bounded() && window.lastFrame() == 0)
            usageError("no frame at " + std::to_string(window.fps) +
                       " fps has a show time from --from up to --to");
    } else if (screenshotMs >= 0) {
        if (crf >= 0) usageError("--crf only applies to a .mp4, .mkv or .webm capture");
        output.kind = CaptureKind::kPicture;
        output.path = absolutePath(screenshotPath);
        window.fromMs = screenshotMs;
        // Exactly one frame: the window ends just past the first frame's show time.
        window.toMs = int64_t(window.showMs(window.firstFrame())) + 1;
    }

    std::FILE* trace = nullptr;
    if (tracePath == "-") {
        trace = stdout;
    } else if (!tracePath.empty()) {
        trace = std::fopen(tracePath.c_str(), "w");
        if (trace == nullptr) {
            std::fprintf(stderr, "quillmere: cannot write %s: %s\n", tracePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    if (assets.empty()) assets = hasAssets(".") ? "." : programFolder();
    if (!hasAssets(assets)) {
        std::fprintf(stderr, "quillmere: no data/ and vid/ folders in %s (use --assets DIR)\n",
                     assets.c_str());
        return 1;
    }
    if (chdir(assets.c_str()) != 0) {
        std::fprintf(stderr, "quillmere: cannot enter %s\n", assets.c_str());
        return 1;
    }

#ifdef QM_DESKTOP
    if (desktop) {
        DesktopOptions play;
        play.windowed = windowed;
        play.dialogs = dialogs;
        play.trace = trace;
        play.frameStats = frameStats;
        play.threads = options.threads;
        play.scale = options.scale;
        play.renderer = parsed.renderer;
        int status = playOnDesktop(play);
        if (trace != nullptr) std::fflush(trace);
        return status;
    }
#endif

    GpuRenderer gpu;
    if (!chooseHeadlessRenderer(parsed.renderer, parsed.scale, &gpu)) return 1;
    options.renderer = gpu.renderer();
    HeadlessBackend headless(options);
    headless.frames().setFrameLimit(frameLimit);
    headless.frames().traceTo(trace);
    Backend services = headless.services();
    std::unique_ptr<FrameCapture> capture;
    std::unique_ptr<CaptureFrames> captureFrames;
    if (capturing) {
        // The music goes into a video only when the show itself can play it.
        const std::string music = currentFolder() + "/data/aaa.mp3";
        Mp3Duration duration;
        const bool hasMusic = readMp3Duration(music, &duration);
        if (output.kind == CaptureKind::kVideo && hasMusic) output.music = music;
        capture = std::make_unique<FrameCapture>(output, window, headless.clock());
        std::string error;
        int status = 1;
        if (!capture->prepare(&error, &status)) {
            std::fprintf(stderr, "quillmere: %s\n", error.c_str());
            return status;
        }
        if (isatty(STDERR_FILENO))
            capture->showProgress(stderr, expectedLastFrame(window, hasMusic ? music : ""));
        // A reader that goes away (ffmpeg, a pipe on standard output) is reported as a failed
        // write instead of ending the program unannounced.
        std::signal(SIGPIPE, SIG_IGN);
        // Likewise a file that grows past the size limit (a full quota): the write fails with a
        // reason instead of the signal ending the program and leaving half a file.
        std::signal(SIGXFSZ, SIG_IGN);
        catchStopSignals();
        headless.graphics().setSink(capture.get());
        captureFrames = std::make_unique<CaptureFrames>(headless.graphics(), *capture, window);
        headless.frames().setWindow(window);
        headless.frames().addListener(captureFrames.get());
    }
    if (trace != nullptr) {
        // The recorder sits in front of the chosen services and writes each call as it
        // returns; a long run keeps nothing in memory.
        static RecordingBackend recorder(services);
        recorder.keepLines(false);
        recorder.writeTo(trace);
        useBackend(recorder.services());
    } else {
        useBackend(services);
    }
    int status = runShow(nullptr, nullptr, "", 1);
    if (trace != nullptr) std::fflush(trace);
    if (!capture) return status;
    headless.graphics().finishFrames();

    const int stoppedBy = stopSignal;
    if (stoppedBy != 0)
        capture->stop(std::string("the capture was interrupted by ") + strsignal(stoppedBy));
    std::string error;
    if (!capture->finish(&error)) {
        std::fprintf(stderr, "quillmere: %s\n", error.c_str());
        // As the shell reports a program a signal ended.
        return stoppedBy != 0 ? 128 + stoppedBy : 1;
    }
    if (status != 0) return status;
    if (capture->framesWritten() == 0) {
        std::fprintf(stderr,
                     "quillmere: the show ended at %.3f s of show time without drawing a frame "
                     "at %.3f s or later\n",
                     double(headless.clock().showMs()) / 1000.0,
                     double(window.showMs(window.firstFrame())) / 1000.0);
        return 1;
    }
    std::fprintf(stderr, "quillmere: %s, drawn by %s\n", capture->summary().c_str(),
                 headless.graphics().name().c_str());
    if (!announcedPath.empty()) std::printf("%s\n", announcedPath.c_str());
    return 0;
}
