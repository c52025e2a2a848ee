#pragma once
// Writing the generated files: JPEG encoding through libjpeg and whole-file writes that never
// leave a half-written asset behind.
#include <cstdint>
#include <string>
#include <vector>

#include "vid/png_io.h"

namespace content {

// Baseline JPEG of a 3-channel image, 4:4:4, the exact integer DCT (the same bytes on every
// machine with the same libjpeg). Throws std::runtime_error if libjpeg refuses the image.
std::vector<uint8_t> encodeJpeg(const RgbImage& image, int quality);

// Creates `dir` and its parents. False with a one-line reason.
bool makeDirectories(const std::string& dir, std::string* error);

// Writes the bytes under a temporary name beside `path` and renames it into place.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error);

}  // namespace content
