#pragma once
// The default show content: every asset the show loads, made from one seed, and the
// command-line front of quillmere-content.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace content {

const uint32_t kDefaultSeed = 1;

// One generated file: where it goes under the output folder, and how it is made.
struct Asset {
    const char* path;
    std::vector<uint8_t> (*make)(uint32_t seed);
};

// Tracks, paper, brushes and videos, in the order the generator writes them. The music is
// written by writeMusic, after these.
const std::vector<Asset>& assets();

const char* const kMusicPath = "data/aaa.mp3";

// Writes the music file at `path`; false with a one-line reason.
using MusicWriter = bool (*)(const std::string& path, uint32_t seed, std::string* error);

// quillmere-content OUTDIR [--seed N]: 0 on success, 1 when a file cannot be made or written,
// 2 for bad arguments. Progress goes to `out`, one line per file; failures are one line on `err`.
// The music comes from `music`, the real composer unless a caller brings its own.
int runContentTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   MusicWriter music = nullptr);

}  // namespace content
