#include "desktop.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "backend/backend.h"
#include "backend/recording/recording_backend.h"
#include "backend/sdl/sdl_backend.h"
#include "backend/soft/soft_graphics.h"
#include "shell/show.h"

namespace {

bool nonEmpty(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

bool desktopAvailable() {
#if defined(__linux__) || defined(__FreeBSD__)
    if (!nonEmpty(std::getenv("DISPLAY")) && !nonEmpty(std::getenv("WAYLAND_DISPLAY")))
        return false;
#endif
    // A display named but not reachable (a stale DISPLAY) counts as none. SDL then falls back to
    // a driver without any screen, which counts only when asked for by name (SDL_VIDEODRIVER).
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool screenless = driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
                            std::strcmp(driver, "dummy") == 0;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return !screenless || nonEmpty(std::getenv("SDL_VIDEODRIVER"));
}

int playOnDesktop(const DesktopOptions& options) {
    // Declared first so that it goes last: the music's end reaches the show through it from the
    // audio thread until the desktop services have stopped that thread.
    std::unique_ptr<RecordingBackend> recorder;

    SdlOptions sdlOptions;
    sdlOptions.windowed = options.windowed;
    sdlOptions.dialogs = options.dialogs;
    SdlBackend desktop(sdlOptions);
    desktop.frames().traceTo(options.trace);
    if (!desktop.videoReady()) {
        std::fprintf(stderr, "quillmere: cannot open the display: %s\n", SDL_GetError());
        return 1;
    }
    SoftOptions softOptions;
    softOptions.threads = options.threads;
    softOptions.scale = options.scale;
    softOptions.sink = &desktop;
    SoftGraphics graphics(softOptions);

    const Backend services = desktop.services(&graphics);
    if (options.trace != nullptr) {
        recorder = std::make_unique<RecordingBackend>(services);
        recorder->keepLines(false);
        recorder->writeTo(options.trace);
        useBackend(recorder->services());
    } else {
        useBackend(services);
    }
    const int status = runShow(nullptr, nullptr, "", 1);
    useBackend(Backend{});
    if (options.trace != nullptr) std::fflush(options.trace);

    if (options.frameStats) {
        const FrameStats stats = desktop.frameStats();
        std::fprintf(stderr,
                     "quillmere: %d frames in %.1f s; frame rate lowest %.1f, median %.1f, "
                     "highest %.1f per second\n",
                     stats.frames, stats.seconds, stats.minFps, stats.medianFps, stats.maxFps);
    }
    return status;
}
