#pragma once
// How long an mp3 plays, read from the file itself.
#include <cstdint>
#include <string>

struct Mp3Duration {
    // Decoded samples per channel and the sample rate: the length is samples / rate seconds,
    // kept as the exact pair so that comparisons with the frame clock need no rounding.
    int64_t samples = 0;
    int64_t rate = 0;
};

// Scans the whole file (a native path). False when the file is missing, unreadable or not an
// mp3 stream that decodes to at least one sample.
bool readMp3Duration(const std::string& path, Mp3Duration* duration);
