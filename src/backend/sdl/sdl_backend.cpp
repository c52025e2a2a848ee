#include "backend/sdl/sdl_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "backend/sdl/scancode_table.h"
#include "backend/sdl/sdl_messages.h"

namespace {

// How often a caller that only reads the tick (the pre-roll) still gets the window's events
// handled, so that it repaints and does not look hung.
constexpr uint32_t kPumpIntervalMs = 50;

}  // namespace

SdlBackend::SdlBackend(SdlOptions options)
    : EmulatedWindowSystem(options.messages), options_(options) {
    // The show stays on screen when another window takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    videoReady_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

SdlBackend::~SdlBackend() {
    closeAudio();
    closeWindow();
    if (videoReady_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

Backend SdlBackend::services(GraphicsSystem* graphics) {
    Backend services;
    services.graphics = graphics;
    services.windows = this;
    services.input = this;
    services.audio = this;
    services.frames = &frames();
    return services;
}

// ---- presentation ----

void SdlBackend::presentFrame(const uint32_t* pixels, int width, int height) {
    if (renderer_ == nullptr || pixels == nullptr || width <= 0 || height <= 0) return;
    int textureWidth = 0, textureHeight = 0;
    if (texture_ != nullptr)
        SDL_QueryTexture(texture_, nullptr, nullptr, &textureWidth, &textureHeight);
    if (texture_ == nullptr || textureWidth != width || textureHeight != height) {
        if (texture_ != nullptr) SDL_DestroyTexture(texture_);
        // The back buffer's alpha is not part of the picture: the texture ignores the top byte.
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                     width, height);
        if (texture_ == nullptr) return;
    }
    SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
    framePresented_ = true;
    repaint();
    framePresented();
}

void SdlBackend::framePresented() {
    if (musicStarted_) presentTimes_.push_back(SDL_GetPerformanceCounter());
}

void SdlBackend::repaint() {
    if (renderer_ == nullptr) return;
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    if (framePresented_ && texture_ != nullptr) {
        int outputWidth = 0, outputHeight = 0, width = 0, height = 0;
        SDL_GetRendererOutputSize(renderer_, &outputWidth, &outputHeight);
        SDL_QueryTexture(texture_, nullptr, nullptr, &width, &height);
        const Letterbox box = fitPicture(outputWidth, outputHeight, width, height);
        const SDL_Rect target{box.x, box.y, box.width, box.height};
        SDL_RenderCopy(renderer_, texture_, nullptr, &target);
    }
    SDL_RenderPresent(renderer_);
}

FrameStats SdlBackend::frameStats() const {
    FrameStats stats;
    stats.frames = static_cast<int>(presentTimes_.size());
    if (presentTimes_.size() < 2) return stats;
    const double frequency = static_cast<double>(SDL_GetPerformanceFrequency());
    std::vector<double> rates;
    for (size_t i = 1; i < presentTimes_.size(); ++i) {
        const uint64_t ticks = presentTimes_[i] - presentTimes_[i - 1];
        if (ticks > 0) rates.push_back(frequency / static_cast<double>(ticks));
    }
    stats.seconds = static_cast<double>(presentTimes_.back() - presentTimes_.front()) / frequency;
    if (rates.empty()) return stats;
    std::sort(rates.begin(), rates.end());
    stats.minFps = rates.front();
    stats.maxFps = rates.back();
    const size_t middle = rates.size() / 2;
    stats.medianFps =
        rates.size() % 2 != 0 ? rates[middle] : (rates[middle - 1] + rates[middle]) / 2.0;
    return stats;
}

// ---- events ----

void SdlBackend::pumpEvents() {
    if (!videoReady_) return;
    lastPumpMs_ = SDL_GetTicks();
    SDL_Event event;
    while (SDL_PollEvent(&event)) queueEvent(event);
    restartLoopingMusic();
}

void SdlBackend::queueEvent(const SDL_Event& event) {
    switch (event.type) {
        case SDL_KEYDOWN:
            if (event.key.repeat == 0) {
                const int dik = dikFromScancode(event.key.keysym.scancode);
                if (dik != 0) latchedKeys_[dik] = true;
            }
            break;
        case SDL_MOUSEMOTION:
            motionX_ += event.motion.xrel;
            motionY_ += event.motion.yrel;
            break;
        case SDL_MOUSEWHEEL:
            // One notch of the wheel is 120 units, as the platform counts it.
            wheel_ += event.wheel.y * 120;
            break;
        case SDL_MOUSEBUTTONDOWN:
            latchedButtons_ |= SDL_BUTTON(event.button.button);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                repaint();
            }
            break;
        default:
            break;
    }
    if (shownWindow() == nullptr) return;
    MSG message{};
    if (!translateEvent(event, shownWindow(), &message)) return;
    // One pending cursor request or close is enough; more would only hold back later messages.
    if (message.message == WM_SETCURSOR || message.message == WM_CLOSE) {
        for (const MSG& waiting : messages().waiting()) {
            if (waiting.message == message.message) return;
        }
    }
    message.time = tick();
    GetCursorPos(&message.pt);
    messages().post(message);
}

// ---- window system ----

bool SdlBackend::openWindow(const char* title, DWORD style, int width, int height) {
    // One window: the show makes only one.
    if (sdlWindow_ != nullptr || !videoReady_ || width <= 0 || height <= 0) return false;
    Uint32 flags = (style & WS_VISIBLE) != 0 ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    // Full screen at the desktop's own mode: the picture is scaled, the display is never
    // switched to 640 × 480.
    if (!options_.windowed) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (options_.openGl) {
        flags |= SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    }
    sdlWindow_ = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                                  height, flags);
    if (sdlWindow_ == nullptr) {
        std::fprintf(options_.messages, "Warning: cannot open a window: %s\n", SDL_GetError());
        return false;
    }
    clientWidth_ = width;
    clientHeight_ = height;
    if (options_.openGl) {
        glContext_ = SDL_GL_CreateContext(sdlWindow_);
        if (glContext_ == nullptr || SDL_GL_MakeCurrent(sdlWindow_, glContext_) != 0) {
            // A window nothing can draw into would stay black: better no window at all.
            std::fprintf(options_.messages, "Warning: cannot draw into the window: %s\n",
                         SDL_GetError());
            closeWindow();
            return false;
        }
        // Presentation waits for the display's refresh, as the platform's default interval does.
        SDL_GL_SetSwapInterval(1);
        return true;
    }
    renderer_ =
        SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(sdlWindow_, -1, 0);
    if (renderer_ == nullptr) {
        std::fprintf(options_.messages, "Warning: cannot draw into the window: %s\n",
                     SDL_GetError());
    }
    return true;
}

bool SdlBackend::showWindow() {
    if (sdlWindow_ == nullptr) return false;
    const bool wasVisible = (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_SHOWN) != 0;
    SDL_ShowWindow(sdlWindow_);
    return wasVisible;
}

void SdlBackend::closeWindow() {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (glContext_ != nullptr) SDL_GL_DeleteContext(glContext_);
    glContext_ = nullptr;
    if (sdlWindow_ != nullptr) {
        SDL_DestroyWindow(sdlWindow_);
        SDL_ShowCursor(SDL_ENABLE);
    }
    texture_ = nullptr;
    renderer_ = nullptr;
    sdlWindow_ = nullptr;
    framePresented_ = false;
}

bool SdlBackend::waitForEvents() {
    // Without a window system nothing can ever arrive.
    if (!videoReady_) return false;
    SDL_WaitEventTimeout(nullptr, 100);
    return true;
}

void SdlBackend::showDialog(const char* caption, const char* text) {
    if (options_.dialogs && videoReady_) {
        // Over the show's window, so that a full-screen window does not hide it.
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, sdlWindow_);
    }
}

void SdlBackend::cursorShown(bool shown) {
    // The show's window sets no cursor, so it shows none over the picture.
    if (sdlWindow_ != nullptr) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

bool SdlBackend::pointerPosition(POINT* point) {
    if (!videoReady_) return false;
    int x = 0, y = 0;
    if (sdlWindow_ != nullptr && SDL_GetMouseFocus() == sdlWindow_) {
        // Over the window SDL knows the position even where the desktop's is not available.
        int left = 0, top = 0;
        SDL_GetWindowPosition(sdlWindow_, &left, &top);
        SDL_GetMouseState(&x, &y);
        x += left;
        y += top;
    } else {
        SDL_GetGlobalMouseState(&x, &y);
    }
    *point = POINT{x, y};
    return true;
}

Letterbox SdlBackend::windowBox() const {
    int width = 0, height = 0;
    SDL_GetWindowSize(sdlWindow_, &width, &height);
    return fitPicture(width, height, clientWidth_, clientHeight_);
}

bool SdlBackend::screenToClient(POINT* point) {
    if (sdlWindow_ == nullptr) return false;
    int left = 0, top = 0;
    SDL_GetWindowPosition(sdlWindow_, &left, &top);
    // The show's client area is its picture, wherever and however large the window shows it.
    *point = areaToPicture(windowBox(), POINT{point->x - left, point->y - top});
    return true;
}

DWORD SdlBackend::readTick() {
    DWORD now = SDL_GetTicks() + options_.tickOffset;
    // A caller spinning on the tick (the pre-roll) would otherwise burn a whole core and, when
    // traced, write the same line millions of times; a millisecond's rest costs it nothing.
    if (tickRead_ && now == lastTick_) {
        SDL_Delay(1);
        now = SDL_GetTicks() + options_.tickOffset;
    }
    tickRead_ = true;
    lastTick_ = now;
    if (videoReady_ && SDL_GetTicks() - lastPumpMs_ >= kPumpIntervalMs) pumpEvents();
    return now;
}

void SdlBackend::beforeExit() {
    // Stop the audio thread and give the display back before the runtime's exit, which does not
    // run this object's destructor.
    closeAudio();
    closeWindow();
    std::fflush(nullptr);
    SDL_Quit();
}
