#pragma once
// The process-wide context through which the show reaches the outside world. A backend is
// chosen once at start-up (useBackend) and every call the show makes goes to the services
// chosen then.

class GraphicsSystem;
class WindowSystem;
class InputSystem;
class AudioSystem;
class FrameHost;

struct Backend {
    GraphicsSystem* graphics = nullptr;
    WindowSystem* windows = nullptr;
    InputSystem* input = nullptr;
    AudioSystem* audio = nullptr;
    // Told where each frame of the show begins (frame_host.h); none for a plain recorder.
    FrameHost* frames = nullptr;
};

// Installs the services that every later call reaches; the objects stay owned by the caller and
// must outlive their use.
void useBackend(const Backend& services);

const Backend& backend();
