// The music file: LAME turns the rendered samples into an mp3 that any player can stream.
#include <lame/lame.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "content/content_io.h"
#include "content/music.h"

namespace content {

namespace {

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

bool fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

bool encodeMp3(const std::vector<float>& interleaved, int rate, std::vector<uint8_t>* mp3,
               std::string* error) {
    if (rate <= 0 || interleaved.size() % 2 != 0) {
        return fail(error, "mp3: the samples must be stereo pairs at a positive rate");
    }
    std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
    if (!lame) return fail(error, "mp3: LAME could not start");
    lame_global_flags* flags = lame.get();
    lame_set_in_samplerate(flags, rate);
    lame_set_out_samplerate(flags, rate);
    lame_set_num_channels(flags, 2);
    lame_set_mode(flags, JOINT_STEREO);
    lame_set_VBR(flags, vbr_default);
    lame_set_VBR_quality(flags, 2.0f);
    // The first frame carries the exact length, so players trim the encoder's delay and padding.
    lame_set_bWriteVbrTag(flags, 1);
    lame_set_write_id3tag_automatic(flags, 0);
    if (lame_init_params(flags) < 0) {
        return fail(error, "mp3: LAME refused the settings for " + std::to_string(rate) + " Hz");
    }

    mp3->clear();
    const size_t chunk = 8192;
    std::vector<unsigned char> buffer(chunk + chunk / 4 + 7200);
    const size_t frames = interleaved.size() / 2;
    for (size_t done = 0; done < frames; done += chunk) {
        const size_t count = std::min(chunk, frames - done);
        int bytes = lame_encode_buffer_interleaved_ieee_float(
            flags, interleaved.data() + 2 * done, static_cast<int>(count), buffer.data(),
            static_cast<int>(buffer.size()));
        if (bytes < 0) return fail(error, "mp3: LAME failed with code " + std::to_string(bytes));
        mp3->insert(mp3->end(), buffer.begin(), buffer.begin() + bytes);
    }
    int bytes = lame_encode_flush(flags, buffer.data(), static_cast<int>(buffer.size()));
    if (bytes < 0) return fail(error, "mp3: LAME failed with code " + std::to_string(bytes));
    mp3->insert(mp3->end(), buffer.begin(), buffer.begin() + bytes);

    // LAME reserved the first frame for the tag; it can only be filled in now.
    size_t tagSize = lame_get_lametag_frame(flags, buffer.data(), buffer.size());
    if (tagSize > 0 && tagSize <= mp3->size()) {
        std::copy(buffer.begin(), buffer.begin() + tagSize, mp3->begin());
    }
    return true;
}

bool writeMusic(const std::string& path, uint32_t seed, std::string* error) {
    // Rendering takes seconds; find out first whether the file can be written at all.
    const std::string probe = path + ".part";
    if (FILE* file = std::fopen(probe.c_str(), "wb")) {
        std::fclose(file);
        std::remove(probe.c_str());
    } else {
        return fail(error, path + ": " + std::strerror(errno));
    }
    int rate = 0;
    std::vector<float> samples = renderMusic(seed, &rate);
    std::vector<uint8_t> mp3;
    std::string reason;
    if (!encodeMp3(samples, rate, &mp3, &reason)) return fail(error, path + ": " + reason);
    if (!writeFileAtomically(path, mp3, &reason)) return fail(error, reason);
    return true;
}

}  // namespace content
