#pragma once
// The show's music on the platform's own services: the mp3 is decoded by the audio codec
// manager (ACM) and played on the default wave output from a worker thread. Without an output
// device, or without an mp3 codec, it plays silently: the end still comes, on the wall clock,
// after the music's length.
#include <cstdint>
#include <memory>
#include <string>

#include "backend/win32/mp3_frames.h"

class MusicPlayer {
  public:
    using EndHandler = void (*)(void* context);

    MusicPlayer();
    ~MusicPlayer();
    MusicPlayer(const MusicPlayer&) = delete;
    MusicPlayer& operator=(const MusicPlayer&) = delete;

    // Reads the file (a native path) and, with `decode`, decodes it. False, with the reason in
    // *error, when it is not an mp3 at all; a file that only the decoder refuses still opens, to
    // play silently.
    bool open(const std::string& path, bool decode, std::string* error);
    const Mp3Stream& stream() const;
    // Whether the decoder gave samples to play.
    bool decoded() const;

    // Runs on the player's thread each time the music reaches its end (with `loop`, once per
    // pass).
    void onEnd(EndHandler handler, void* context);
    // Plays from the start. False when nothing was opened.
    bool play(bool loop);
    // Whether the current playback is heard (false: the silent wall-clock timer).
    bool audible() const;
    // Stops playback and waits for the player's thread; safe to call when not playing.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
