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

SdlBackend::SdlBackend(SdlOptions options) : options_(options) {
    // The show stays on screen when another window takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    videoReady_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

SdlBackend::~SdlBackend() {
    closeAudio();
    closeWindow();
    objects_.clear();
    if (videoReady_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

Backend SdlBackend::services(GraphicsSystem* graphics) {
    Backend services;
    services.graphics = graphics;
    services.windows = this;
    services.input = this;
    services.audio = this;
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
    if (window_ == nullptr) return;
    MSG message{};
    if (!translateEvent(event, window_, &message)) return;
    // One pending cursor request or close is enough; more would only hold back later messages.
    if (message.message == WM_SETCURSOR || message.message == WM_CLOSE) {
        for (const MSG& waiting : messages_.waiting()) {
            if (waiting.message == message.message) return;
        }
    }
    message.time = tick();
    GetCursorPos(&message.pt);
    messages_.post(message);
}

// ---- window system ----

ATOM SdlBackend::RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpfnWndProc == nullptr || classes_.count(windowClass->lpszClassName) != 0) {
        return 0;
    }
    classes_[windowClass->lpszClassName] = windowClass->lpfnWndProc;
    return static_cast<ATOM>(0xC000 + classes_.size() - 1);
}

HWND SdlBackend::CreateWindowExA(DWORD /*exStyle*/, const char* className, const char* windowName,
                                 DWORD style, int /*x*/, int /*y*/, int width, int height,
                                 HWND /*parent*/, HMENU /*menu*/, HINSTANCE /*instance*/,
                                 void* /*param*/) {
    auto known = className != nullptr ? classes_.find(className) : classes_.end();
    // One window: the show makes only one.
    if (known == classes_.end() || window_ != nullptr || !videoReady_ || width <= 0 ||
        height <= 0) {
        return nullptr;
    }
    Uint32 flags = (style & WS_VISIBLE) != 0 ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    // Full screen at the desktop's own mode: the picture is scaled, the display is never
    // switched to 640 × 480.
    if (!options_.windowed) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    sdlWindow_ = SDL_CreateWindow(windowName != nullptr ? windowName : "", SDL_WINDOWPOS_CENTERED,
                                  SDL_WINDOWPOS_CENTERED, width, height, flags);
    if (sdlWindow_ == nullptr) {
        std::fprintf(options_.messages, "Warning: cannot open a window: %s\n", SDL_GetError());
        return nullptr;
    }
    renderer_ =
        SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(sdlWindow_, -1, 0);
    if (renderer_ == nullptr) {
        std::fprintf(options_.messages, "Warning: cannot draw into the window: %s\n",
                     SDL_GetError());
    }
    clientWidth_ = width;
    clientHeight_ = height;
    window_ = reinterpret_cast<HWND>(newHandle());
    procedure_ = known->second;
    applyCursor();
    repaint();
    return window_;
}

BOOL SdlBackend::ShowWindow(HWND window, int /*showCommand*/) {
    if (window == nullptr || window != window_) return FALSE;
    // The result is whether the window was visible before.
    const bool wasVisible = (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_SHOWN) != 0;
    SDL_ShowWindow(sdlWindow_);
    return wasVisible ? TRUE : FALSE;
}

BOOL SdlBackend::UpdateWindow(HWND window) {
    if (window == nullptr || window != window_) return FALSE;
    repaint();
    return TRUE;
}

BOOL SdlBackend::DestroyWindow(HWND window) {
    if (window == nullptr || window != window_) return FALSE;
    // The procedure hears WM_DESTROY while the window still exists.
    procedure_(window, WM_DESTROY, 0, 0);
    closeWindow();
    std::deque<MSG>& waiting = messages_.waiting();
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                 [window](const MSG& m) { return m.hwnd == window; }),
                  waiting.end());
    window_ = nullptr;
    procedure_ = nullptr;
    return TRUE;
}

void SdlBackend::closeWindow() {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (sdlWindow_ != nullptr) {
        SDL_DestroyWindow(sdlWindow_);
        SDL_ShowCursor(SDL_ENABLE);
    }
    texture_ = nullptr;
    renderer_ = nullptr;
    sdlWindow_ = nullptr;
    framePresented_ = false;
}

HCURSOR SdlBackend::LoadCursorA(HINSTANCE /*instance*/, const char* cursorName) {
    if (cursorName == nullptr) return nullptr;
    if (arrow_ == nullptr) arrow_ = reinterpret_cast<HCURSOR>(newHandle());
    return arrow_;
}

LRESULT SdlBackend::DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/,
                                   LPARAM /*lParam*/) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

void SdlBackend::PostQuitMessage(int exitCode) {
    messages_.postQuit(exitCode);
}

BOOL SdlBackend::PeekMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/, UINT /*filterMax*/,
                              UINT removeFlags) {
    pumpEvents();
    if (message == nullptr) return FALSE;
    return messages_.next(message, (removeFlags & PM_REMOVE) != 0, tick()) ? TRUE : FALSE;
}

BOOL SdlBackend::GetMessageA(MSG* message, HWND /*window*/, UINT /*filterMin*/,
                             UINT /*filterMax*/) {
    if (message == nullptr) return -1;
    for (;;) {
        pumpEvents();
        if (messages_.next(message, true, tick()))
            return message->message == WM_QUIT ? FALSE : TRUE;
        // Without a window system nothing can ever arrive.
        if (!videoReady_) return -1;
        SDL_WaitEventTimeout(nullptr, 100);
    }
}

BOOL SdlBackend::TranslateMessage(const MSG* /*message*/) {
    // No character messages: the show's window does not read text.
    return FALSE;
}

LRESULT SdlBackend::DispatchMessageA(const MSG* message) {
    if (message == nullptr || message->hwnd == nullptr || message->hwnd != window_) return 0;
    return procedure_(message->hwnd, message->message, message->wParam, message->lParam);
}

int SdlBackend::MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT /*type*/) {
    const char* shownCaption = caption != nullptr ? caption : "";
    const char* shownText = text != nullptr ? text : "";
    if (options_.messages != nullptr) {
        std::fprintf(options_.messages, "%s: %s\n", shownCaption, shownText);
        std::fflush(options_.messages);
    }
    if (options_.dialogs && videoReady_) {
        // Over the show's window, so that a full-screen window does not hide it.
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, shownCaption, shownText, sdlWindow_);
    }
    return IDOK;
}

void SdlBackend::applyCursor() {
    if (sdlWindow_ == nullptr) return;
    // As on the platform: the cursor shows only while its display count is not negative and a
    // cursor is set; the show's window sets none.
    SDL_ShowCursor(cursorCount_ >= 0 && cursor_ != nullptr ? SDL_ENABLE : SDL_DISABLE);
}

HCURSOR SdlBackend::SetCursor(HCURSOR cursor) {
    HCURSOR previous = cursor_;
    cursor_ = cursor;
    applyCursor();
    return previous;
}

int SdlBackend::ShowCursor(BOOL show) {
    cursorCount_ += show ? 1 : -1;
    applyCursor();
    return cursorCount_;
}

BOOL SdlBackend::GetCursorPos(POINT* point) {
    if (point == nullptr || !videoReady_) return FALSE;
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
    return TRUE;
}

Letterbox SdlBackend::windowBox() const {
    int width = 0, height = 0;
    SDL_GetWindowSize(sdlWindow_, &width, &height);
    return fitPicture(width, height, clientWidth_, clientHeight_);
}

BOOL SdlBackend::ScreenToClient(HWND window, POINT* point) {
    if (point == nullptr || window == nullptr || window != window_ || sdlWindow_ == nullptr)
        return FALSE;
    int left = 0, top = 0;
    SDL_GetWindowPosition(sdlWindow_, &left, &top);
    // The show's client area is its picture, wherever and however large the window shows it.
    *point = areaToPicture(windowBox(), POINT{point->x - left, point->y - top});
    return TRUE;
}

DWORD SdlBackend::GetTickCount() {
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

HWND SdlBackend::GetForegroundWindow() {
    return window_;
}

HMODULE SdlBackend::GetModuleHandleA(const char* moduleName) {
    // Only the program itself is loaded.
    if (moduleName != nullptr) return nullptr;
    if (module_ == nullptr) module_ = reinterpret_cast<HMODULE>(newHandle());
    return module_;
}

void SdlBackend::exit(int status) {
    // Stop the audio thread and give the display back before the runtime's exit, which does not
    // run this object's destructor.
    closeAudio();
    closeWindow();
    std::fflush(nullptr);
    SDL_Quit();
    std::exit(status);
}
