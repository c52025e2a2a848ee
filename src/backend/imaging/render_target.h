#pragma once
// Plain pixel memory shared by the device and the pieces that draw into its back buffer
// (lines, text) or fill its textures (image files).
#include <cstdint>
#include <vector>

// A8R8G8B8 pixels (0xAARRGGBB), rows from the top, `pitch` pixels apart.
struct RenderTarget {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
};

// A decoded image at its texture size, rows from the top, pixels 0xAARRGGBB.
struct TextureImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> texels;
};
