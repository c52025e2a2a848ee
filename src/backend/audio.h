#pragma once
// The audio service: a stream played from an mp3 file on the default output device, and one
// notification on another thread when it reaches its end. Names, arguments and flag values are
// the audio library's.
#include "backend/backend.h"
#include "backend/platform_constants.h"
#include "backend/platform_types.h"

class AudioSystem {
  public:
    virtual ~AudioSystem() = default;

    // device -1 is the default output device.
    virtual BOOL BASS_Init(int device, DWORD frequency, DWORD flags, HWND window) = 0;
    // With memory FALSE, `file` is a path as the show writes it; length 0 means to the end.
    // Returns 0 on failure.
    virtual HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                          DWORD flags) = 0;
    // `proc` runs on a thread of the audio service when the sync fires (BASS_SYNC_END: the
    // stream reached its end). Returns 0 on failure.
    virtual HSYNC BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD param, SYNCPROC* proc,
                                      void* user) = 0;
    virtual BOOL BASS_Start() = 0;
    virtual BOOL BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) = 0;
};

// The whole audio service, as a service that implements every operation declares it.
#define QM_AUDIO_SYSTEM_OVERRIDES                                                                 \
    BOOL BASS_Init(int device, DWORD frequency, DWORD flags, HWND window) override;               \
    HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,      \
                                  DWORD flags) override;                                          \
    HSYNC BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD param, SYNCPROC* proc, void* user) \
        override;                                                                                 \
    BOOL BASS_Start() override;                                                                   \
    BOOL BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) override

inline BOOL BASS_Init(int device, DWORD frequency, DWORD flags, HWND window) {
    return backend().audio->BASS_Init(device, frequency, flags, window);
}

inline HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                     DWORD flags) {
    return backend().audio->BASS_StreamCreateFile(memory, file, offset, length, flags);
}

inline HSYNC BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD param, SYNCPROC* proc,
                                 void* user) {
    return backend().audio->BASS_ChannelSetSync(channel, type, param, proc, user);
}

inline BOOL BASS_Start() {
    return backend().audio->BASS_Start();
}

inline BOOL BASS_StreamPlay(HSTREAM stream, BOOL flush, DWORD flags) {
    return backend().audio->BASS_StreamPlay(stream, flush, flags);
}
