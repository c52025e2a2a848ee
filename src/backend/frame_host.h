#pragma once
// Frames of the show, as the backends see them.
//
// The show's frame loop begins every frame with its message peek and peeks nowhere else, so the
// seam's PeekMessageA is where a frame of the show begins: before the backend sees the call, it
// tells the backend's frame host. Frames count from the music's start: frame k (k = 1, 2, ...)
// is the loop's k-th pass.
//
// The host owns what hangs off that point: the backend's own work at a frame's start (a virtual
// clock moving on, the music's end signalled), the frame limit, the window of frames a capture
// wants, the trace's `frame K` line, and the stop after the last frame wanted, which reaches the
// show as the quit message from its next message call so that it shuts down in its usual order.
#include <cstdint>
#include <cstdio>
#include <vector>

// Frames of show time [fromMs, toMs) at fps frames per second; toMs < 0 is "to the end".
struct CaptureWindow {
    uint32_t fps = 60;
    int64_t fromMs = 0;
    int64_t toMs = -1;

    // The first frame whose show time is at fromMs or later (frames count from 1).
    uint64_t firstFrame() const;
    // The last frame before toMs, or 0 when there is no end or no frame in the window.
    uint64_t lastFrame() const;
    bool bounded() const { return toMs >= 0; }
    bool contains(uint64_t frame) const;
    // The show time frame k sees, in milliseconds, as the virtual clock reads it.
    uint64_t showMs(uint64_t frame) const { return frame * 1000u / fps; }
};

class FrameListener {
  public:
    virtual ~FrameListener() = default;
    // Frame k of the show begins.
    virtual void frameBegins(uint64_t k) = 0;
    // The show is being stopped at this frame's start (after frameBegins of the backend's own
    // listeners, instead of it for the others).
    virtual void showStopping() {}
    // True when the listener can no longer do its work (a capture that cannot write): the show
    // is then stopped at the next frame.
    virtual bool failed() const { return false; }
};

class FrameHost {
  public:
    // The backend's own work at each frame's start, done first and even at the frame where the
    // show stops (its clock moves on to that frame).
    void addBackendListener(FrameListener* listener) { backendListeners_.push_back(listener); }
    // Told of every frame the show runs, after the backend (a capture, a renderer).
    void addListener(FrameListener* listener) { listeners_.push_back(listener); }
    // Stop the show before frame frames + 1 (0: no limit).
    void setFrameLimit(uint64_t frames) { frameLimit_ = frames; }
    // Stop the show after the window's last frame (when it has an end).
    void setWindow(const CaptureWindow& window);
    // Write `frame K` there at the start of each frame the show runs.
    void traceTo(std::FILE* trace) { trace_ = trace; }

    // A frame of the show begins: the seam's PeekMessageA calls this.
    void beginFrame();
    // From the frame at which the show is stopped on: its message calls hand out the quit
    // message.
    bool stopping() const { return stopping_; }

  private:
    std::vector<FrameListener*> backendListeners_;
    std::vector<FrameListener*> listeners_;
    uint64_t frameLimit_ = 0;
    bool windowSet_ = false;
    CaptureWindow window_;
    std::FILE* trace_ = nullptr;
    uint64_t frame_ = 0;
    bool stopping_ = false;
};
