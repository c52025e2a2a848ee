#include "backend/headless/headless_backend.h"

#include <cstring>

#include "backend/file_path.h"

HeadlessBackend::HeadlessBackend(HeadlessOptions options)
    : EmulatedWindowSystem(options.messages),
      options_(std::move(options)),
      clock_(options_.fps),
      keys_(options_.presses) {
    graphics_.setRasterizing(false);
    frames().addBackendListener(this);
}

HeadlessBackend::~HeadlessBackend() = default;

Backend HeadlessBackend::services() {
    Backend services;
    services.graphics = &graphics_;
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
    endSignals_ += music_.signalEnds(clock_.showMs());
}

// ---- input ----

void HeadlessBackend::readKeys(BYTE keys[256]) {
    std::memset(keys, 0, 256);
    keys_.applyDue(keys, clock_.musicStarted(), clock_.showMs());
}

// ---- audio ----

BOOL HeadlessBackend::BASS_Init(int device, DWORD /*frequency*/, DWORD /*flags*/, HWND /*window*/) {
    if (device != -1 && device != 0) return FALSE;
    audioReady_ = true;
    return TRUE;
}

HSTREAM HeadlessBackend::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset,
                                               QWORD length, DWORD flags) {
    // Only whole files are played; a stream from memory is not part of the show.
    if (!audioReady_ || memory || file == nullptr || offset != 0 || length != 0) return 0;
    Mp3Duration duration;
    if (!options_.readDuration ||
        !options_.readDuration(nativePath(static_cast<const char*>(file)), &duration) ||
        duration.samples <= 0 || duration.rate <= 0) {
        return 0;
    }
    return music_.addStream(duration.samples, duration.rate, (flags & BASS_SAMPLE_LOOP) != 0);
}

HSYNC HeadlessBackend::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD /*param*/,
                                           SYNCPROC* proc, void* user) {
    const MusicSync* sync = music_.addSync(channel, type, proc, user);
    return sync != nullptr ? sync->handle : 0;
}

BOOL HeadlessBackend::BASS_Start() {
    return audioReady_ ? TRUE : FALSE;
}

BOOL HeadlessBackend::BASS_StreamPlay(HSTREAM stream, BOOL /*flush*/, DWORD flags) {
    // The show's clock starts with the music, whether or not there is any to hear.
    clock_.startMusic();
    return music_.play(stream, flags) ? TRUE : FALSE;
}
