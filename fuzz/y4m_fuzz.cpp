// Feeds arbitrary bytes to the encoder's YUV4MPEG2 reader as a stream. Every frame it accepts
// must be a whole picture at full chroma resolution; a frame it refuses must leave the
// caller's picture as it was and say why.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_file.h"
#include "vid/y4m_reader.h"

namespace {

bool sameSizes(const YuvPicture& p, int w, int h) {
    const size_t n = size_t(w) * size_t(h);
    return p.width == w && p.height == h && p.y.size() == n && p.cb.size() == n && p.cr.size() == n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr) return 0;  // glibc refuses an empty buffer
    Y4mReader reader;
    std::string error;
    if (!reader.open(stream, &error)) {
        FUZZ_CHECK(!error.empty(), "a refused header gave no reason");
        std::fclose(stream);
        return 0;
    }
    FUZZ_CHECK(reader.width() > 0 && reader.height() > 0, "an accepted header has a size");
    FUZZ_CHECK(reader.chroma() == "420" || reader.chroma() == "444", "a known sampling");
    // The sentinel picture a refusal must leave alone.
    YuvPicture picture;
    picture.width = picture.height = 1;
    picture.y = {1};
    picture.cb = {2};
    picture.cr = {3};
    YuvPicture last = picture;
    for (int frame = 0; frame < 64; ++frame) {
        if (!reader.readFrame(&picture, &error)) {
            FUZZ_CHECK(picture.width == last.width && picture.height == last.height &&
                           picture.y == last.y && picture.cb == last.cb && picture.cr == last.cr,
                       "a frame that was not read changed the picture");
            FUZZ_CHECK(error.find('\n') == std::string::npos, "the reason is not one line");
            break;
        }
        FUZZ_CHECK(error.empty(), "a frame that was read left an error");
        FUZZ_CHECK(sameSizes(picture, reader.width(), reader.height()), "a whole picture");
        FUZZ_CHECK(reader.framesRead() == frame + 1, "frames are counted");
        last = picture;
    }
    std::fclose(stream);
    return 0;
}
