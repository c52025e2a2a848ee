#pragma once
// The audio library on the virtual clock, silent: a stream is only the mp3's length. Playing the
// music starts the clock (whether or not there is any to hear), and the music's end reaches the
// show through its end-of-stream syncs once the clock has passed it.
#include <cstdint>
#include <functional>
#include <string>

#include "backend/audio.h"
#include "backend/emulated/music_ends.h"
#include "backend/emulated/virtual_clock.h"

class VirtualMusic : public AudioSystem {
  public:
    // Reads a music file's length from its native path: samples per channel and their rate.
    using ReadLength =
        std::function<bool(const std::string& path, int64_t* samples, int64_t* rate)>;

    // `clock` must outlive this; it is only used once the show calls.
    VirtualMusic(VirtualClock& clock, ReadLength readLength)
        : clock_(clock), readLength_(std::move(readLength)) {}

    QM_AUDIO_SYSTEM_OVERRIDES;

    // Calls the syncs of the ends the clock has passed (at a frame's start).
    void signalEnds() { signalEndsAt(clock_.showMs()); }
    // The same by another clock of the music: `playedMs` milliseconds since it started.
    void signalEndsAt(uint64_t playedMs) { endSignals_ += ends_.signalEnds(playedMs); }
    // End-of-stream signals delivered so far.
    int endSignals() const { return endSignals_; }

  private:
    VirtualClock& clock_;
    ReadLength readLength_;
    bool ready_ = false;
    MusicEnds ends_;
    int endSignals_ = 0;
};
