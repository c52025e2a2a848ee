#include "desktop.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "backend/backend.h"
#include "backend/recording/recording_backend.h"
#include "backend/sdl/sdl_backend.h"
#include "backend/soft/soft_graphics.h"
#include "shell/show.h"
#ifdef QM_GL
#include "backend/gl/gl_device.h"
#include "backend/gl/gl_graphics.h"
#include "backend/sdl/letterbox.h"
#endif

namespace {

bool nonEmpty(const char* value) {
    return value != nullptr && value[0] != '\0';
}

#ifdef QM_GL
// Whether an OpenGL ES 3 context of a window here can run the GL renderer, tried on a small
// hidden window; a one-line reason when not, and whether the context is a software one.
bool windowCanDrawGl(std::string* error, bool* software) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_Window* window = SDL_CreateWindow("", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (window == nullptr) {
        *error = std::string("no OpenGL window: ") + SDL_GetError();
        return false;
    }
    bool ok = false;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context == nullptr || SDL_GL_MakeCurrent(window, context) != 0) {
        *error = std::string("no OpenGL ES 3 context: ") + SDL_GetError();
    } else {
        const GlContextInfo info = currentGlContext();
        *software = info.software;
        if (!info.usable) {
            *error = "it needs OpenGL ES 3.0, the context offers '" + info.version + "' (" +
                     info.renderer + ")";
        } else {
            ok = GlGraphics::canDraw(error);
        }
    }
    if (context != nullptr) SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    return ok;
}

// Draws the GL renderer's finished frame into the window, letterboxed at the window's pixel
// size, and makes the next frame that size.
void showGlFrame(SdlBackend& desktop, GlDevice& device) {
    SDL_Window* window = desktop.sdlWindow();
    if (window == nullptr) return;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window, &width, &height);
    const Letterbox box = fitPicture(width, height, device.width(), device.height());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (box.width > 0 && box.height > 0) {
        // OpenGL counts rows from the bottom.
        device.drawFrameTo(box.x, height - box.y - box.height, box.width, box.height);
        device.setTargetSize(box.width, box.height);
    }
    SDL_GL_SwapWindow(window);
    desktop.framePresented();
}
#endif

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
    bool gl = false;
#ifdef QM_GL
    if (options.renderer != RendererChoice::kCpu) {
        std::string error;
        bool software = false;
        const bool drawable = windowCanDrawGl(&error, &software);
        if (!drawable && options.renderer == RendererChoice::kGl) {
            std::fprintf(stderr, "quillmere: the GL renderer cannot start: %s\n", error.c_str());
            return 1;
        }
        if (!drawable) {
            std::fprintf(stderr,
                         "quillmere: warning: the GL renderer cannot start (%s); drawing with "
                         "the CPU renderer\n",
                         error.c_str());
        }
        gl = drawable && (options.renderer == RendererChoice::kGl || !software);
    }
#else
    if (options.renderer == RendererChoice::kGl) {
        std::fprintf(stderr, "quillmere: the GL renderer cannot start: this build has none\n");
        return 1;
    }
#endif
    desktop.useOpenGl(gl);
    std::unique_ptr<Renderer> graphics;
#ifdef QM_GL
    if (gl) {
        GlOptions glOptions;
        glOptions.presented = [&desktop](GlDevice& device) { showGlFrame(desktop, device); };
        graphics = std::make_unique<GlGraphics>(glOptions);
    }
#endif
    if (!graphics) {
        SoftOptions softOptions;
        softOptions.threads = options.threads;
        softOptions.scale = options.scale;
        softOptions.sink = &desktop;
        graphics = std::make_unique<SoftGraphics>(softOptions);
    }

    const Backend services = desktop.services(graphics.get());
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
                     "highest %.1f per second; drawn by %s\n",
                     stats.frames, stats.seconds, stats.minFps, stats.medianFps, stats.maxFps,
                     graphics->name().c_str());
    }
    return status;
}
