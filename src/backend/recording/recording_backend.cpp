#include "backend/recording/recording_backend.h"

#include "backend/recording/recording_state.h"

RecordingBackend::RecordingBackend() : RecordingBackend(Backend{}) {}

RecordingBackend::RecordingBackend(const Backend& inner)
    : state_(std::make_unique<RecordingState>(inner)) {}

RecordingBackend::~RecordingBackend() = default;

Backend RecordingBackend::services() {
    Backend services;
    services.graphics = this;
    services.windows = this;
    services.input = this;
    services.audio = this;
    // Frames begin where the recorded services count them.
    services.frames = state_->inner.frames;
    return services;
}

std::vector<std::string> RecordingBackend::lines() const {
    return state_->lines();
}

void RecordingBackend::clearLines() {
    state_->clear();
}

void RecordingBackend::keepLines(bool keep) {
    state_->keep(keep);
}

void RecordingBackend::writeTo(std::FILE* out) {
    state_->writeTo(out);
}

void RecordingBackend::queueResult(const std::string& operation, int64_t value, int times) {
    state_->queue(operation, value, times);
}

void RecordingBackend::setClock(DWORD tick, DWORD step) {
    state_->clock = tick;
    state_->clockStep = step;
}

void RecordingBackend::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG record{};
    record.hwnd = window;
    record.message = message;
    record.wParam = wParam;
    record.lParam = lParam;
    record.time = state_->clock;
    state_->messages.push_back(record);
}

void RecordingBackend::queueKeyboardState(const std::vector<int>& keysDown) {
    std::vector<BYTE> keys(256, 0);
    for (int key : keysDown) {
        if (key >= 0 && key < 256) keys[static_cast<size_t>(key)] = 0x80;
    }
    state_->keyboardStates.push_back(keys);
}

void RecordingBackend::queueMouseState(const DIMOUSESTATE& state) {
    state_->mouseStates.push_back(state);
}

void RecordingBackend::setCursorPos(LONG x, LONG y) {
    state_->cursor = POINT{x, y};
}

void RecordingBackend::setClientOrigin(LONG x, LONG y) {
    state_->clientOrigin = POINT{x, y};
}

void RecordingBackend::setPitchPadding(INT bytes) {
    state_->pitchPadding = bytes < 0 ? 0 : bytes;
}

int RecordingBackend::cursorDisplayCount() const {
    return state_->cursorCount;
}
