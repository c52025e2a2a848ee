#pragma once
// The process-wide context through which the show reaches the outside world. A backend is
// chosen once at start-up (useBackend) and every call the show makes goes to the services
// chosen then.

class GraphicsSystem;
class WindowSystem;
class InputSystem;
class AudioSystem;

struct Backend {
    GraphicsSystem* graphics = nullptr;
    WindowSystem* windows = nullptr;
    InputSystem* input = nullptr;
    AudioSystem* audio = nullptr;
};

// Installs the services that every later call reaches; the objects stay owned by the caller and
// must outlive their use.
void useBackend(const Backend& services);

const Backend& backend();
