#include "backend/emulated/music_ends.h"

#include <algorithm>
#include <thread>
#include <vector>

HSTREAM MusicEnds::addStream(int64_t samples, int64_t rate, bool looping) {
    HSTREAM handle = ++nextStream_;
    Stream& stream = streams_[handle];
    stream.samples = samples;
    stream.rate = rate;
    stream.looping = looping;
    return handle;
}

const MusicSync* MusicEnds::addSync(DWORD channel, DWORD type, SYNCPROC* proc, void* user) {
    // Only the end-of-stream sync is known.
    if (streams_.count(channel) == 0 || proc == nullptr || (type & 0x00FFFFFFu) != BASS_SYNC_END)
        return nullptr;
    syncs_.push_back(MusicSync{++nextSync_, channel, proc, user});
    return &syncs_.back();
}

bool MusicEnds::play(HSTREAM stream, DWORD flags) {
    auto found = streams_.find(stream);
    if (found == streams_.end()) return false;
    found->second.playing = true;
    found->second.endsSignalled = 0;
    if (flags & BASS_SAMPLE_LOOP) found->second.looping = true;
    return true;
}

int MusicEnds::signalEnds(uint64_t showMs) {
    // Whole ends passed, checked exactly: showMs / 1000 >= n * samples / rate.
    std::vector<const MusicSync*> due;
    for (auto& [handle, stream] : streams_) {
        if (!stream.playing || stream.samples <= 0 || stream.rate <= 0) continue;
        const int64_t passes = static_cast<int64_t>(showMs) * stream.rate / (stream.samples * 1000);
        const int64_t limit = stream.looping ? passes : std::min<int64_t>(passes, 1);
        for (; stream.endsSignalled < limit; ++stream.endsSignalled) {
            for (const MusicSync& sync : syncs_) {
                if (sync.channel == handle) due.push_back(&sync);
            }
        }
    }
    if (due.empty()) return 0;
#ifdef __EMSCRIPTEN__
    // A page's program has no second thread: the syncs run here, between two frames, which is
    // all the show asks of them.
    for (const MusicSync* sync : due) sync->call();
#else
    std::thread audioThread([&due] {
        for (const MusicSync* sync : due) sync->call();
    });
    audioThread.join();
#endif
    return static_cast<int>(due.size());
}
