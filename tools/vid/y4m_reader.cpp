#include "vid/y4m_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char kStreamMagic[] = "YUV4MPEG2";
const char kFrameMagic[] = "FRAME";
// Header and frame lines are short; anything longer is not a YUV4MPEG2 stream.
const size_t kMaxLine = 4096;

// Reads up to and including '\n'. False at end of input before any byte, or when the line
// runs past kMaxLine or the input ends inside it (then *truncated is set).
bool readLine(std::FILE* f, std::string* line, bool* truncated) {
    line->clear();
    *truncated = false;
    for (;;) {
        const int c = std::fgetc(f);
        if (c == EOF) {
            *truncated = !line->empty();
            return false;
        }
        if (c == '\n') return true;
        if (line->size() >= kMaxLine) {
            *truncated = true;
            return false;
        }
        line->push_back(char(c));
    }
}

// A frame side: a positive decimal no larger than a .vid frame header can hold.
bool parseSide(const std::string& text, int* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::atoi(text.c_str());
    return *value > 0 && *value <= kMaxFrameSide;
}

// Reads `bytes` samples into *plane. The plane grows only as the data arrives: a header can
// claim a frame of a gigabyte in a few bytes, and a short file must not cost that much memory.
bool readPlane(std::FILE* f, size_t bytes, std::vector<uint8_t>* plane) {
    const size_t kStep = size_t(1) << 22;
    plane->clear();
    while (plane->size() < bytes) {
        const size_t at = plane->size();
        const size_t want = std::min(kStep, bytes - at);
        plane->resize(at + want);
        if (std::fread(plane->data() + at, 1, want, f) != want) return false;
    }
    return true;
}

}  // namespace

Y4mReader::~Y4mReader() {
    if (ownsFile && file) std::fclose(file);
}

bool Y4mReader::open(const std::string& path, std::string* error) {
    if (path == "-") return open(stdin, error);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    file = f;
    ownsFile = true;
    return readHeader(error);
}

bool Y4mReader::open(std::FILE* stream, std::string* error) {
    file = stream;
    ownsFile = false;
    return readHeader(error);
}

bool Y4mReader::readHeader(std::string* error) {
    std::string line;
    bool truncated;
    if (!readLine(file, &line, &truncated)) {
        *error = line.empty() && !truncated ? "input is empty" : "input is not a YUV4MPEG2 stream";
        return false;
    }
    if (line.compare(0, std::strlen(kStreamMagic), kStreamMagic) != 0 ||
        (line.size() > std::strlen(kStreamMagic) && line[std::strlen(kStreamMagic)] != ' ')) {
        *error = "input is not a YUV4MPEG2 stream (no YUV4MPEG2 header)";
        return false;
    }
    sampling = "420";
    size_t at = std::strlen(kStreamMagic);
    while (at < line.size()) {
        if (line[at] == ' ') {
            ++at;
            continue;
        }
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        const std::string token = line.substr(at, end - at);
        at = end;
        const std::string value = token.substr(1);
        switch (token[0]) {
            case 'W':
                if (!parseSide(value, &frameWidth)) {
                    *error = "YUV4MPEG2 header has a bad width: " + token;
                    return false;
                }
                break;
            case 'H':
                if (!parseSide(value, &frameHeight)) {
                    *error = "YUV4MPEG2 header has a bad height: " + token;
                    return false;
                }
                break;
            case 'C':
                if (value == "420" || value == "420jpeg" || value == "420paldv" ||
                    value == "420mpeg2") {
                    sampling = "420";
                } else if (value == "444") {
                    sampling = "444";
                } else {
                    *error = "YUV4MPEG2 colour space C" + value +
                             " is not supported (only 8-bit 4:2:0 and 4:4:4)";
                    return false;
                }
                break;
            default:
                // Frame rate, interlacing, aspect ratio and comments do not change the samples.
                break;
        }
    }
    if (frameWidth == 0 || frameHeight == 0) {
        *error = "YUV4MPEG2 header lacks the frame width or height";
        return false;
    }
    return true;
}

bool Y4mReader::readFrame(YuvPicture* picture, std::string* error) {
    error->clear();
    std::string line;
    bool truncated;
    if (!readLine(file, &line, &truncated)) {
        if (truncated)
            *error = "frame " + std::to_string(frames) + " has a damaged FRAME line";
        else if (std::ferror(file))
            *error = std::string("read error: ") + std::strerror(errno);
        return false;
    }
    const size_t magic = std::strlen(kFrameMagic);
    if (line.compare(0, magic, kFrameMagic) != 0 || (line.size() > magic && line[magic] != ' ')) {
        *error = "frame " + std::to_string(frames) + " does not start with FRAME";
        return false;
    }

    const size_t w = size_t(frameWidth), h = size_t(frameHeight);
    const size_t cw = sampling == "444" ? w : (w + 1) / 2;
    const size_t ch = sampling == "444" ? h : (h + 1) / 2;
    // Read aside, so a truncated frame leaves the caller's picture as it was.
    YuvPicture read;
    read.width = frameWidth;
    read.height = frameHeight;
    std::vector<uint8_t> cb, cr;
    if (!readPlane(file, w * h, &read.y) || !readPlane(file, cw * ch, &cb) ||
        !readPlane(file, cw * ch, &cr)) {
        *error = "frame " + std::to_string(frames) + " is truncated";
        return false;
    }
    if (sampling == "444") {
        read.cb.swap(cb);
        read.cr.swap(cr);
    } else {
        read.cb.resize(w * h);
        read.cr.resize(w * h);
        for (size_t y = 0; y < h; ++y)
            for (size_t x = 0; x < w; ++x) {
                read.cb[y * w + x] = cb[(y / 2) * cw + x / 2];
                read.cr[y * w + x] = cr[(y / 2) * cw + x / 2];
            }
    }
    *picture = std::move(read);
    ++frames;
    return true;
}
