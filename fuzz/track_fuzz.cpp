// Feeds arbitrary bytes to the show's track loader as both track files. A file it accepts must
// give exactly its first 133 records, bit for bit; one it refuses must end the run through the
// show's fatal path and leave both point lists as they were.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "backend/recording/recording_backend.h"
#include "fuzz_file.h"
#include "painting/tracks.h"
#include "platform/globals.h"

namespace {

const D3DXVECTOR2 kSentinel{-12345.5f, 6789.25f};

bool samePoint(const D3DXVECTOR2& a, const D3DXVECTOR2& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Record n's value v, read the way the file stores it: little-endian bits.
D3DXVECTOR2 expectedPoint(const uint8_t* data, int32_t point) {
    D3DXVECTOR2 p;
    uint32_t bits[2];
    for (int v = 0; v < 2; ++v) {
        const uint8_t* at = data + point * 8 + v * 4;
        bits[v] =
            uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
    }
    std::memcpy(&p.x, &bits[0], 4);
    std::memcpy(&p.y, &bits[1], 4);
    return p;
}

RecordingBackend& recorder() {
    static RecordingBackend* made = [] {
        auto* r = new RecordingBackend();
        r->keepLines(false);
        return r;
    }();
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    // The second file is the input with its first byte dropped, so the two lists differ and a
    // refusal can come from either file.
    const std::string& first = writeFuzzFile("track1.data", data, size);
    const std::string& second =
        writeFuzzFile("track2.data", size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);
    useBackend(recorder().services());
    Vector<D3DXVECTOR2> track1, track2;
    track1.add(kSentinel);
    track2.add(kSentinel);
    bool refused = false;
    try {
        loadTracks(&track1, &track2, first.c_str(), second.c_str());
    } catch (const RecordedExit& exit) {
        FUZZ_CHECK(exit.status == 1, "a refused track file ends the run with status 1");
        refused = true;
    }
    useBackend(Backend{});
    resetGlobals();

    const bool acceptable = size >= size_t(kTrackBytes) + 1;
    FUZZ_CHECK(refused == !acceptable, "only files shorter than 133 records are refused");
    if (refused) {
        FUZZ_CHECK(track1.count == 1 && track2.count == 1, "a refusal added points");
        FUZZ_CHECK(samePoint(track1.items[0], kSentinel) && samePoint(track2.items[0], kSentinel),
                   "a refusal changed the lists");
        return 0;
    }
    FUZZ_CHECK(track1.count == 1 + kTrackPoints && track2.count == 1 + kTrackPoints,
               "each list gains 266 points");
    for (int32_t n = 0; n < kTrackPoints; ++n) {
        FUZZ_CHECK(samePoint(track1.items[1 + n], expectedPoint(data, n)),
                   "track 1 point differs from its record");
        FUZZ_CHECK(samePoint(track2.items[1 + n], expectedPoint(data + 1, n)),
                   "track 2 point differs from its record");
    }
    return 0;
}
