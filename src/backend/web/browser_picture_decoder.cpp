// Pictures through the browser's own image decoder (createImageBitmap without colour
// management): the program waits for it (Asyncify) as it would for a decoder of its own.
#include "backend/imaging/picture_decoder.h"
#include "backend/web/browser.h"

bool decodePicture(const unsigned char* data, size_t size, unsigned maxSide, Picture* out,
                   std::string* error) {
    *out = Picture();
    unsigned width = 0, height = 0;
    std::string rgba;
    if (!browser::decodePicture(data, size, &width, &height, &rgba, error)) return false;
    // The browser tells the size only once it has decoded the picture.
    if (width == 0 || height == 0 || width > maxSide || height > maxSide) {
        if (error) *error = "picture is too large for a texture";
        return false;
    }
    out->width = width;
    out->height = height;
    out->components = 3;
    out->samples.resize(size_t(width) * height * 3);
    for (size_t i = 0, n = size_t(width) * height; i < n; ++i) {
        out->samples[i * 3 + 0] = static_cast<unsigned char>(rgba[i * 4 + 0]);
        out->samples[i * 3 + 1] = static_cast<unsigned char>(rgba[i * 4 + 1]);
        out->samples[i * 3 + 2] = static_cast<unsigned char>(rgba[i * 4 + 2]);
    }
    return true;
}
