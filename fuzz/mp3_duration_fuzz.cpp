// Feeds arbitrary bytes to the headless backend's mp3 length reader (libmpg123). A length it
// accepts must be positive at a real sample rate; a refusal must leave the result as it was.
#include <cstddef>
#include <cstdint>

#include "backend/headless/mp3_duration.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 17)) return 0;
    const std::string& path = writeFuzzFile("music.mp3", data, size);
    Mp3Duration duration;
    duration.samples = -7;
    duration.rate = -11;
    if (!readMp3Duration(path, &duration)) {
        FUZZ_CHECK(duration.samples == -7 && duration.rate == -11, "a refusal changed the result");
        return 0;
    }
    FUZZ_CHECK(duration.samples > 0, "an accepted file has samples");
    FUZZ_CHECK(duration.rate >= 8000 && duration.rate <= 48000, "an mp3 sample rate");
    // Every frame of a layer holds at most 1152 samples and takes at least a few bytes; a file
    // of n bytes cannot claim hours of music.
    FUZZ_CHECK(duration.samples <= int64_t(size + 1) * 1152, "a length the file can hold");
    return 0;
}
