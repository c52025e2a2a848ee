#pragma once
// A small asset set for running the quillmere program in tests, made entirely here: tracks,
// tiny videos from our encoder, JPEG brushes and paper written with libjpeg, and (when the lame
// encoder is installed) a short mp3.
#include <cstdint>
#include <string>
#include <vector>

namespace show_assets {

// The program under test: QM_APP_DIR from the environment or the build.
std::string appPath();

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string readFile(const std::string& path);

// 133 records of two points each, every point inside the view.
std::vector<uint8_t> trackFile(int seed);
// A .vid of `frames` 256 × 256 frames: diagonal luma bands that move from frame to frame.
std::vector<uint8_t> videoFile(int frames, int seed);

// The five images the show loads: three soft round brushes, one streaky brush and a paper.
void writeImages(const std::string& dir);

// A `seconds` long tone as data/aaa.mp3, through lame. False when lame is missing.
bool writeMusic(const std::string& dir, double seconds);

// A new temporary folder with data/ and vid/ filled (tracks, videos, images when asked; no mp3).
std::string makeAssetFolder(bool images);
void removeFolder(const std::string& dir);

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program in `dir` with `args` (already quoted for the shell), standard output and
// error caught in files of that folder. `environment` prefixes the command (e.g. "PATH=/x").
Outcome runApp(const std::string& dir, const std::string& args,
               const std::string& environment = "");

// FNV-1a, 64 bits.
uint64_t fnv1a64(const uint8_t* bytes, size_t size);

}  // namespace show_assets
