// quillmere-vid: encodes pictures into .vid files, lists their frames and decodes single frames.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vid/frame_model.h"
#include "vid/png_io.h"
#include "vid/vid_encoder.h"
#include "vid/y4m_reader.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

const int kFailure = 1;
const int kUsage = 2;

const char kHelp[] =
    R"(usage: quillmere-vid COMMAND ...

  quillmere-vid info FILE [--json]
      Checks a .vid file and lists its frames: record size, unpacked payload size, frame size,
      luma and chroma cell sizes, interpolation, residual shift and chroma mode.

  quillmere-vid decode FILE --frame N [--effects CHAIN] (--raw OUT | --png OUT [--texture])
      Decodes frame N (0 is the first) into a zero-filled buffer of 4 bytes per pixel.
      --raw OUT      writes that buffer as it is (luma, Cr index, Cb index, 0); OUT may be -
      --png OUT      writes the colour conversion as an RGB PNG
      --texture      with --png: what the show uploads as a texture, i.e. the colour conversion
                     with the luma, after levels 1.5:3.0, as alpha; an RGBA PNG
      --effects CHAIN  image effects run on the luma before the output, in order; CHAIN is
                     comma-separated items: levels:GAIN:CONTRAST, noise:AMPLITUDE,
                     blurrun:RADIUS, blurcolumns:RADIUS, sharpen:SHIFT. The noise starts from
                     its initial state on every run.

  quillmere-vid encode INPUT -o OUT.vid [options]
      INPUT is a YUV4MPEG2 stream (8-bit 4:2:0 or 4:4:4; - reads standard input), a folder of
      PNG frames (all *.png files, in name order) or a single PNG file. Every frame is decoded
      again and checked before anything is written; the file appears only when complete.
      Prints one line per frame (record size, luma PSNR) unless --quiet.
      --cell WxH         luma cell size, each side 2, 4, 8 or 16 (default 4x4)
      --chroma-cell WxH  chroma cell size, each side 2, 4, 8 or 16 (default 8x8)
      --shift S          residual step 2^S, S in 0..7 (default 1)
      --threshold T      a cell gets residuals when the mean squared error of its interpolated
                         luma exceeds T (default 12; negative: every cell)
      --no-interpolate   flat cells instead of interpolated ones
      --raw-luma         store the luma uncompressed, one byte per pixel
      --no-chroma        no chroma: the video decodes to grey
      --frames N         encode at most the first N frames
      --force            replace OUT.vid if it exists (without it, an existing file is an error)
      --quiet            no per-frame lines
      The frame must divide into whole cells and hold at most 524288 pixels (the show itself
      plays 256 pixels wide, at least 256 high).

Status: 0 on success, 1 when a file cannot be read, decoded or written, 2 for bad arguments.
)";

// A one-line error, with the status to exit with.
struct Failure {
    int status;
    std::string message;
};

[[noreturn]] void usageError(const std::string& message) {
    throw Failure{kUsage, message};
}

[[noreturn]] void failure(const std::string& message) {
    throw Failure{kFailure, message};
}

bool parseInt(const std::string& text, long lo, long hi, int* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *value = int(v);
    return true;
}

bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// "WxH", or "N" for NxN.
bool parseCells(const std::string& text, int* w, int* h) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return parseInt(text, 1, 127, w) && parseInt(text, 1, 127, h);
    return parseInt(text.substr(0, x), 1, 127, w) && parseInt(text.substr(x + 1), 1, 127, h);
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) failure("cannot open " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > size_t(INT32_MAX)) {
            std::fclose(f);
            failure(path + " is larger than 2 GiB; not a .vid file");
        }
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) failure("cannot read " + path);
    return bytes;
}

void writeWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (!f) failure("cannot create " + path + ": " + std::strerror(errno));
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const bool closed = f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0;
    if (!ok || !closed) failure("cannot write " + path);
}

// Why the decoder refuses a container, in words; the checks mirror VideoDecoder::open.
std::string containerProblem(const std::vector<uint8_t>& file) {
    if (file.size() < size_t(kEntryCountBytes)) return "too short to hold a frame table";
    const int32_t entries = readInt32(file.data());
    if (entries < 2) return "entry count " + std::to_string(entries) + " means no frames";
    const int64_t dataStart = recordsStart(entries);
    if (dataStart > int64_t(file.size()))
        return "frame table of " + std::to_string(entries) + " entries is cut off";
    int32_t previous = 0;
    for (int32_t i = 0; i < entries; ++i) {
        const int32_t offset = readInt32(&file[size_t(frameTableEntryAt(i))]);
        if (offset < 0 || dataStart + offset > int64_t(file.size()))
            return "frame table entry " + std::to_string(i) + " points outside the file";
        if (i > 0 && int64_t(offset) - previous < kRecordTableBytes)
            return "frame " + std::to_string(i - 1) + " is shorter than a record's code table";
        previous = offset;
    }
    return "frame 0 does not decode";
}

// A .vid file read whole and accepted by the decoder.
struct OpenVideo {
    std::vector<uint8_t> bytes;
    VideoImage image;
    int frames = 0;
};

void openVideo(const std::string& path, VideoDecoder& decoder, OpenVideo* video) {
    video->bytes = readWholeFile(path);
    video->image = VideoImage{video->bytes.data(), int32_t(video->bytes.size())};
    if (decoder.init() < 0) failure("out of memory");
    const int entries = decoder.open(video->image);
    if (entries < 0)
        failure(path + " is not a usable .vid file: " + containerProblem(video->bytes));
    video->frames = entries - 1;
}

// ---------------------------------------------------------------- info

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string cellText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

int commandInfo(const std::vector<std::string>& args) {
    std::string path;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json")
            json = true;
        else if (a.size() > 1 && a[0] == '-')
            usageError("unknown option " + a + " for info");
        else if (path.empty())
            path = a;
        else
            usageError("info takes one file");
    }
    if (path.empty()) usageError("info needs a FILE");

    VideoDecoder decoder;
    OpenVideo video;
    openVideo(path, decoder, &video);

    struct Row {
        int32_t recordBytes;
        bool valid;
        int32_t unpacked;
        int width, height, cellWidth, cellHeight, chromaCellWidth, chromaCellHeight;
        int interpolate, residualShift, chromaMode;
    };
    std::vector<Row> rows;
    int damaged = -1;
    const uint8_t* data = video.bytes.data() + recordsStart(video.frames + 1);
    for (int i = 0; i < video.frames; ++i) {
        const int32_t start = readInt32(&video.bytes[size_t(frameTableEntryAt(i))]);
        const int32_t end = readInt32(&video.bytes[size_t(frameTableEntryAt(i + 1))]);
        Row r{};
        r.recordBytes = end - start;
        r.valid = decoder.decodeRecord(data + start, nullptr, 0, end - start) == 0;
        if (r.valid) {
            r.unpacked = decoder.huffman->unpackedSize;
            r.width = decoder.width();
            r.height = decoder.height();
            r.cellWidth = decoder.cellWidth;
            r.cellHeight = decoder.cellHeight;
            r.chromaCellWidth = decoder.chromaCellWidth;
            r.chromaCellHeight = decoder.chromaCellHeight;
            r.interpolate = decoder.interpolate;
            r.residualShift = decoder.residualShift;
            r.chromaMode = decoder.chromaMode;
        } else if (damaged < 0) {
            damaged = i;
        }
        rows.push_back(r);
    }

    if (json) {
        std::printf(
            "{\"file\": %s, \"bytes\": %zu, \"entryCount\": %d, \"frames\": %d, "
            "\"frameList\": [",
            jsonString(path).c_str(), video.bytes.size(), video.frames + 1, video.frames);
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            std::printf("%s\n  {\"index\": %zu, \"recordBytes\": %d, \"valid\": %s", i ? "," : "",
                        i, r.recordBytes, r.valid ? "true" : "false");
            if (r.valid)
                std::printf(
                    ", \"unpackedSize\": %d, \"width\": %d, \"height\": %d, "
                    "\"cellWidth\": %d, \"cellHeight\": %d, \"chromaCellWidth\": %d, "
                    "\"chromaCellHeight\": %d, \"interpolate\": %d, "
                    "\"residualShift\": %d, \"chromaMode\": %d",
                    r.unpacked, r.width, r.height, r.cellWidth, r.cellHeight, r.chromaCellWidth,
                    r.chromaCellHeight, r.interpolate, r.residualShift, r.chromaMode);
            std::printf("}");
        }
        std::printf("\n]}\n");
    } else {
        std::printf("%s: %d frame%s, %zu bytes\n", path.c_str(), video.frames,
                    video.frames == 1 ? "" : "s", video.bytes.size());
        std::printf("%6s %9s %9s %11s %6s %7s %6s %5s\n", "frame", "record", "unpacked", "size",
                    "cells", "chroma", "interp", "shift");
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            if (!r.valid) {
                std::printf("%6zu %9d  damaged\n", i, r.recordBytes);
                continue;
            }
            const std::string cells =
                r.cellWidth == 0 ? "raw" : cellText(r.cellWidth, r.cellHeight);
            const std::string chroma = r.chromaMode == kNoChromaMode
                                           ? "none"
                                           : cellText(r.chromaCellWidth, r.chromaCellHeight);
            std::printf("%6zu %9d %9d %11s %6s %7s %6d %5d\n", i, r.recordBytes, r.unpacked,
                        cellText(r.width, r.height).c_str(), cells.c_str(), chroma.c_str(),
                        r.interpolate, r.residualShift);
        }
    }
    std::fflush(stdout);
    if (damaged >= 0) failure(path + ": frame " + std::to_string(damaged) + " does not decode");
    return 0;
}

// ---------------------------------------------------------------- decode

struct Effect {
    std::string name;
    double a = 0, b = 0;
};

std::vector<Effect> parseEffects(const std::string& chain) {
    std::vector<Effect> effects;
    size_t at = 0;
    while (at <= chain.size()) {
        size_t end = chain.find(',', at);
        if (end == std::string::npos) end = chain.size();
        const std::string item = chain.substr(at, end - at);
        at = end + 1;
        std::vector<std::string> parts;
        size_t p = 0;
        for (;;) {
            const size_t colon = item.find(':', p);
            parts.push_back(
                item.substr(p, colon == std::string::npos ? std::string::npos : colon - p));
            if (colon == std::string::npos) break;
            p = colon + 1;
        }
        Effect e;
        e.name = parts[0];
        const size_t wanted = e.name == "levels" ? 3 : 2;
        if (e.name != "levels" && e.name != "noise" && e.name != "blurrun" &&
            e.name != "blurcolumns" && e.name != "sharpen")
            usageError("unknown effect '" + item +
                       "' (levels:GAIN:CONTRAST, noise:AMPLITUDE, blurrun:RADIUS, "
                       "blurcolumns:RADIUS, sharpen:SHIFT)");
        if (parts.size() != wanted)
            usageError("effect '" + item + "' needs " + std::to_string(wanted - 1) +
                       (wanted == 3 ? " values (levels:GAIN:CONTRAST)" : " value"));
        if (e.name == "levels") {
            if (!parseNumber(parts[1], &e.a) || !parseNumber(parts[2], &e.b))
                usageError("effect '" + item + "' needs two numbers");
        } else {
            int v;
            if (!parseInt(parts[1], INT32_MIN, INT32_MAX, &v))
                usageError("effect '" + item + "' needs a whole number");
            e.a = v;
        }
        effects.push_back(e);
    }
    return effects;
}

void runEffects(YUVSurface& surface, const std::vector<Effect>& effects) {
    setNoiseState(kNoiseStateStart);
    for (const Effect& e : effects) {
        if (e.name == "levels")
            surface.adjustLevels(0, float(e.a), float(e.b));
        else if (e.name == "noise")
            surface.addNoise(0, int(e.a));
        else if (e.name == "blurrun")
            surface.blurRun(0, int(e.a));
        else if (e.name == "blurcolumns")
            surface.blurColumns(0, int(e.a));
        else
            surface.sharpen(0, int(e.a));
    }
}

int commandDecode(const std::vector<std::string>& args) {
    std::string path, rawOut, pngOut, chain;
    bool haveFrame = false, texture = false, haveEffects = false;
    int frame = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--frame") {
            if (!parseInt(value(), INT32_MIN, INT32_MAX, &frame))
                usageError("--frame needs a whole number, not '" + args[i] + "'");
            haveFrame = true;
        } else if (a == "--raw") {
            rawOut = value();
        } else if (a == "--png") {
            pngOut = value();
        } else if (a == "--texture") {
            texture = true;
        } else if (a == "--effects") {
            chain = value();
            haveEffects = true;
        } else if (a.size() > 1 && a[0] == '-') {
            usageError("unknown option " + a + " for decode");
        } else if (path.empty()) {
            path = a;
        } else {
            usageError("decode takes one file");
        }
    }
    if (path.empty()) usageError("decode needs a FILE");
    if (!haveFrame) usageError("decode needs --frame N");
    if (rawOut.empty() == pngOut.empty()) usageError("decode needs exactly one of --raw and --png");
    if (texture && pngOut.empty()) usageError("--texture goes with --png");
    if (pngOut == "-") usageError("--png needs a file name");
    const std::vector<Effect> effects = haveEffects ? parseEffects(chain) : std::vector<Effect>();

    VideoDecoder decoder;
    OpenVideo video;
    openVideo(path, decoder, &video);
    if (frame < 0 || frame >= video.frames)
        failure("frame " + std::to_string(frame) + " is not in " + path + " (frames 0.." +
                std::to_string(video.frames - 1) + ")");
    if (!decoder.decodeFrame(video.image, nullptr, 0, frame))
        failure(path + ": frame " + std::to_string(frame) + " does not decode");
    const int w = decoder.width(), h = decoder.height();
    YUVSurface surface(w, h);
    std::memset(surface.pixels(), 0, size_t(surface.bytes()));
    if (!decoder.decodeFrame(video.image, surface.pixels(), surface.bytes(), frame))
        failure(path + ": frame " + std::to_string(frame) + " does not decode");
    runEffects(surface, effects);

    if (!rawOut.empty()) {
        writeWholeFile(rawOut, surface.pixels(), size_t(surface.bytes()));
        return 0;
    }
    std::vector<uint8_t> texels(size_t(surface.bytes()));
    decoder.toARGB(surface.pixels(), texels.data(), w * 4, w, h);
    RgbImage image;
    image.width = w;
    image.height = h;
    image.channels = texture ? 4 : 3;
    if (texture) {
        surface.adjustLevels(0, 1.5f, 3.0f);
        decoder.copyLane(surface.pixels(), texels.data(), 3, w * 4, w, h);
    }
    image.pixels.resize(size_t(w) * h * size_t(image.channels));
    // Texels are B, G, R, A in memory.
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        uint8_t* px = &image.pixels[i * size_t(image.channels)];
        px[0] = texels[4 * i + 2];
        px[1] = texels[4 * i + 1];
        px[2] = texels[4 * i];
        if (texture) px[3] = texels[4 * i + 3];
    }
    std::string error;
    if (!writePng(pngOut, image, &error)) failure(error);
    return 0;
}

// ---------------------------------------------------------------- encode

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // False at the end (error empty) or on failure (error set).
    virtual bool next(YuvPicture* picture, std::string* error) = 0;
    // Where frame i came from, for messages.
    virtual std::string name(int index) const = 0;
};

class Y4mSource : public FrameSource {
  public:
    explicit Y4mSource(const std::string& path) : path(path) {
        std::string error;
        if (!reader.open(path, &error))
            failure((path == "-" ? "standard input" : path) + ": " + error);
    }
    bool next(YuvPicture* picture, std::string* error) override {
        return reader.readFrame(picture, error);
    }
    std::string name(int index) const override {
        return (path == "-" ? std::string("standard input") : path) + " frame " +
               std::to_string(index);
    }
    Y4mReader reader;
    std::string path;
};

class PngSource : public FrameSource {
  public:
    explicit PngSource(std::vector<std::string> files) : files(std::move(files)) {}
    bool next(YuvPicture* picture, std::string* error) override {
        if (at >= files.size()) return false;
        RgbImage image;
        if (!readPng(files[at++], &image, error)) return false;
        *picture = rgbToYuv(image);
        return true;
    }
    std::string name(int index) const override { return files[size_t(index)]; }
    std::vector<std::string> files;
    size_t at = 0;
};

bool endsWithPng(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".png";
}

std::unique_ptr<FrameSource> openSource(const std::string& input) {
    if (input == "-") return std::make_unique<Y4mSource>(input);
    struct stat st;
    if (stat(input.c_str(), &st) != 0)
        failure("cannot open " + input + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) {
        DIR* dir = opendir(input.c_str());
        if (!dir) failure("cannot list " + input + ": " + std::strerror(errno));
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' && endsWithPng(entry->d_name))
                names.push_back(entry->d_name);
        closedir(dir);
        if (names.empty()) failure(input + " holds no .png files");
        std::sort(names.begin(), names.end());
        for (std::string& n : names) n = input + "/" + n;
        return std::make_unique<PngSource>(names);
    }
    std::FILE* f = std::fopen(input.c_str(), "rb");
    if (!f) failure("cannot open " + input + ": " + std::strerror(errno));
    unsigned char magic[9] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);
    static const unsigned char kPngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got >= 8 && std::memcmp(magic, kPngMagic, 8) == 0)
        return std::make_unique<PngSource>(std::vector<std::string>{input});
    if (got == 9 && std::memcmp(magic, "YUV4MPEG2", 9) == 0)
        return std::make_unique<Y4mSource>(input);
    failure(input + " is neither a YUV4MPEG2 stream nor a PNG file");
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Writes the image beside `path` under a temporary name, then moves it into place: a reader
// never sees half a file, and an interrupted run leaves any earlier file as it was.
void publish(const std::string& path, const std::vector<uint8_t>& bytes, bool force) {
    std::string temp = path + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) failure("cannot create a file beside " + path + ": " + std::strerror(errno));
    temp = name.data();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = std::strerror(errno);
            close(fd);
            unlink(temp.c_str());
            failure("cannot write " + temp + ": " + why);
        }
        done += size_t(n);
    }
    fchmod(fd, 0644);
    if (fsync(fd) != 0 || close(fd) != 0) {
        unlink(temp.c_str());
        failure("cannot write " + temp);
    }
    if (force) {
        if (rename(temp.c_str(), path.c_str()) != 0) {
            const std::string why = std::strerror(errno);
            unlink(temp.c_str());
            failure("cannot create " + path + ": " + why);
        }
        return;
    }
    // A hard link fails when the name is taken, so a file that appeared while we encoded is
    // still not replaced.
    if (link(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        if (err == EEXIST) {
            unlink(temp.c_str());
            failure(path + " already exists (use --force to replace it)");
        }
        if (fileExists(path) || rename(temp.c_str(), path.c_str()) != 0) {
            unlink(temp.c_str());
            failure("cannot create " + path + ": " + std::strerror(err));
        }
        return;
    }
    unlink(temp.c_str());
}

int commandEncode(const std::vector<std::string>& args) {
    std::string input, output;
    EncoderOptions options;
    int maxFrames = -1;
    bool force = false, quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--cell") {
            if (!parseCells(value(), &options.cellWidth, &options.cellHeight))
                usageError("--cell needs WxH, not '" + args[i] + "'");
        } else if (a == "--chroma-cell") {
            if (!parseCells(value(), &options.chromaCellWidth, &options.chromaCellHeight))
                usageError("--chroma-cell needs WxH, not '" + args[i] + "'");
        } else if (a == "--shift") {
            if (!parseInt(value(), 0, 7, &options.residualShift))
                usageError("--shift needs a whole number 0..7, not '" + args[i] + "'");
        } else if (a == "--threshold") {
            if (!parseNumber(value(), &options.threshold))
                usageError("--threshold needs a number, not '" + args[i] + "'");
        } else if (a == "--frames") {
            if (!parseInt(value(), 1, INT32_MAX, &maxFrames))
                usageError("--frames needs a positive whole number, not '" + args[i] + "'");
        } else if (a == "--no-interpolate") {
            options.interpolate = false;
        } else if (a == "--raw-luma") {
            options.rawLuma = true;
        } else if (a == "--no-chroma") {
            options.noChroma = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--quiet" || a == "-q") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            usageError("unknown option " + a + " for encode");
        } else if (input.empty()) {
            input = a;
        } else {
            usageError("encode takes one INPUT");
        }
    }
    if (input.empty()) usageError("encode needs an INPUT");
    if (output.empty()) usageError("encode needs -o OUT.vid");
    if (output == "-") usageError("-o needs a file name");
    if (!force && fileExists(output))
        failure(output + " already exists (use --force to replace it)");
    {
        // Cell sizes are checked against a frame size that fits every cell, so that a bad
        // option is reported before any input is read.
        const std::string reason = validateFrameSize(16, 16, options);
        if (!reason.empty()) usageError(reason);
    }

    std::unique_ptr<FrameSource> source = openSource(input);
    if (auto* y4m = dynamic_cast<Y4mSource*>(source.get())) {
        const std::string reason =
            validateFrameSize(y4m->reader.width(), y4m->reader.height(), options);
        if (!reason.empty())
            failure(input == "-" ? "standard input: " + reason : input + ": " + reason);
    }

    VideoDecoder decoder;
    if (decoder.init() < 0) failure("out of memory");
    const bool progress = isatty(STDERR_FILENO) && (quiet || !isatty(STDOUT_FILENO));
    std::vector<std::vector<uint8_t>> records;
    std::vector<uint8_t> check, model;
    double squaredErrorSum = 0;
    int width = 0, height = 0;
    YuvPicture picture;
    std::string error;
    while (maxFrames < 0 || int(records.size()) < maxFrames) {
        const int index = int(records.size());
        if (!source->next(&picture, &error)) {
            if (!error.empty()) failure(error);
            break;
        }
        if (index == 0) {
            width = picture.width;
            height = picture.height;
            const std::string reason = validateOptions(picture, options);
            if (!reason.empty()) failure(source->name(0) + ": " + reason);
        } else if (picture.width != width || picture.height != height) {
            failure(source->name(index) + " is " + cellText(picture.width, picture.height) +
                    ", the first frame " + cellText(width, height));
        }

        FrameStats stats;
        std::vector<uint8_t> payload = encodePayload(picture, options, &stats);
        std::vector<uint8_t> record = encodeRecord(payload);
        stats.recordBytes = record.size();

        // The frame goes into the file only if the decoder rebuilds exactly what we encoded.
        check.assign(size_t(width) * height * 4, 0);
        std::string why;
        if (!modelFrame(payload, &model, &why) ||
            decoder.decodeRecord(record.data(), check.data(), int(check.size()),
                                 int(record.size())) != 1 ||
            check != model)
            failure("internal error: " + source->name(index) +
                    " does not decode as it was encoded; nothing written");
        records.push_back(std::move(record));

        if (std::isfinite(stats.lumaPsnr))
            squaredErrorSum += 255.0 * 255.0 / std::pow(10.0, stats.lumaPsnr / 10.0);
        if (!quiet) {
            const int cells =
                options.rawLuma ? 0 : (width / options.cellWidth) * (height / options.cellHeight);
            char psnr[32] = "exact";
            if (std::isfinite(stats.lumaPsnr))
                std::snprintf(psnr, sizeof psnr, "%.2f dB", stats.lumaPsnr);
            std::printf("frame %d: %zu bytes, luma PSNR %s", index, stats.recordBytes, psnr);
            if (!options.rawLuma)
                std::printf(", residuals in %d of %d cells", stats.residualCells, cells);
            std::printf("\n");
            std::fflush(stdout);
        }
        if (progress) std::fprintf(stderr, "\rencoding frame %d", index);
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    if (records.empty()) failure(input + " holds no frames");

    const std::vector<uint8_t> image = buildVideoImage(records);
    {
        VideoDecoder verify;
        verify.init();
        if (verify.open(VideoImage{image.data(), int32_t(image.size())}) != int(records.size()) + 1)
            failure("internal error: the assembled video does not open; nothing written");
    }
    publish(output, image, force);

    const double meanSquaredError = squaredErrorSum / double(records.size());
    char psnr[32] = "exact";
    if (meanSquaredError > 0)
        std::snprintf(psnr, sizeof psnr, "%.2f dB",
                      10.0 * std::log10(255.0 * 255.0 / meanSquaredError));
    std::printf("%s: %zu frame%s, %zu bytes, %dx%d, luma PSNR %s over all frames\n", output.c_str(),
                records.size(), records.size() == 1 ? "" : "s", image.size(), width, height, psnr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty()) usageError("no command (see quillmere-vid --help)");
        const std::string command = args[0];
        args.erase(args.begin());
        const bool help = command == "--help" || command == "-h" || command == "help" ||
                          std::find(args.begin(), args.end(), "--help") != args.end() ||
                          std::find(args.begin(), args.end(), "-h") != args.end();
        if (help) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (command == "info") return commandInfo(args);
        if (command == "decode") return commandDecode(args);
        if (command == "encode") return commandEncode(args);
        usageError("unknown command '" + command + "' (info, decode, encode; see --help)");
    } catch (const Failure& f) {
        std::fprintf(stderr, "quillmere-vid: %s\n", f.message.c_str());
        return f.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quillmere-vid: out of memory\n");
        return kFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillmere-vid: %s\n", e.what());
        return kFailure;
    }
}
