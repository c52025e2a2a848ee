#include "backend/headless/headless_backend.h"

#include <cstring>

namespace {

VirtualMusic::ReadLength lengthReader(
    std::function<bool(const std::string& path, Mp3Duration* duration)> readDuration) {
    return [readDuration](const std::string& path, int64_t* samples, int64_t* rate) {
        Mp3Duration duration;
        if (!readDuration || !readDuration(path, &duration)) return false;
        *samples = duration.samples;
        *rate = duration.rate;
        return true;
    };
}

SoftOptions softOptions(const HeadlessOptions& headless) {
    SoftOptions options;
    options.threads = headless.threads;
    options.scale = headless.scale;
    return options;
}

}  // namespace

HeadlessBackend::HeadlessBackend(HeadlessOptions options)
    : EmulatedWindowSystem(options.messages),
      VirtualMusic(clock_, lengthReader(options.readDuration)),
      options_(std::move(options)),
      clock_(options_.fps),
      graphics_(softOptions(options_)),
      renderer_(options_.renderer != nullptr ? options_.renderer : &graphics_),
      keys_(options_.presses) {
    graphics_.setRasterizing(false);
    renderer_->setRasterizing(false);
    frames().addBackendListener(this);
}

Backend HeadlessBackend::services() {
    Backend services;
    services.graphics = renderer_;
    services.windows = this;
    services.input = this;
    services.audio = this;
    services.frames = &frames();
    return services;
}

// ---- frames ----

void HeadlessBackend::frameBegins(uint64_t /*k*/) {
    clock_.nextFrame();
    // Escape ends the show through the window, not through the keyboard device: a due press
    // arrives as the key's window message.
    for (int n = keys_.takeDueEscapes(clock_.musicStarted(), clock_.showMs()); n > 0; --n) {
        if (shownWindow() == nullptr) continue;
        MSG message{};
        message.hwnd = shownWindow();
        message.message = WM_KEYDOWN;
        message.wParam = VK_ESCAPE;
        message.time = clock_.read();
        messages().post(message);
    }
    signalEnds();
}

// ---- input ----

void HeadlessBackend::readKeys(BYTE keys[256]) {
    std::memset(keys, 0, 256);
    keys_.applyDue(keys, clock_.musicStarted(), clock_.showMs());
}
