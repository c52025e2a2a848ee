#pragma once
// The command line of both programs (the Linux one and the Windows one): one parser, the same
// flags and the same messages. A program names the flags it offers; any other is refused as
// unknown. Bad arguments end the program with one line on standard error and status 2.
#include <cstdint>
#include <string>
#include <vector>

#include "backend/emulated/key_schedule.h"

enum Flag : unsigned {
    kFlagHeadless = 1u << 0,
    kFlagWindowed = 1u << 1,
    kFlagFullscreen = 1u << 2,
    kFlagFrameStats = 1u << 3,
    kFlagNoDialogs = 1u << 4,
    kFlagFps = 1u << 5,
    kFlagFrames = 1u << 6,
    kFlagAssets = 1u << 7,
    kFlagTrace = 1u << 8,
    kFlagPress = 1u << 9,
    kFlagCapture = 1u << 10,
    kFlagScreenshot = 1u << 11,
    kFlagFrom = 1u << 12,
    kFlagTo = 1u << 13,
    kFlagOverwrite = 1u << 14,
    kFlagCrf = 1u << 15,
    kFlagThreads = 1u << 16,
    kFlagScale = 1u << 17,
    kFlagRenderer = 1u << 18,
};

// Which renderer draws: the CPU renderer, the GPU renderer, or the GPU renderer only where a
// GPU is behind it.
enum class RendererChoice { kAuto, kCpu, kGl };

struct Options {
    // Flags given, as a set of Flag bits.
    unsigned given = 0;
    std::string assets;
    std::string trace;
    std::string capture;
    std::string screenshot;
    uint32_t fps = 60;
    // 0: no limit.
    uint64_t frameLimit = 0;
    std::vector<KeyPress> presses;
    // Milliseconds of show time; -1 when not given.
    int64_t screenshotMs = -1;
    int64_t fromMs = -1;
    int64_t toMs = -1;
    // -1 when not given.
    int crf = -1;
    // Threads that draw each frame; 0 when not given.
    int threads = 0;
    // Pixels drawn per pixel of the show's 640 × 480 device, 1 to 4.
    int scale = 1;
    RendererChoice renderer = RendererChoice::kAuto;

    bool has(unsigned flags) const { return (given & flags) != 0; }
};

// Reads args (without the program's name). --help prints `usage` and --version prints `version`
// on standard output, and the program ends with status 0.
Options parseOptions(const std::vector<std::string>& args, unsigned offered, const char* usage,
                     const char* version);

// Ends the program: "quillmere: REASON (see --help)", status 2.
[[noreturn]] void usageError(const std::string& reason);

// Whether `dir` holds the show's data and vid folders.
bool hasAssets(const std::string& dir);
