#pragma once
// Where the CPU renderer's JPEG textures get their pixels: libjpeg-turbo on the desktop, the
// browser's own image decoder in the web player. The texture's size rules and stretch are
// loadJpegTexture's and the same for every decoder.
#include <string>
#include <vector>

// A picture as decoded: 8-bit samples, rows from the top, `components` a pixel (1: grey; 3: R,
// G, B).
struct DecodedPicture {
    unsigned width = 0;
    unsigned height = 0;
    unsigned components = 0;
    std::vector<unsigned char> samples;
};

// Decodes the JPEG file at `nativePath`. A file that is missing, empty, truncated or damaged
// in its coded data, or a picture too large for a texture, is a failure with a one-line reason
// (without the path), never a partial picture.
bool decodeJpegFile(const std::string& nativePath, DecodedPicture* out, std::string* error);
