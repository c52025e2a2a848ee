// The CPU renderer on the show's own frames, against the memory bandwidth of the same machine
// in the same run.
//
// The show runs on the virtual clock at 60 fps over a fixed asset set (the default content, or
// the folder given as the first argument). Runs of consecutive frames at chosen show times are
// drawn; all others run with rasterizing off, so the drawn frames are exactly those of a full
// capture. A frame's time is the time between the moment its pixels were ready and the moment
// the previous frame's were: what a capture or a window gets in the long run, where the renderer
// draws one frame while the show computes the next. (The first frame of each run only starts
// the clock.) The renderer's count of shaded pixels over the same time gives the number of
// full-screen layers it blended. The reference is one 640 × 480 × 4-byte read-modify-write
// pass, the least any renderer must do per layer; the ratio says how far the renderer is from
// that floor, whatever the machine.
//
// Modes: the scalar reference path on one thread, the fast path on one thread, on two threads,
// and on every processor the program may run on (the program's default), and the GL renderer on
// whatever OpenGL ES driver EGL offers (Mesa's llvmpipe on a machine without a GPU). A GL frame is
// ready at the end of its read-back into memory (glFinish after Present), a CPU frame when the
// renderer hands it to its sink; the GL renderer's ratio is against the two-thread fast path on
// the same frames. `--scale N` draws every mode's frames at N times the size; `--at T,T,...`
// draws only the runs at those show times.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/headless/headless_backend.h"
#include "backend/soft/soft_device.h"
#include "backend/soft/soft_graphics.h"
#include "shell/show.h"
#ifdef QM_GL
#include "backend/egl/egl_context.h"
#include "backend/gl/gl_device.h"
#include "backend/gl/gl_graphics.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

const uint32_t kFps = 60;

struct Sample {
    double showSeconds = 0;
    double frameMs = 0;
    double layers = 0;
};

// Drawn frames: a run from each chosen show time, the first of which only starts the clock.
constexpr uint64_t kRun = 13;

bool wanted(uint64_t frame, const std::vector<double>& times) {
    for (double t : times) {
        uint64_t first = uint64_t(t * kFps);
        if (frame >= first && frame < first + kRun) return true;
    }
    return false;
}

class BenchBackend : public HeadlessBackend, public FrameSink {
  public:
    // `shaded` counts the pixels the renderer has shaded so far (0 where it does not count).
    BenchBackend(HeadlessOptions options, Renderer& renderer, std::function<uint64_t()> shaded,
                 std::vector<double> times)
        : HeadlessBackend(std::move(options)),
          renderer_(renderer),
          shaded_(std::move(shaded)),
          times_(std::move(times)) {}

    BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                      UINT removeFlags) override {
        BOOL result =
            HeadlessBackend::PeekMessageA(message, window, filterMin, filterMax, removeFlags);
        uint64_t frame = clock().frame();
        if (frame != frameSeen_) {
            frameSeen_ = frame;
            renderer_.setRasterizing(wanted(frame, times_));
        }
        return result;
    }

    void presentFrame(const uint32_t*, int width, int height) override {
        frameDone(frameSeen_, width, height);
    }
    // Renderers that hand frames over late (the CPU renderer with workers) get only the drawn
    // frames' numbers.
    uint64_t presentingFrame() const override {
        return wanted(frameSeen_, times_) ? frameSeen_ : 0;
    }
    void presentLateFrame(uint64_t frame, const uint32_t*, int width, int height) override {
        frameDone(frame, width, height);
    }

    // The pixels of `frame` are ready.
    void frameDone(uint64_t frame, int width, int height) {
        // The black frame of the start-up is presented before the music starts: not timed.
        if (!wanted(frame, times_) || frame <= lastFrame_) return;
        const Clock::time_point now = Clock::now();
        const uint64_t pixels = shaded_();
        if (frame == lastFrame_ + 1) {
            Sample s;
            s.showSeconds = double(frame) / kFps;
            s.frameMs = std::chrono::duration<double, std::milli>(now - lastTime_).count();
            s.layers = double(pixels - lastPixels_) / (double(width) * height);
            samples.push_back(s);
        }
        lastFrame_ = frame;
        lastTime_ = now;
        lastPixels_ = pixels;
    }
    uint64_t currentFrame() const { return frameSeen_; }

    std::vector<Sample> samples;

  private:
    Renderer& renderer_;
    std::function<uint64_t()> shaded_;
    std::vector<double> times_;
    uint64_t frameSeen_ = 0;
    uint64_t lastFrame_ = 0;
    Clock::time_point lastTime_;
    uint64_t lastPixels_ = 0;
};

std::vector<Sample> runShowOnce(Renderer& renderer, std::function<uint64_t()> shaded,
                                const std::vector<double>& times, BenchBackend** running) {
    resetShowState();
    HeadlessOptions options;
    options.fps = kFps;
    options.messages = stderr;
    options.renderer = &renderer;
    BenchBackend headless(options, renderer, std::move(shaded), times);
    if (running != nullptr) *running = &headless;
    renderer.setSink(&headless);
    useBackend(headless.services());
    runShow(nullptr, nullptr, "", 1);
    renderer.finishFrames();
    if (running != nullptr) *running = nullptr;
    return headless.samples;
}

std::vector<Sample> runSoft(const SoftOptions& options, const std::vector<double>& times) {
    SoftGraphics soft(options);
    return runShowOnce(
        soft, [&soft] { return soft.device() != nullptr ? soft.device()->pixelsShaded() : 0; },
        times, nullptr);
}

// One read-modify-write pass over a 640 × 480 frame: the floor of a blended layer.
double layerReferenceMs() {
    std::vector<uint32_t> frame(640 * 480, 0x80402010u);
    std::vector<double> runs;
    for (int r = 0; r < 200; ++r) {
        auto start = Clock::now();
        uint32_t add = uint32_t(r) | 1u;
        for (uint32_t& p : frame) p = ((p >> 1) & 0x7F7F7F7Fu) + add;
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    volatile uint32_t sink = frame[12345];
    (void)sink;
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

const char* const kUsage =
    "usage: render_bench [ASSETS] [--fast-only] [--threads N] [--scale N] [--at T,T,...]\n"
    "  ASSETS       the asset folder (default: the default content of this build)\n"
    "  --fast-only  skip the slow scalar reference run\n"
    "  --threads N  run only the fast path, on N threads (1 to 256)\n"
    "  --scale N    draw the frames at N times the size (1 to 4)\n"
    "  --at T,...   draw only the runs at these show times (seconds, 0 to 140)\n";

int main(int argc, char** argv) {
    std::string assets = QM_BENCH_ASSETS;
    bool fastOnly = false;
    int scale = 1;
    std::vector<double> only;
    int onlyThreads = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fast-only") == 0) {
            fastOnly = true;
        } else if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
            scale = std::atoi(argv[++i]);
            if (scale < 1 || scale > 4) {
                std::fprintf(stderr, "render_bench: --scale needs 1 to 4\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            onlyThreads = std::atoi(argv[++i]);
            if (onlyThreads < 1 || onlyThreads > 256) {
                std::fprintf(stderr, "render_bench: --threads needs 1 to 256\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--at") == 0 && i + 1 < argc) {
            for (char* at = argv[++i]; *at != '\0';) {
                char* end = nullptr;
                const double t = std::strtod(at, &end);
                if (end == at || t < 0 || t > 140 || (*end != ',' && *end != '\0')) {
                    std::fprintf(stderr,
                                 "render_bench: --at needs show times 0 to 140, "
                                 "separated by commas\n");
                    return 2;
                }
                only.push_back(t);
                at = *end == ',' ? end + 1 : end;
            }
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", kUsage);
            return 0;
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "render_bench: unknown option %s (see --help)\n", argv[i]);
            return 2;
        } else {
            assets = argv[i];
        }
    }
    if (chdir(assets.c_str()) != 0) {
        std::fprintf(stderr, "render_bench: cannot enter %s (build the default content first)\n",
                     assets.c_str());
        return 1;
    }
    // Heavy frames: the second stroke's imprints grow to several times the screen at the very
    // start and again late in the show; typical frames in between.
    const std::vector<double> heavy = {0.5, 1.5, 82, 100, 120, 135};
    const std::vector<double> typical = {20, 45, 70};
    std::vector<double> times = heavy;
    times.insert(times.end(), typical.begin(), typical.end());
    if (!only.empty()) times = only;

    const double layerMs = layerReferenceMs();
    std::printf("reference: one 640x480x4 read-modify-write pass = %.3f ms (%.2f ns/pixel)\n",
                layerMs, layerMs * 1e6 / (640.0 * 480.0));

    struct Mode {
        std::string name;
        bool reference;
        int threads;
        bool gl;
    };
    const int cores = availableCores();
    const Mode modes[] = {
        {"scalar reference, 1 thread", true, 1, false},
        {"fast path, 1 thread", false, 1, false},
        {"fast path, 2 threads", false, 2, false},
        {"fast path, every core (" + std::to_string(cores) + " threads)", false, cores, false},
        {"GL renderer", false, 0, true}};
    std::vector<double> cpuMs, cpuLayers;
    bool ranOnly = false;
    for (const Mode& mode : modes) {
        if (fastOnly && mode.reference) continue;
        if (onlyThreads != 0) {
            if (ranOnly || mode.reference || mode.gl || mode.threads != onlyThreads) continue;
            ranOnly = true;
        }
        std::vector<Sample> samples;
        std::string name = mode.name;
        if (!mode.gl) {
            SoftOptions options;
            options.reference = mode.reference;
            options.threads = mode.threads;
            options.scale = scale;
            samples = runSoft(options, times);
        } else {
#ifdef QM_GL
            std::string error;
            auto context = EglContext::create(&error);
            if (!context || !GlGraphics::canDraw(&error)) {
                std::printf("\nGL renderer: cannot start: %s\n", error.c_str());
                continue;
            }
            BenchBackend* running = nullptr;
            GlOptions options;
            options.scale = scale;
            // Timed to the end of the frame's read-back.
            options.presented = [&running](GlDevice& device) {
                glFinish();
                if (running != nullptr)
                    running->frameDone(running->currentFrame(), device.targetWidth(),
                                       device.targetHeight());
            };
            {
                GlGraphics gl(options);
                name = "GL renderer " + gl.name().substr(std::strlen("the GL renderer ")) +
                       ", scale " + std::to_string(scale);
                samples = runShowOnce(
                    gl, [] { return uint64_t(0); }, times, &running);
            }
            // The layers are the CPU renderer's count for the same frames.
            for (size_t i = 0; i < samples.size() && i < cpuLayers.size(); ++i)
                samples[i].layers = cpuLayers[i];
#else
            std::printf("\nGL renderer: not in this build\n");
            continue;
#endif
        }
        std::vector<double> heavyMs, typicalMs, all;
        double worst = 0, pixels = 0, ms = 0;
        for (const Sample& s : samples) {
            bool isHeavy = false;
            for (double t : heavy) isHeavy |= s.showSeconds >= t && s.showSeconds < t + 1;
            (isHeavy ? heavyMs : typicalMs).push_back(s.frameMs);
            all.push_back(s.frameMs);
            worst = std::max(worst, s.frameMs);
            pixels += s.layers * 640 * 480;
            ms += s.frameMs;
        }
        double heavyLayers = 0, typicalLayers = 0;
        int nh = 0, nt = 0;
        for (const Sample& s : samples) {
            bool isHeavy = false;
            for (double t : heavy) isHeavy |= s.showSeconds >= t && s.showSeconds < t + 1;
            if (isHeavy)
                heavyLayers += s.layers, ++nh;
            else
                typicalLayers += s.layers, ++nt;
        }
        heavyLayers /= std::max(nh, 1);
        typicalLayers /= std::max(nt, 1);
        std::printf("\n%s (%zu frames drawn)\n", name.c_str(), samples.size());
        if (!typicalMs.empty()) {
            std::printf("  typical: median %.2f ms, %.1f layers, ratio to bandwidth floor %.2f\n",
                        median(typicalMs), typicalLayers,
                        median(typicalMs) / (typicalLayers * layerMs));
        }
        if (!heavyMs.empty()) {
            std::printf("  heavy:   median %.2f ms, %.1f layers, ratio to bandwidth floor %.2f\n",
                        median(heavyMs), heavyLayers, median(heavyMs) / (heavyLayers * layerMs));
        }
        std::printf(
            "  all:     median %.2f ms, worst frame %.2f ms; %.0f Mpixels shaded per "
            "second\n",
            median(all), worst, pixels / (ms * 1e3));
        if (mode.gl && !cpuMs.empty()) {
            std::printf("  against the fast path on 2 threads: median %.2f x, worst %.2f x\n",
                        median(all) / median(cpuMs),
                        worst / *std::max_element(cpuMs.begin(), cpuMs.end()));
        }
        if (!mode.gl && mode.threads == 2) {
            cpuMs = all;
            cpuLayers.clear();
            for (const Sample& s : samples) cpuLayers.push_back(s.layers);
        }
        std::printf("  per show time (median ms / layers):");
        for (double t : times) {
            std::vector<double> ms, layers;
            for (const Sample& s : samples) {
                if (s.showSeconds < t || s.showSeconds >= t + 1) continue;
                ms.push_back(s.frameMs);
                layers.push_back(s.layers);
            }
            std::printf(" %.1fs=%.2f/%.0fL", t, median(ms), median(layers));
        }
        std::printf("\n");
    }
    return 0;
}
