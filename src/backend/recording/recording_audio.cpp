#include <thread>

#include "backend/recording/recording_backend.h"
#include "backend/recording/recording_state.h"

namespace {

// Runs on the audio service's thread: records the sync and hands it to the show's procedure.
void relaySync(HSYNC handle, DWORD channel, DWORD data, void* user) {
    auto* sync = static_cast<RecordingState::Sync*>(user);
    sync->state->emit(TraceLine("SYNCPROC").natural(handle).natural(channel).natural(data));
    if (sync->proc != nullptr) sync->proc(handle, channel, data, sync->user);
}

}  // namespace

BOOL RecordingBackend::BASS_Init(int device, DWORD frequency, DWORD flags, HWND window) {
    RecordingState& s = *state_;
    BOOL result = s.inner.audio != nullptr
                      ? s.inner.audio->BASS_Init(device, frequency, flags, window)
                      : s.scripted<BOOL>("", "BASS_Init", TRUE);
    s.emit(TraceLine("BASS_Init")
               .numbers(device, frequency, flags)
               .word(s.hwnd(window))
               .arrow()
               .integer(result));
    return result;
}

HSTREAM RecordingBackend::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset,
                                                QWORD length, DWORD flags) {
    RecordingState& s = *state_;
    HSTREAM stream;
    if (s.inner.audio != nullptr) {
        stream = s.inner.audio->BASS_StreamCreateFile(memory, file, offset, length, flags);
    } else {
        stream = s.scripted<HSTREAM>("", "BASS_StreamCreateFile", [&s] { return ++s.nextStream; });
        if (file == nullptr) stream = 0;
    }
    TraceLine line("BASS_StreamCreateFile");
    line.integer(memory);
    if (memory) {
        line.pointer(file);
    } else {
        line.text(static_cast<const char*>(file));
    }
    s.emit(line.numbers(offset, length, flags).arrow().natural(stream));
    return stream;
}

HSYNC RecordingBackend::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD param, SYNCPROC* proc,
                                            void* user) {
    RecordingState& s = *state_;
    s.syncs.push_back(RecordingState::Sync{&s, 0, channel, type, proc, user});
    RecordingState::Sync& sync = s.syncs.back();
    HSYNC handle;
    if (s.inner.audio != nullptr) {
        handle = s.inner.audio->BASS_ChannelSetSync(channel, type, param, relaySync, &sync);
    } else {
        handle = s.scripted<HSYNC>("", "BASS_ChannelSetSync", [&s] { return ++s.nextSync; });
        if (channel == 0) handle = 0;
    }
    sync.handle = handle;
    s.emit(TraceLine("BASS_ChannelSetSync")
               .numbers(channel, type, param)
               .pointer(reinterpret_cast<const void*>(proc))
               .pointer(user)
               .arrow()
               .natural(handle));
    return handle;
}

BOOL RecordingBackend::BASS_Start() {
    RecordingState& s = *state_;
    BOOL result = s.inner.audio != nullptr ? s.inner.audio->BASS_Start()
                                           : s.scripted<BOOL>("", "BASS_Start", TRUE);
    s.emit(TraceLine("BASS_Start").arrow().integer(result));
    return result;
}

BOOL RecordingBackend::BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) {
    RecordingState& s = *state_;
    BOOL result = s.inner.audio != nullptr
                      ? s.inner.audio->BASS_StreamPlay(stream, flush, flags)
                      : s.scripted<BOOL>("", "BASS_StreamPlay", stream != 0 ? TRUE : FALSE);
    s.emit(TraceLine("BASS_StreamPlay").numbers(stream, flush, flags).arrow().integer(result));
    return result;
}

void RecordingBackend::endOfStream() {
    RecordingState& s = *state_;
    if (s.inner.audio != nullptr) return;
    std::thread audioThread([&s] {
        for (RecordingState::Sync& sync : s.syncs) {
            if (sync.handle != 0 && (sync.type & 0x00FFFFFFu) == BASS_SYNC_END) {
                relaySync(sync.handle, sync.channel, 0, &sync);
            }
        }
    });
    audioThread.join();
}
