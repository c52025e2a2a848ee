// quillmere-frame-stats: how much of a captured show is blank white and how much carries marks.
// Reads the raw frames of `quillmere --capture -` on standard input.
#include <iostream>

#include "content/frame_stats.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return content::runFrameStats(argc, argv, std::cin, std::cout, std::cerr);
}
