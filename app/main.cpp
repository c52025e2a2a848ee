// quillmere: runs the show. For now the show runs on the headless backend (virtual clock, no
// window, no sound); --trace writes every call it makes to the outside, one line each.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/headless/headless_backend.h"
#include "backend/recording/recording_backend.h"
#include "shell/show.h"

namespace {

const char* const kUsage =
    "usage: quillmere [--headless] [--fps N] [--frames N] [--assets DIR] [--trace FILE]\n"
    "                 [--press KEY@SECONDS]... [--help] [--version]\n"
    "\n"
    "Plays the show. Without a desktop backend it runs headless: a virtual clock at --fps\n"
    "frames per second of show time, no window and no sound, as fast as the machine allows.\n"
    "\n"
    "  --headless           run without window or sound (the only mode so far)\n"
    "  --fps N              frames per second of the virtual clock, 1..1000 (default 60)\n"
    "  --frames N           stop after N frames of the show, as if the window were closed\n"
    "  --assets DIR         folder holding data/ and vid/ (default: the current folder if it\n"
    "                       has them, else the program's own folder)\n"
    "  --trace FILE         write every outside call to FILE ('-' for standard output), one\n"
    "                       line each, with a line 'frame K' before the K-th frame's calls\n"
    "  --press KEY@SECONDS  press and release KEY at that show time; KEY is one of F1 F2 F3\n"
    "                       F4 NUMLOCK DIVIDE ESCAPE (repeatable)\n"
    "  --help               show this text\n"
    "  --version            show the version\n";

[[noreturn]] void usageError(const std::string& reason) {
    std::fprintf(stderr, "quillmere: %s (see --help)\n", reason.c_str());
    std::exit(2);
}

long parseNumber(const char* flag, const char* text, long low, long high) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || value < low || value > high)
        usageError(std::string(flag) + " needs a whole number from " + std::to_string(low) +
                   " to " + std::to_string(high) + ", not '" + text + "'");
    return value;
}

bool hasAssets(const std::string& dir) {
    return access((dir + "/data").c_str(), F_OK) == 0 && access((dir + "/vid").c_str(), F_OK) == 0;
}

std::string programFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    std::string s(path);
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

// The headless backend with the app's two additions at the start of each frame (the frame's
// first outside call is its message peek): the 'frame K' line of the trace, and the stop after
// --frames, delivered as the quit message so the show shuts down in its usual order.
class AppBackend : public HeadlessBackend {
  public:
    AppBackend(HeadlessOptions options, long frameLimit, std::FILE* trace)
        : HeadlessBackend(std::move(options)), frameLimit_(frameLimit), trace_(trace) {}

    BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                      UINT removeFlags) override {
        BOOL result =
            HeadlessBackend::PeekMessageA(message, window, filterMin, filterMax, removeFlags);
        uint64_t frame = clock().frame();
        if (frame == frameSeen_) return result;
        frameSeen_ = frame;
        if (frameLimit_ > 0 && frame > uint64_t(frameLimit_)) {
            quitting_ = true;
            if (message != nullptr) {
                std::memset(message, 0, sizeof *message);
                message->message = WM_QUIT;
            }
            return TRUE;
        }
        if (trace_ != nullptr) std::fprintf(trace_, "frame %llu\n", (unsigned long long)frame);
        return result;
    }

    BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) override {
        if (quitting_) {
            if (message != nullptr) {
                std::memset(message, 0, sizeof *message);
                message->message = WM_QUIT;
            }
            return 0;
        }
        return HeadlessBackend::GetMessageA(message, window, filterMin, filterMax);
    }

  private:
    long frameLimit_;
    std::FILE* trace_;
    uint64_t frameSeen_ = 0;
    bool quitting_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    HeadlessOptions options;
    long frameLimit = 0;
    std::string assets;
    std::string tracePath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* flag) -> const char* {
            if (i + 1 >= argc) usageError(std::string(flag) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("quillmere %s\n", QM_VERSION);
            return 0;
        } else if (arg == "--headless") {
        } else if (arg == "--fps") {
            options.fps = uint32_t(parseNumber("--fps", value("--fps"), 1, 1000));
        } else if (arg == "--frames") {
            frameLimit = parseNumber("--frames", value("--frames"), 1, LONG_MAX);
        } else if (arg == "--assets") {
            assets = value("--assets");
        } else if (arg == "--trace") {
            tracePath = value("--trace");
        } else if (arg == "--press") {
            const char* text = value("--press");
            KeyPress press;
            if (!parseKeyPress(text, &press))
                usageError(std::string("--press needs KEY@SECONDS with KEY one of F1 F2 F3 F4 "
                                       "NUMLOCK DIVIDE ESCAPE, not '") +
                           text + "'");
            options.presses.push_back(press);
        } else {
            usageError("unknown argument '" + arg + "'");
        }
    }

    if (assets.empty()) assets = hasAssets(".") ? "." : programFolder();
    if (!hasAssets(assets)) {
        std::fprintf(stderr, "quillmere: no data/ and vid/ folders in %s (use --assets DIR)\n",
                     assets.c_str());
        return 1;
    }
    if (chdir(assets.c_str()) != 0) {
        std::fprintf(stderr, "quillmere: cannot enter %s\n", assets.c_str());
        return 1;
    }

    std::FILE* trace = nullptr;
    if (tracePath == "-") {
        trace = stdout;
    } else if (!tracePath.empty()) {
        trace = std::fopen(tracePath.c_str(), "w");
        if (trace == nullptr) {
            std::fprintf(stderr, "quillmere: cannot write %s: %s\n", tracePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    AppBackend headless(options, frameLimit, trace);
    if (trace != nullptr) {
        // The recorder sits in front of the headless services and writes each call as it
        // returns; a long run keeps nothing in memory.
        static RecordingBackend recorder(headless.services());
        recorder.keepLines(false);
        recorder.writeTo(trace);
        useBackend(recorder.services());
    } else {
        useBackend(headless.services());
    }
    int status = runShow(nullptr, nullptr, "", 1);
    if (trace != nullptr) std::fflush(trace);
    return status;
}
