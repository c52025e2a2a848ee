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
    BOOL result;
    if (s.inner.audio != nullptr) {
        result = s.inner.audio->BASS_Init(device, frequency, flags, window);
    } else {
        int64_t queued = 0;
        result = s.take("", "BASS_Init", &queued) ? static_cast<BOOL>(queued) : TRUE;
    }
    s.emit(TraceLine("BASS_Init")
               .integer(device)
               .natural(frequency)
               .natural(flags)
               .word(s.handle(window, "hwnd"))
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
        int64_t queued = 0;
        stream = s.take("", "BASS_StreamCreateFile", &queued) ? static_cast<HSTREAM>(queued)
                                                              : ++s.nextStream;
        if (file == nullptr) stream = 0;
    }
    TraceLine line("BASS_StreamCreateFile");
    line.integer(memory);
    if (memory) {
        line.pointer(file);
    } else {
        line.text(static_cast<const char*>(file));
    }
    s.emit(line.natural(offset).natural(length).natural(flags).arrow().natural(stream));
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
        int64_t queued = 0;
        handle =
            s.take("", "BASS_ChannelSetSync", &queued) ? static_cast<HSYNC>(queued) : ++s.nextSync;
        if (channel == 0) handle = 0;
    }
    sync.handle = handle;
    s.emit(TraceLine("BASS_ChannelSetSync")
               .natural(channel)
               .natural(type)
               .natural(param)
               .pointer(reinterpret_cast<const void*>(proc))
               .pointer(user)
               .arrow()
               .natural(handle));
    return handle;
}

BOOL RecordingBackend::BASS_Start() {
    RecordingState& s = *state_;
    BOOL result;
    if (s.inner.audio != nullptr) {
        result = s.inner.audio->BASS_Start();
    } else {
        int64_t queued = 0;
        result = s.take("", "BASS_Start", &queued) ? static_cast<BOOL>(queued) : TRUE;
    }
    s.emit(TraceLine("BASS_Start").arrow().integer(result));
    return result;
}

BOOL RecordingBackend::BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) {
    RecordingState& s = *state_;
    BOOL result;
    if (s.inner.audio != nullptr) {
        result = s.inner.audio->BASS_StreamPlay(stream, flush, flags);
    } else {
        int64_t queued = 0;
        result = s.take("", "BASS_StreamPlay", &queued) ? static_cast<BOOL>(queued)
                                                        : (stream != 0 ? TRUE : FALSE);
    }
    s.emit(TraceLine("BASS_StreamPlay")
               .natural(stream)
               .integer(flush)
               .natural(flags)
               .arrow()
               .integer(result));
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
