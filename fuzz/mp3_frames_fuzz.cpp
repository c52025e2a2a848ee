// Feeds arbitrary bytes to the native build's mp3 frame-header scanner. A stream it accepts
// must lie inside the input and agree with itself; a refusal must leave the result as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "backend/win32/mp3_frames.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so any read past the end is caught.
    std::vector<uint8_t> bytes(data, data + size);
    Mp3Stream stream;
    std::memset(static_cast<void*>(&stream), 0xA5, sizeof stream);
    Mp3Stream before;
    std::memcpy(static_cast<void*>(&before), &stream, sizeof stream);
    if (!scanMp3(bytes.data(), bytes.size(), &stream)) {
        FUZZ_CHECK(std::memcmp(&before, &stream, sizeof stream) == 0,
                   "a refusal changed the result");
        return 0;
    }
    FUZZ_CHECK(stream.frames > 0 && stream.samples > 0, "an accepted stream has music");
    FUZZ_CHECK(stream.dataOffset <= size && stream.dataBytes <= size - stream.dataOffset,
               "the frames lie inside the file");
    FUZZ_CHECK(stream.version == 10 || stream.version == 20 || stream.version == 25,
               "a known MPEG version");
    FUZZ_CHECK(stream.channels == 1 || stream.channels == 2, "one or two channels");
    FUZZ_CHECK(stream.samplesPerFrame == (stream.version == 10 ? 1152u : 576u),
               "samples per frame match the version");
    FUZZ_CHECK(stream.sampleRate >= 8000 && stream.sampleRate <= 48000, "a layer III sample rate");
    FUZZ_CHECK(stream.bitRate >= 8 && stream.bitRate <= 320, "a layer III bit rate");
    FUZZ_CHECK(stream.frameBytes >= 4 && stream.frameBytes <= stream.dataBytes,
               "the first frame lies inside the data");
    FUZZ_CHECK(stream.frames <= stream.dataBytes / 4, "every frame holds at least its header");
    FUZZ_CHECK(uint64_t(stream.samples) <= stream.frames * stream.samplesPerFrame,
               "no more samples than the frames hold");
    return 0;
}
