#pragma once
// Reads an mp3 file's frame headers: the format the platform's decoder is opened with, and how
// long the music plays. Only MPEG audio layer III is accepted, the one format the platform's
// mp3 codec decodes.
#include <cstddef>
#include <cstdint>

// What every frame header of one stream says alike: the format the decoder is opened with.
struct Mp3Format {
    // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5.
    int version = 0;
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t samplesPerFrame = 0;
};

struct Mp3Stream : Mp3Format {
    // Bit rate of the first audio frame in kbit/s.
    uint32_t bitRate = 0;
    // Bytes of the first audio frame, padding excluded.
    uint32_t frameBytes = 0;
    // The audio frames: from the first one (after any ID3v2 tag and the encoder's info frame)
    // to the end of the last complete one.
    size_t dataOffset = 0;
    size_t dataBytes = 0;
    uint64_t frames = 0;
    // Whether the frames' bit rates differ.
    bool variableBitRate = false;
    // Silence the encoder put before and after the music, from its info frame (0 when absent).
    uint32_t encoderDelay = 0;
    uint32_t encoderPadding = 0;
    // Samples per channel that the music lasts: the frames' samples less the encoder's silence.
    int64_t samples = 0;
};

// False when no run of valid layer III frames is found (or it holds no samples).
bool scanMp3(const uint8_t* data, size_t size, Mp3Stream* stream);
