#include "backend/frame_host.h"

uint64_t CaptureWindow::firstFrame() const {
    // Show time k * 1000 / fps >= fromMs, exactly: k >= fromMs * fps / 1000, rounded up.
    const uint64_t from = fromMs > 0 ? uint64_t(fromMs) : 0;
    uint64_t k = (from * fps + 999u) / 1000u;
    return k < 1 ? 1 : k;
}

uint64_t CaptureWindow::lastFrame() const {
    if (toMs <= 0) return 0;
    // Show time k * 1000 / fps < toMs: k < toMs * fps / 1000.
    const uint64_t k = (uint64_t(toMs) * fps + 999u) / 1000u - 1u;
    return k >= firstFrame() ? k : 0;
}

bool CaptureWindow::contains(uint64_t frame) const {
    if (frame < firstFrame()) return false;
    return !bounded() || frame <= lastFrame();
}

void FrameHost::setWindow(const CaptureWindow& window) {
    window_ = window;
    windowSet_ = true;
}

void FrameHost::beginFrame() {
    if (stopping_) return;
    ++frame_;
    for (FrameListener* listener : backendListeners_) listener->frameBegins(frame_);
    bool stop = frameLimit_ > 0 && frame_ > frameLimit_;
    if (windowSet_ && window_.bounded() && frame_ > window_.lastFrame()) stop = true;
    for (const FrameListener* listener : backendListeners_) stop = stop || listener->failed();
    for (const FrameListener* listener : listeners_) stop = stop || listener->failed();
    if (stop) {
        stopping_ = true;
        for (FrameListener* listener : listeners_) listener->showStopping();
        return;
    }
    for (FrameListener* listener : listeners_) listener->frameBegins(frame_);
    if (trace_ != nullptr) std::fprintf(trace_, "frame %llu\n", (unsigned long long)frame_);
}
