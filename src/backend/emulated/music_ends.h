#pragma once
// The audio library's streams and end-of-stream syncs as the emulated platforms keep them, and
// the music's end on the virtual clock: a stream of known length ends when the show time passes
// it (a looping stream once per pass), and its syncs are called then.
#include <cstdint>
#include <deque>
#include <map>

#include "backend/audio.h"

struct MusicSync {
    HSYNC handle;
    DWORD channel;
    SYNCPROC* proc;
    void* user;

    void call() const { proc(handle, channel, 0, user); }
};

class MusicEnds {
  public:
    // A stream of `samples` samples at `rate` per second (unknown when either is not positive:
    // it never ends on the virtual clock). Returns its handle.
    HSTREAM addStream(int64_t samples, int64_t rate, bool looping);
    bool looping(HSTREAM stream) const {
        auto found = streams_.find(stream);
        return found != streams_.end() && found->second.looping;
    }
    // An end-of-stream sync on `channel`; null when the channel is unknown, the procedure
    // missing or the sync of another kind. The sync stays where it is until this goes.
    const MusicSync* addSync(DWORD channel, DWORD type, SYNCPROC* proc, void* user);
    // The stream plays from its start (looping with BASS_SAMPLE_LOOP); false when unknown.
    bool play(HSTREAM stream, DWORD flags);
    // Calls the syncs of every end that the playing streams have passed by show time showMs,
    // on a thread of their own as the audio library would (in the browser, which gives the
    // program one thread, on this one), and waits for it so that the frame at which the show
    // hears of an end is the same in every run. Returns the calls made.
    int signalEnds(uint64_t showMs);

  private:
    struct Stream {
        int64_t samples = 0;
        int64_t rate = 0;
        bool looping = false;
        bool playing = false;
        int64_t endsSignalled = 0;
    };
    std::map<HSTREAM, Stream> streams_;
    std::deque<MusicSync> syncs_;
    HSTREAM nextStream_ = 0;
    HSYNC nextSync_ = 0;
};
