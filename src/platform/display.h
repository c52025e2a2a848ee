#pragma once
#include "backend/graphics.h"
#include "backend/platform_types.h"

// The Direct3D object and the full-screen device of the show, with the fixed states and start-up
// camera, and the few device operations the frame loop needs. Everything else draws on the raw
// device from getDevice.
class Display {
  public:
    Display();
    virtual ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Negative on failure. A device without hardware vertex processing is retried in software
    // after one message box.
    HRESULT init(HWND window, int width, int height);

    // Not add-referenced: the Display keeps ownership.
    Direct3DDevice9* getDevice();

    // Clears target, depth and stencil, then begins the scene when the clear worked.
    void beginFrame(D3DCOLOR colour);
    // Ends the scene and presents it when the end worked.
    void endFrame();
    void setCulling(bool on);
    void setDepthTest(bool on);
    // A new texture owned by the caller, or null when the image cannot be loaded.
    Direct3DTexture9* loadTexture(const char* path);

    Direct3D9* d3d;
    Direct3DDevice9* device;
    D3DPRESENT_PARAMETERS presentParams;
    int32_t width;
    int32_t height;
};
