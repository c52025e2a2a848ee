#pragma once
// How a captured frame of the show reads: how much of it is blank white and how much carries
// marks that stand out from the frame's own middle tone. Used to judge the default content
// over a whole capture (quillmere --capture - gives raw RGBA frames).
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace content {

const int kFrameWidth = 640;
const int kFrameHeight = 480;

// A pixel is white when every channel is at least this.
const int kWhiteLevel = 245;
// A pixel is a mark when its grey differs from the frame's median grey by more than this.
const int kMarkContrast = 40;

struct FrameStats {
    double white = 0;   // fraction of white pixels
    double marked = 0;  // fraction of pixels far from the median grey
    int medianGrey = 0;
};

// rgba: width x height pixels, 4 bytes each (R, G, B, then a byte that is not looked at).
FrameStats measureFrame(const uint8_t* rgba, int width, int height);

// What the default content promises over a whole show.
struct ShowLimits {
    double mostlyWhiteShare = 0.03;  // frames more than 90% white
    double halfWhiteShare = 0.10;    // frames more than 50% white
    double markedShare = 0.85;       // frames with at least 0.5% marked pixels, at least
};

struct ShowStats {
    int frames = 0;
    int mostlyWhite = 0;
    int halfWhite = 0;
    int marked = 0;
    void add(const FrameStats& f);
    bool within(const ShowLimits& limits) const;
};

// Reads raw 640 x 480 RGBA frames until the end of the stream. Each frame's line goes to `each`
// when it is given (show time at `fps`, white and marked percentages). A trailing partial
// frame is an error: a capture cut short must not pass as a short show.
bool measureStream(std::istream& in, int fps, std::ostream* each, ShowStats* stats,
                   std::string* error);

// quillmere-frame-stats [--fps N] [--each] [--check] [--min-frames N]
int runFrameStats(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace content
