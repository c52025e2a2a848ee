#include "backend/web/web_backend.h"

#include <cmath>
#include <cstring>

#include "backend/file_path.h"
#include "backend/web/browser.h"

namespace {

// Still mode: undrawn frames are quick, so the page gets its turn every so many of them rather
// than after each.
constexpr uint64_t kFramesPerYield = 30;
// While the show only reads the tick (its pre-roll) the page gets its turn this often.
constexpr double kPrerollYieldMs = 10.0;

VirtualMusic::ReadLength pageMusicLength() {
    return [](const std::string& path, int64_t* samples, int64_t* rate) {
        return browser::musicLength(path, samples, rate);
    };
}

}  // namespace

// ---- music ----

WebMusic::WebMusic(VirtualClock& clock) : VirtualMusic(clock, pageMusicLength()) {}

HSTREAM WebMusic::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                        DWORD flags) {
    const HSTREAM stream = VirtualMusic::BASS_StreamCreateFile(memory, file, offset, length, flags);
    if (stream != 0) {
        path_ = nativePath(static_cast<const char*>(file));
        looping_ = (flags & BASS_SAMPLE_LOOP) != 0;
    }
    return stream;
}

BOOL WebMusic::BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) {
    if (!VirtualMusic::BASS_StreamPlay(stream, flush, flags)) return FALSE;
    const bool looping = looping_ || (flags & BASS_SAMPLE_LOOP) != 0;
    return browser::playMusic(path_, looping) ? TRUE : FALSE;
}

void WebMusic::signalPlayedEnds() {
    const double played = browser::musicPlayedMs();
    if (played > 0.0) signalEndsAt(static_cast<uint64_t>(played));
}

// ---- the backend ----

WebBackend::WebBackend(WebOptions options)
    : EmulatedWindowSystem(stderr),
      options_(std::move(options)),
      clock_(options_.fps),
      schedule_(options_.presses) {
    if (!still()) {
        liveMusic_ = std::make_unique<WebMusic>(clock_);
    } else {
        stillMusic_ = std::make_unique<VirtualMusic>(clock_, pageMusicLength());
        window_.fps = options_.fps;
        window_.fromMs = options_.stillMs;
        // Exactly one frame: the window ends just past the first frame's show time.
        window_.toMs = static_cast<int64_t>(window_.showMs(window_.firstFrame())) + 1;
        frames().setWindow(window_);
    }
    frames().addBackendListener(this);
}

WebBackend::~WebBackend() = default;

Backend WebBackend::services(GraphicsSystem* graphics) {
    Backend services;
    services.graphics = graphics;
    services.windows = this;
    services.input = this;
    services.audio = still() ? stillMusic_.get() : liveMusic_.get();
    services.frames = &frames();
    return services;
}

void WebBackend::frameBegins(uint64_t /*k*/) {
    if (still()) {
        clock_.nextFrame();
        for (int n = schedule_.takeDueEscapes(clock_.musicStarted(), clock_.showMs()); n > 0; --n)
            postEscape();
        stillMusic_->signalEnds();
        if (++framesSinceYield_ >= kFramesPerYield) {
            framesSinceYield_ = 0;
            browser::waitForTimer();
        }
        return;
    }
    liveMusic_->signalPlayedEnds();
}

DWORD WebBackend::readTick() {
    if (still()) return clock_.read();
    double now = browser::nowMs();
    // Before the music starts the show spins on the tick through its pre-roll: let the page
    // breathe (and the start overlay go away) meanwhile.
    if (!clock_.musicStarted() && now - lastYieldMs_ >= kPrerollYieldMs) {
        browser::waitForTimer();
        lastYieldMs_ = now = browser::nowMs();
    }
    // The platform's tick is a 32-bit count of milliseconds that wraps.
    return static_cast<DWORD>(static_cast<uint64_t>(std::floor(now)));
}

void WebBackend::frameDrawn() {
    if (still()) {
        // Only the wanted frame is kept; start-up's black frame is no frame of the show.
        if (!clock_.musicStarted() || !window_.contains(clock_.frame())) return;
        browser::frameShown(true);
        delivered_ = true;
        return;
    }
    browser::frameShown(false);
    browser::waitForAnimationFrame();
}

// ---- input ----

void WebBackend::keyDown(int scanCode) {
    if (scanCode <= 0 || scanCode > 255) return;
    if (scanCode == kScanEscape) {
        // Escape ends the show through the window, as the key's window message.
        postEscape();
        return;
    }
    latchedKeys_[scanCode] = true;
}

void WebBackend::postEscape() {
    if (shownWindow() == nullptr) return;
    MSG message{};
    message.hwnd = shownWindow();
    message.message = WM_KEYDOWN;
    message.wParam = VK_ESCAPE;
    // Repeat count 1 and Escape's scan code, as the window system reports a first press.
    message.lParam = static_cast<LPARAM>(1u | (static_cast<unsigned>(kScanEscape) << 16));
    message.time = readTick();
    message.pt = pointer_;
    messages().post(message);
}

void WebBackend::readKeys(BYTE keys[256]) {
    std::memset(keys, 0, 256);
    if (still()) {
        schedule_.applyDue(keys, clock_.musicStarted(), clock_.showMs());
        return;
    }
    // A press between two reads is held for one read, so that no press is lost.
    for (int k = 0; k < 256; ++k) {
        if (latchedKeys_[k]) keys[k] = 0x80;
        latchedKeys_[k] = false;
    }
}

void WebBackend::pointerMoved(int x, int y, int dx, int dy) {
    pointer_ = POINT{x, y};
    motionX_ += dx;
    motionY_ += dy;
}

void WebBackend::buttonDown(int button) {
    if (button >= 0 && button < 4) latchedButtons_ |= static_cast<BYTE>(1u << button);
}

void WebBackend::readMouse(DIMOUSESTATE* state) {
    std::memset(state, 0, sizeof *state);
    if (still()) return;
    state->lX = motionX_;
    state->lY = motionY_;
    for (int b = 0; b < 4; ++b) {
        if (latchedButtons_ & (1u << b)) state->rgbButtons[b] = 0x80;
    }
    motionX_ = motionY_ = 0;
    latchedButtons_ = 0;
}

// ---- window ----

bool WebBackend::pointerPosition(POINT* point) {
    // The page reports the pointer in the picture's own pixels, so screen and client agree.
    *point = pointer_;
    return true;
}

void WebBackend::cursorShown(bool shown) {
    browser::showCursor(shown);
}

void WebBackend::showDialog(const char* caption, const char* text) {
    browser::showMessage(caption, text);
}

void WebBackend::beforeExit() {
    // The show leaves through the process exit only after a start-up failure.
    browser::finished(1, "");
}
