#include "backend/emulated/virtual_music.h"

#include "backend/file_path.h"

BOOL VirtualMusic::BASS_Init(int device, DWORD /*frequency*/, DWORD /*flags*/, HWND /*window*/) {
    if (device != -1 && device != 0) return FALSE;
    ready_ = true;
    return TRUE;
}

HSTREAM VirtualMusic::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset,
                                            QWORD length, DWORD flags) {
    // Only whole files are played; a stream from memory is not part of the show.
    if (!ready_ || memory || file == nullptr || offset != 0 || length != 0) return 0;
    int64_t samples = 0;
    int64_t rate = 0;
    if (!readLength_ || !readLength_(nativePath(static_cast<const char*>(file)), &samples, &rate) ||
        samples <= 0 || rate <= 0) {
        return 0;
    }
    return ends_.addStream(samples, rate, (flags & BASS_SAMPLE_LOOP) != 0);
}

HSYNC VirtualMusic::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD /*param*/, SYNCPROC* proc,
                                        void* user) {
    const MusicSync* sync = ends_.addSync(channel, type, proc, user);
    return sync != nullptr ? sync->handle : 0;
}

BOOL VirtualMusic::BASS_Start() {
    return ready_ ? TRUE : FALSE;
}

BOOL VirtualMusic::BASS_StreamPlay(HSTREAM stream, BOOL /*flush*/, DWORD flags) {
    clock_.startMusic();
    return ends_.play(stream, flags) ? TRUE : FALSE;
}
