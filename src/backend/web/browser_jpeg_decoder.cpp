// JPEG pictures decoded by the browser's own image decoder: the page decoded every picture while
// it loaded the show's files, without colour management, and hands over the RGB samples here.
#include "backend/soft/jpeg_decoder.h"
#include "backend/soft/jpeg_texture.h"
#include "backend/web/browser.h"

bool decodeJpegFile(const std::string& nativePath, DecodedPicture* pic, std::string* error) {
    *pic = DecodedPicture();
    unsigned width = 0, height = 0;
    std::string rgba;
    std::string reason;
    if (!browser::picture(nativePath, &width, &height, &rgba, &reason)) {
        if (error) *error = reason;
        return false;
    }
    if (width == 0 || height == 0 || jpegTextureSide(width) > kMaxJpegTextureSide ||
        jpegTextureSide(height) > kMaxJpegTextureSide) {
        if (error) *error = "picture is too large for a texture";
        return false;
    }
    pic->width = width;
    pic->height = height;
    pic->components = 3;
    pic->samples.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
        pic->samples[i * 3 + 0] = static_cast<unsigned char>(rgba[i * 4 + 0]);
        pic->samples[i * 3 + 1] = static_cast<unsigned char>(rgba[i * 4 + 1]);
        pic->samples[i * 3 + 2] = static_cast<unsigned char>(rgba[i * 4 + 2]);
    }
    return true;
}
