#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

// The show lasts at most 140 s; a day is far beyond any show and far inside 64-bit arithmetic.
constexpr double kMaxSeconds = 86400.0;

long long parseNumber(const std::string& flag, const std::string& text, long long low,
                      long long high) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno == ERANGE || value < low || value > high)
        usageError(flag + " needs a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not '" + text + "'");
    return value;
}

// Seconds of show time as plain decimal digits with at most one point, to whole milliseconds.
int64_t parseSeconds(const std::string& flag, const std::string& text) {
    bool digit = false;
    int points = 0;
    bool plain = true;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && points == 0) {
            ++points;
        } else {
            plain = false;
        }
    }
    const double seconds = plain && digit ? std::strtod(text.c_str(), nullptr) : -1.0;
    if (!(seconds >= 0.0 && seconds <= kMaxSeconds))
        usageError(flag + " needs seconds of show time such as 12 or 12.5, not '" + text + "'");
    return std::llround(seconds * 1000.0);
}

// The flags that take no value.
struct Switch {
    const char* name;
    Flag flag;
};
constexpr Switch kSwitches[] = {
    {"--headless", kFlagHeadless},     {"--windowed", kFlagWindowed},
    {"--fullscreen", kFlagFullscreen}, {"--frame-stats", kFlagFrameStats},
    {"--no-dialogs", kFlagNoDialogs},  {"--overwrite", kFlagOverwrite},
};

}  // namespace

void usageError(const std::string& reason) {
    std::fprintf(stderr, "quillmere: %s (see --help)\n", reason.c_str());
    std::exit(2);
}

Options parseOptions(const std::vector<std::string>& args, unsigned offered, const char* usage,
                     const char* version) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usageError(arg + " needs a value");
            return args[++i];
        };
        auto offers = [&](Flag flag) {
            if ((offered & flag) == 0) usageError("unknown argument '" + arg + "'");
            options.given |= flag;
        };
        const Switch* shown = nullptr;
        for (const Switch& candidate : kSwitches) {
            if (arg == candidate.name) shown = &candidate;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("%s\n", version);
            std::exit(0);
        } else if (shown != nullptr) {
            offers(shown->flag);
        } else if (arg == "--fps") {
            offers(kFlagFps);
            options.fps = uint32_t(parseNumber(arg, value(), 1, 1000));
        } else if (arg == "--frames") {
            offers(kFlagFrames);
            options.frameLimit = uint64_t(parseNumber(arg, value(), 1, 1LL << 40));
        } else if (arg == "--assets") {
            offers(kFlagAssets);
            options.assets = value();
        } else if (arg == "--trace") {
            offers(kFlagTrace);
            options.trace = value();
        } else if (arg == "--press") {
            offers(kFlagPress);
            const std::string& text = value();
            KeyPress press;
            if (!parseKeyPress(text.c_str(), &press))
                usageError(
                    "--press needs KEY@SECONDS with KEY one of F1 F2 F3 F4 NUMLOCK DIVIDE "
                    "ESCAPE, not '" +
                    text + "'");
            options.presses.push_back(press);
        } else if (arg == "--capture") {
            offers(kFlagCapture);
            options.capture = value();
            if (options.capture.empty())
                usageError("--capture needs a folder" +
                           std::string((offered & kFlagCrf) != 0 ? ", a video file or '-'" : ""));
        } else if (arg == "--screenshot") {
            offers(kFlagScreenshot);
            options.screenshotMs = parseSeconds(arg, value());
            options.screenshot = value();
        } else if (arg == "--from") {
            offers(kFlagFrom);
            options.fromMs = parseSeconds(arg, value());
        } else if (arg == "--to") {
            offers(kFlagTo);
            options.toMs = parseSeconds(arg, value());
        } else if (arg == "--threads") {
            offers(kFlagThreads);
            options.threads = int(parseNumber(arg, value(), 1, 256));
        } else if (arg == "--scale") {
            offers(kFlagScale);
            options.scale = int(parseNumber(arg, value(), 1, 4));
        } else if (arg == "--renderer") {
            offers(kFlagRenderer);
            const std::string& text = value();
            if (text == "cpu") {
                options.renderer = RendererChoice::kCpu;
            } else if (text == "gl") {
                options.renderer = RendererChoice::kGl;
            } else if (text == "auto") {
                options.renderer = RendererChoice::kAuto;
            } else {
                usageError("--renderer needs cpu, gl or auto, not '" + text + "'");
            }
        } else if (arg == "--crf") {
            offers(kFlagCrf);
            options.crf = int(parseNumber(arg, value(), 0, 63));
        } else {
            usageError("unknown argument '" + arg + "'");
        }
    }
    if (options.toMs >= 0 && options.toMs <= (options.fromMs > 0 ? options.fromMs : 0))
        usageError("--to must be later than --from");
    return options;
}

bool hasAssets(const std::string& dir) {
    std::error_code error;
    const std::filesystem::path folder(dir);
    return std::filesystem::is_directory(folder / "data", error) &&
           std::filesystem::is_directory(folder / "vid", error);
}
