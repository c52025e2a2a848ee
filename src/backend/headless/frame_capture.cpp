#include "backend/headless/frame_capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>

extern char** environ;

namespace {

std::string lowerExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool exists(const std::string& path, struct stat* info) {
    return stat(path.c_str(), info) == 0;
}

bool folderIsEmpty(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(dir);
    return empty;
}

// Seconds with six decimals from a whole number of microseconds.
std::string seconds(uint64_t microseconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%06llu",
                  static_cast<unsigned long long>(microseconds / 1000000u),
                  static_cast<unsigned long long>(microseconds % 1000000u));
    return text;
}

std::string frameFileName(uint64_t frame) {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%06llu.png", static_cast<unsigned long long>(frame));
    return name;
}

std::string clockText(double totalSeconds) {
    if (!(totalSeconds >= 0.0)) totalSeconds = 0.0;
    long s = long(totalSeconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

struct PngWriteState {
    std::jmp_buf jump;
    std::string message;
};

void pngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngWriteState*>(png_get_error_ptr(png));
    state->message = message != nullptr ? message : "libpng error";
    std::longjmp(state->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Everything libpng touches between its setjmp and a longjmp lives in the caller, so that
// nothing with a destructor is skipped by the jump.
bool encodePng(std::FILE* file, const uint8_t* rgb, int width, int height, PngWriteState* state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, pngError, pngWarning);
    if (png == nullptr) {
        state->message = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        state->message = "out of memory";
        return false;
    }
    if (setjmp(state->jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    // Fast zlib settings: a capture writes thousands of frames, and the level hardly changes the
    // size of a painted picture.
    png_set_compression_level(png, 2);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(rgb + size_t(y) * size_t(width) * 3));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

// ---- window ----

// ---- names and paths ----

std::string videoContainer(const std::string& path) {
    std::string ext = lowerExtension(path);
    return ext == "mp4" || ext == "mkv" || ext == "webm" ? ext : "";
}

bool isVideoPath(const std::string& path) {
    return !videoContainer(path).empty();
}

bool isPngPath(const std::string& path) {
    return lowerExtension(path) == "png";
}

std::string partialPath(const std::string& path) {
    return path + ".part";
}

std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return "";
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        // An empty entry is the current folder, as the shell reads PATH.
        std::string dir = end > start ? list.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + program;
        struct stat info;
        if (exists(candidate, &info) && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return "";
}

bool writeRgbPng(const std::string& path, const uint32_t* pixels, int width, int height,
                 std::string* error) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (size_t i = 0, n = size_t(width) * size_t(height); i < n; ++i) {
        rgb[3 * i] = uint8_t(pixels[i] >> 16);
        rgb[3 * i + 1] = uint8_t(pixels[i] >> 8);
        rgb[3 * i + 2] = uint8_t(pixels[i]);
    }
    const std::string partial = partialPath(path);
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    PngWriteState state;
    bool encoded = encodePng(file, rgb.data(), width, height, &state);
    // libpng says only "Write Error" when the file cannot grow; the system's reason is better.
    if (!encoded && std::ferror(file)) state.message = std::strerror(errno);
    bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    int savedErrno = errno;
    bool closed = std::fclose(file) == 0;
    if (!encoded || !flushed || !closed) {
        std::remove(partial.c_str());
        *error = "cannot write " + path + ": " +
                 (!encoded ? state.message : std::string(std::strerror(savedErrno)));
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> ffmpegArguments(const CaptureOutput& output, const CaptureWindow& window,
                                         uint64_t firstFrame) {
    // The back buffer's pixels are 0xAARRGGBB words: B, G, R, A in memory on a little-endian
    // machine.
    const uint32_t probe = 1;
    const bool littleEndian = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    const std::string container = videoContainer(output.path);
    const std::string size = std::to_string(kCaptureWidth * output.scale) + "x" +
                             std::to_string(kCaptureHeight * output.scale);
    std::vector<std::string> args = {
        "-hide_banner", "-loglevel", "error",      "-nostdin",
        "-f",           "rawvideo",  "-pix_fmt",   littleEndian ? "bgra" : "argb",
        "-video_size",  size,        "-framerate", std::to_string(window.fps),
        "-i",           "pipe:0"};
    const bool music = !output.music.empty();
    if (music) {
        // The first frame shows the show at its own show time; the music under it starts there.
        args.insert(args.end(), {"-ss", seconds(firstFrame * 1000000u / window.fps), "-i",
                                 output.music, "-map", "0:v:0", "-map", "1:a:0"});
    }
    if (container == "webm") {
        args.insert(args.end(), {"-c:v", "libvpx-vp9", "-crf", std::to_string(output.crf), "-b:v",
                                 "0", "-row-mt", "1", "-pix_fmt", "yuv420p"});
        if (music) args.insert(args.end(), {"-c:a", "libopus", "-b:a", "128k", "-ar", "48000"});
    } else {
        // The encoder was a third of a capture's processor time with x264's default preset.
        // "superfast" needs less than a third of that, for a PSNR as good or a little better
        // and files about 45 % larger: the capture of the whole show then takes less time than
        // the show on two cores. A larger --crf trades the size back (20: 12 % larger than the
        // default preset's, 1 dB lower PSNR).
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "superfast", "-crf",
                                 std::to_string(output.crf), "-pix_fmt", "yuv420p"});
        if (music) args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k"});
        if (container == "mp4") args.insert(args.end(), {"-movflags", "+faststart"});
    }
    if (music) {
        // The picture decides the length: the music is padded with silence should it end
        // first and cut where the frames end.
        args.insert(args.end(), {"-af", "apad", "-shortest"});
    }
    // ffmpeg writes under the partial name, so the extension no longer names the container;
    // the file is ours to replace, and the finished video takes its name only once complete.
    const std::string muxer = container == "mkv" ? "matroska" : container;
    // -xerror: ffmpeg otherwise reports a video it could not finish (the disk full as the
    // index is written) and still ends with status 0.
    args.insert(args.end(), {"-xerror", "-f", muxer, "-y", partialPath(output.path)});
    return args;
}

// ---- capture ----

FrameCapture::FrameCapture(CaptureOutput output, CaptureWindow window, const VirtualClock& clock)
    : output_(std::move(output)), window_(window), clock_(clock) {
    started_ = std::chrono::steady_clock::now();
}

FrameCapture::~FrameCapture() {
    std::string ignored;
    if (encoder_ > 0) finish(&ignored);
}

bool FrameCapture::prepare(std::string* error, int* status) {
    struct stat info;
    const bool present = output_.kind != CaptureKind::kRaw && exists(output_.path, &info);
    switch (output_.kind) {
        case CaptureKind::kRaw:
            break;
        case CaptureKind::kFolder:
            if (present && !S_ISDIR(info.st_mode)) {
                *error = output_.path + " exists and is not a folder";
                *status = 2;
                return false;
            }
            if (present && !output_.overwrite && !folderIsEmpty(output_.path)) {
                *error =
                    "the folder " + output_.path + " is not empty (--overwrite writes into it)";
                *status = 2;
                return false;
            }
            if (!present && mkdir(output_.path.c_str(), 0777) != 0) {
                *error = "cannot create " + output_.path + ": " + std::strerror(errno);
                *status = 1;
                return false;
            }
            break;
        case CaptureKind::kPicture:
        case CaptureKind::kVideo:
            if (present && S_ISDIR(info.st_mode)) {
                *error = output_.path + " is a folder";
                *status = 2;
                return false;
            }
            if (present && !output_.overwrite) {
                *error = output_.path + " exists (--overwrite replaces it)";
                *status = 2;
                return false;
            }
            break;
    }
    if (output_.kind == CaptureKind::kVideo) {
        if (output_.ffmpeg.empty()) output_.ffmpeg = findOnPath("ffmpeg");
        if (output_.ffmpeg.empty()) {
            *error = "ffmpeg is needed to write " + output_.path + " and is not on PATH";
            *status = 1;
            return false;
        }
    }
    started_ = std::chrono::steady_clock::now();
    return true;
}

void FrameCapture::stop(const std::string& reason) {
    fail(reason);
    stopped_ = true;
}

void FrameCapture::fail(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    error_ = reason;
}

bool FrameCapture::startEncoder(uint64_t firstFrame) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        fail(std::string("cannot start ffmpeg: ") + std::strerror(errno));
        return false;
    }
    std::vector<std::string> args = ffmpegArguments(output_, window_, firstFrame);
    args.insert(args.begin(), output_.ffmpeg);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    pid_t pid = -1;
    int result = posix_spawn(&pid, output_.ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (result != 0) {
        close(fds[1]);
        fail("cannot start " + output_.ffmpeg + ": " + std::strerror(result));
        return false;
    }
    encoder_ = pid;
    encoderInput_ = fds[1];
    // The show's own work runs on one thread between the raster's parallel parts; the encoder
    // should fill that idle time rather than take processors from the raster. Set before
    // ffmpeg starts its encoding threads, which inherit it; failing to set it only costs time.
    setpriority(PRIO_PROCESS, id_t(pid), 10);
    // A whole frame fits the pipe at once where the system allows it (otherwise it stays as
    // it is): fewer switches between the writer and ffmpeg.
    fcntl(encoderInput_, F_SETPIPE_SZ, 1 << 20);
    encoderQueue_ = std::make_unique<FrameQueue>(encoderInput_);
    return true;
}

uint64_t FrameCapture::presentingFrame() const {
    if (failed_ || !clock_.musicStarted() || !window_.contains(clock_.frame())) return 0;
    return clock_.frame();
}

void FrameCapture::presentFrame(const uint32_t* pixels, int width, int height) {
    presentLateFrame(presentingFrame(), pixels, width, height);
}

void FrameCapture::presentLateFrame(uint64_t frame, const uint32_t* pixels, int width, int height) {
    if (failed_ || frame == 0 || !window_.contains(frame)) return;
    if (written_ > 0 && frame == last_) return;
    const int wantedWidth = kCaptureWidth * output_.scale;
    const int wantedHeight = kCaptureHeight * output_.scale;
    if (width != wantedWidth || height != wantedHeight) {
        fail("the show presented a " + std::to_string(width) + "x" + std::to_string(height) +
             " frame; captures are " + std::to_string(wantedWidth) + "x" +
             std::to_string(wantedHeight));
        return;
    }
    const size_t count = size_t(width) * size_t(height);
    std::string error;
    switch (output_.kind) {
        case CaptureKind::kFolder:
            if (!writeRgbPng(output_.path + "/" + frameFileName(frame), pixels, width, height,
                             &error)) {
                fail(error);
                return;
            }
            break;
        case CaptureKind::kPicture:
            if (!writeRgbPng(output_.path, pixels, width, height, &error)) {
                fail(error);
                return;
            }
            break;
        case CaptureKind::kVideo:
            // The music starts under this frame: drawn by workers, it arrives once the clock
            // has moved on.
            if (encoder_ < 0 && !startEncoder(frame)) return;
            if (!encoderQueue_->push(pixels, count * 4)) {
                // ffmpeg stopped reading; finish() reports how it ended.
                fail("ffmpeg stopped taking frames");
                return;
            }
            break;
        case CaptureKind::kRaw:
            bytes_.resize(count * 4);
            for (size_t i = 0; i < count; ++i) {
                bytes_[4 * i] = uint8_t(pixels[i] >> 16);
                bytes_[4 * i + 1] = uint8_t(pixels[i] >> 8);
                bytes_[4 * i + 2] = uint8_t(pixels[i]);
                // The back buffer's alpha is a by-product of blending, not part of the picture.
                bytes_[4 * i + 3] = 0xFF;
            }
            if (!writeAll(STDOUT_FILENO, bytes_.data(), bytes_.size())) {
                fail(std::string("cannot write to standard output: ") + std::strerror(errno));
                return;
            }
            break;
    }
    if (written_ == 0) {
        first_ = frame;
        firstWrittenAt_ = std::chrono::steady_clock::now();
    }
    last_ = frame;
    ++written_;
    progress(frame, false);
}

bool FrameCapture::finish(std::string* error) {
    // A stopped capture is thrown away: ffmpeg need not finish a video nobody keeps, and the
    // frames still queued for it fail at once.
    if (encoder_ > 0 && stopped_) kill(encoder_, SIGKILL);
    if (encoderQueue_) {
        if (!encoderQueue_->drain()) fail("ffmpeg stopped taking frames");
        encoderQueue_.reset();
    }
    if (encoderInput_ >= 0) {
        close(encoderInput_);
        encoderInput_ = -1;
    }
    if (encoder_ > 0) {
        int status = 0;
        pid_t waited;
        do {
            waited = waitpid(encoder_, &status, 0);
        } while (waited < 0 && errno == EINTR);
        encoder_ = -1;
        if (waited < 0) {
            fail("lost track of ffmpeg");
        } else if (stopped_) {
            // The reason the capture was stopped stands; how ffmpeg ended follows from it.
        } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
            failed_ = true;
            error_ = "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            failed_ = true;
            error_ = "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status));
        }
        if (!failed_) placeVideo();
        if (failed_) std::remove(partialPath(output_.path).c_str());
    }
    if (written_ > 0) {
        progress(last_, true);
    } else if (terminal_ != nullptr && progressShown_) {
        // Only the run-up was shown: clear it for the message that follows.
        std::fputs("\r\033[K", terminal_);
        std::fflush(terminal_);
    }
    if (failed_) *error = error_;
    return !failed_;
}

void FrameCapture::placeVideo() {
    const std::string partial = partialPath(output_.path);
    if (output_.overwrite) {
        if (std::rename(partial.c_str(), output_.path.c_str()) != 0)
            fail("cannot create " + output_.path + ": " + std::strerror(errno));
        return;
    }
    // A hard link fails when the name is taken, so a file that appeared while the show ran is
    // still not replaced.
    if (link(partial.c_str(), output_.path.c_str()) != 0) {
        const int err = errno;
        struct stat info;
        if (err == EEXIST || exists(output_.path, &info)) {
            fail(output_.path + " appeared during the capture and is kept");
        } else if (std::rename(partial.c_str(), output_.path.c_str()) != 0) {
            // A file system without hard links gets the plain rename.
            fail("cannot create " + output_.path + ": " + std::strerror(err));
        }
        return;
    }
    std::remove(partial.c_str());
}

void FrameCapture::showProgress(std::FILE* terminal, uint64_t expectedLastFrame) {
    terminal_ = terminal;
    expectedLast_ = expectedLastFrame;
}

void FrameCapture::frameBegun(uint64_t frame) {
    if (terminal_ == nullptr || frame >= window_.firstFrame()) return;
    const auto now = std::chrono::steady_clock::now();
    if (progressShown_ && now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    progressShown_ = true;
    std::fprintf(terminal_, "\rrunning up to %.2f s: show %.2f s\033[K",
                 double(window_.showMs(window_.firstFrame())) / 1000.0,
                 double(window_.showMs(frame)) / 1000.0);
    std::fflush(terminal_);
}

std::string FrameCapture::summary() const {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::string where;
    switch (output_.kind) {
        case CaptureKind::kRaw:
            where = "standard output";
            break;
        case CaptureKind::kFolder:
            where = output_.path + "/";
            break;
        default:
            where = output_.path;
    }
    char text[256];
    if (written_ == 0) {
        std::snprintf(text, sizeof text, "no frame written to %s", where.c_str());
        return text;
    }
    std::snprintf(text, sizeof text,
                  "%llu frame%s (%llu to %llu, show time %.3f s to %.3f s at %u fps) written to "
                  "%s in %.1f s",
                  static_cast<unsigned long long>(written_), written_ == 1 ? "" : "s",
                  static_cast<unsigned long long>(first_), static_cast<unsigned long long>(last_),
                  double(window_.showMs(first_)) / 1000.0, double(window_.showMs(last_)) / 1000.0,
                  window_.fps, where.c_str(), elapsed);
    std::string line = text;
    // The rate of the frames written; the run-up before a window is not part of it.
    const double writing =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - firstWrittenAt_).count();
    if (written_ > 1 && writing > 0.0) {
        std::snprintf(text, sizeof text, ", %.1f frames/s", double(written_) / writing);
        line += text;
    }
    return line;
}

void FrameCapture::progress(uint64_t frame, bool final) {
    if (terminal_ == nullptr) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && progressShown_ && now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    progressShown_ = true;
    // The rate of the frames written, measured from the first: the run-up before a window is
    // not part of it.
    const double writing = std::chrono::duration<double>(now - firstWrittenAt_).count();
    const double rate = written_ > 1 && writing > 0.0 ? double(written_ - 1) / writing : 0.0;
    std::string bar;
    std::string total;
    std::string eta;
    if (expectedLast_ >= window_.firstFrame()) {
        const uint64_t frames = expectedLast_ - window_.firstFrame() + 1;
        const double done = std::min(1.0, double(written_) / double(frames));
        const int width = 24;
        const int filled = int(done * width);
        bar = "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '.') +
              "] ";
        total = "/" + std::to_string(frames);
        if (rate > 0.0 && frames > written_) eta = "  ETA " + clockText((frames - written_) / rate);
    }
    std::fprintf(terminal_, "\r%sframe %llu%s  show %.2f s  %.1f frames/s%s\033[K", bar.c_str(),
                 static_cast<unsigned long long>(written_), total.c_str(),
                 double(window_.showMs(frame)) / 1000.0, rate, eta.c_str());
    if (final) std::fputc('\n', terminal_);
    std::fflush(terminal_);
}
