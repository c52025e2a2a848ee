// The music on SDL2_mixer: one stream from an mp3 file, its end reported through the syncs on
// the mixer's audio thread.
#include <atomic>

#include "backend/file_path.h"
#include "backend/sdl/sdl_backend.h"

namespace {

// The mixer's finished hook takes no argument: it reaches the backend through this.
std::atomic<SdlBackend*> musicOwner{nullptr};

}  // namespace

BOOL SdlBackend::BASS_Init(int device, DWORD frequency, DWORD /*flags*/, HWND /*window*/) {
    // -1 is the default device and 1 the first real one; 0 (no sound) and the rest are refused.
    if (audioReady_ || (device != -1 && device != 1) || frequency == 0) return FALSE;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(options_.messages, "Warning: no audio (%s); the show runs without sound\n",
                     SDL_GetError());
        return FALSE;
    }
    Mix_Init(MIX_INIT_MP3);
    mixerStarted_ = true;
    if (Mix_OpenAudio(static_cast<int>(frequency), MIX_DEFAULT_FORMAT, 2, 2048) != 0) {
        std::fprintf(options_.messages,
                     "Warning: no audio device (%s); the show runs without sound\n",
                     Mix_GetError());
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        mixerStarted_ = false;
        return FALSE;
    }
    musicOwner.store(this);
    Mix_HookMusicFinished(&SdlBackend::musicFinished);
    audioReady_ = true;
    return TRUE;
}

HSTREAM SdlBackend::BASS_StreamCreateFile(BOOL memory, const void* file, QWORD offset, QWORD length,
                                          DWORD /*flags*/) {
    // Only whole files are played; a stream from memory is not part of the show.
    if (!audioReady_ || memory || file == nullptr || offset != 0 || length != 0) return 0;
    Mix_Music* music = Mix_LoadMUS(nativePath(static_cast<const char*>(file)).c_str());
    if (music == nullptr) {
        std::fprintf(options_.messages, "Warning: cannot play %s (%s)\n",
                     static_cast<const char*>(file), Mix_GetError());
        return 0;
    }
    HSTREAM handle = ++nextStream_;
    streams_[handle] = music;
    return handle;
}

HSYNC SdlBackend::BASS_ChannelSetSync(DWORD channel, DWORD type, QWORD /*param*/, SYNCPROC* proc,
                                      void* user) {
    // Only the end-of-stream sync is known here.
    if (streams_.count(channel) == 0 || proc == nullptr || (type & 0x00FFFFFFu) != BASS_SYNC_END)
        return 0;
    std::lock_guard<std::mutex> lock(syncMutex_);
    HSYNC handle = ++nextSync_;
    syncs_.push_back(Sync{handle, channel, proc, user});
    return handle;
}

BOOL SdlBackend::BASS_Start() {
    if (!audioReady_) return FALSE;
    Mix_ResumeMusic();
    return TRUE;
}

BOOL SdlBackend::BASS_StreamPlay(HSTREAM stream, BOOL /*flush*/, DWORD flags) {
    // The frame timing starts with the music, whether or not there is any to hear.
    musicStarted_ = true;
    presentTimes_.clear();
    auto found = streams_.find(stream);
    if (!audioReady_ || found == streams_.end()) return FALSE;
    looping_.store((flags & BASS_SAMPLE_LOOP) != 0);
    playing_.store(stream);
    // Played once; a looping stream is started again after each end (restartLoopingMusic), so
    // that every pass reports its end as the audio library does.
    return Mix_PlayMusic(found->second, 1) == 0 ? TRUE : FALSE;
}

void SdlBackend::musicFinished() {
    // On the mixer's audio thread, with its device locked: call the syncs and nothing else.
    SdlBackend* self = musicOwner.load();
    if (self == nullptr) return;
    const HSTREAM stream = self->playing_.load();
    if (stream == 0) return;
    {
        std::lock_guard<std::mutex> lock(self->syncMutex_);
        for (const Sync& sync : self->syncs_) {
            if (sync.channel == stream) sync.proc(sync.handle, sync.channel, 0, sync.user);
        }
    }
    if (self->looping_.load()) self->restartPending_.store(true);
}

void SdlBackend::restartLoopingMusic() {
    // The mixer must not be called from its own hook: the next pass starts from here, on the
    // main thread, at most a frame after the end.
    if (!restartPending_.exchange(false)) return;
    auto found = streams_.find(playing_.load());
    if (audioReady_ && found != streams_.end()) Mix_PlayMusic(found->second, 1);
}

void SdlBackend::closeAudio() {
    if (audioReady_) {
        // Halting calls the finished hook: take it away first, so no end is reported.
        Mix_HookMusicFinished(nullptr);
        musicOwner.store(nullptr);
        Mix_HaltMusic();
        for (auto& [handle, music] : streams_) Mix_FreeMusic(music);
        streams_.clear();
        Mix_CloseAudio();
        audioReady_ = false;
    }
    if (mixerStarted_) {
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        mixerStarted_ = false;
    }
}
