#include "content/frame_stats.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace content {

namespace {

// Luma with integer weights that sum to 256, so pure white stays 255.
int greyOf(const uint8_t* p) {
    return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8;
}

bool parseCount(const char* text, int lo, int hi, int* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < lo || v > hi) return false;
    *value = int(v);
    return true;
}

}  // namespace

FrameStats measureFrame(const uint8_t* rgba, int width, int height) {
    FrameStats stats;
    const size_t count = size_t(width) * height;
    if (count == 0) return stats;
    int histogram[256] = {};
    size_t white = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = rgba + 4 * i;
        white += p[0] >= kWhiteLevel && p[1] >= kWhiteLevel && p[2] >= kWhiteLevel;
        ++histogram[greyOf(p)];
    }
    // The lower median: the first grey at which half the pixels are reached.
    size_t seen = 0;
    int median = 0;
    while (median < 255 && (seen += histogram[median]) * 2 < count) ++median;
    size_t marked = 0;
    for (int g = 0; g < 256; ++g)
        if (std::abs(g - median) > kMarkContrast) marked += histogram[g];
    stats.white = double(white) / count;
    stats.marked = double(marked) / count;
    stats.medianGrey = median;
    return stats;
}

void ShowStats::add(const FrameStats& f) {
    ++frames;
    mostlyWhite += f.white > 0.9;
    halfWhite += f.white > 0.5;
    marked += f.marked >= 0.005;
}

bool ShowStats::within(const ShowLimits& limits) const {
    if (frames == 0) return false;
    return mostlyWhite <= limits.mostlyWhiteShare * frames &&
           halfWhite <= limits.halfWhiteShare * frames && marked >= limits.markedShare * frames;
}

bool measureStream(std::istream& in, int fps, std::ostream* each, ShowStats* stats,
                   std::string* error) {
    const size_t frameBytes = size_t(kFrameWidth) * kFrameHeight * 4;
    std::vector<uint8_t> frame(frameBytes);
    for (;;) {
        in.read(reinterpret_cast<char*>(frame.data()), std::streamsize(frameBytes));
        const size_t got = size_t(in.gcount());
        if (got == 0) return true;
        if (got < frameBytes) {
            *error = "the stream ends inside frame " + std::to_string(stats->frames + 1) + " (" +
                     std::to_string(got) + " of " + std::to_string(frameBytes) + " bytes)";
            return false;
        }
        const FrameStats f = measureFrame(frame.data(), kFrameWidth, kFrameHeight);
        stats->add(f);
        if (each) {
            const int k = stats->frames;
            const long ms = long(k) * 1000 / fps;
            char line[96];
            std::snprintf(line, sizeof line,
                          "%5d %7.1f s  white %5.1f%%  marked %5.2f%%  median %3d\n", k,
                          ms / 1000.0, 100 * f.white, 100 * f.marked, f.medianGrey);
            *each << line;
        }
    }
}

int runFrameStats(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    const char* const name = "quillmere-frame-stats: ";
    int fps = 60, minFrames = 1;
    bool each = false, check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--each") {
            each = true;
        } else if (a == "--check") {
            check = true;
        } else if ((a == "--fps" || a == "--min-frames") && i + 1 < argc) {
            int* target = a == "--fps" ? &fps : &minFrames;
            if (!parseCount(argv[++i], 1, 1000000, target)) {
                err << name << "bad value '" << argv[i] << "' for " << a << "\n";
                return 2;
            }
        } else {
            err << name
                << "usage: quillmere-frame-stats [--fps N] [--each] [--check] "
                   "[--min-frames N] < raw 640x480 RGBA frames\n";
            return 2;
        }
    }
    ShowStats stats;
    std::string error;
    if (!measureStream(in, fps, each ? &out : nullptr, &stats, &error)) {
        err << name << error << "\n";
        return 1;
    }
    auto percent = [&](int n) { return stats.frames ? 100.0 * n / stats.frames : 0.0; };
    char line[200];
    std::snprintf(line, sizeof line,
                  "%d frames: %.1f%% more than 90%% white, %.1f%% more than half white, "
                  "%.1f%% with marks\n",
                  stats.frames, percent(stats.mostlyWhite), percent(stats.halfWhite),
                  percent(stats.marked));
    out << line;
    if (stats.frames < minFrames) {
        err << name << "only " << stats.frames << " frames, expected at least " << minFrames
            << "\n";
        return 1;
    }
    if (check && !stats.within(ShowLimits())) {
        const ShowLimits limits;
        std::snprintf(line, sizeof line,
                      "outside the limits: at most %.0f%% mostly white, at most %.0f%% half "
                      "white, at least %.0f%% with marks\n",
                      100 * limits.mostlyWhiteShare, 100 * limits.halfWhiteShare,
                      100 * limits.markedShare);
        err << name << line;
        return 1;
    }
    return 0;
}

}  // namespace content
