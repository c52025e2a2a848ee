#pragma once
// Capturing the show: which frames of a run are wanted, and where their pixels go (PNG files, an
// ffmpeg process encoding a video, or raw bytes on standard output).
//
// A frame is named by k, its number after the music started (the k-th frame of the loop sees
// show time k * 1000 / fps ms on the virtual clock). A window of show time selects the frames
// whose show time lies in [from, to); the frames before it still run through the whole show,
// only unrasterized, so every frame of a window is the same frame a full capture writes.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backend/emulated/virtual_clock.h"
#include "backend/frame_host.h"
#include "backend/frame_sink.h"
#include "backend/headless/frame_queue.h"

// The show's device; frames are these sizes times CaptureOutput::scale.
constexpr int kCaptureWidth = 640;
constexpr int kCaptureHeight = 480;

enum class CaptureKind { kFolder, kPicture, kVideo, kRaw };

struct CaptureOutput {
    CaptureKind kind = CaptureKind::kFolder;
    // A folder, a .png, a .mp4/.mkv/.webm file; unused for kRaw.
    std::string path;
    bool overwrite = false;
    // The renderer's scale: frames are kCaptureWidth × kCaptureHeight times this.
    int scale = 1;
    // Video only: quality for the encoder and the music muxed in from where the window starts
    // (empty when the show has no music file).
    int crf = 18;
    std::string ffmpeg;
    std::string music;
};

// "mp4", "mkv", "webm" when the path ends in that extension (any case), else empty.
std::string videoContainer(const std::string& path);
bool isVideoPath(const std::string& path);
bool isPngPath(const std::string& path);

// The name a file is written under until it is complete: a capture that fails or is
// interrupted never leaves a file under the name of a finished one.
std::string partialPath(const std::string& path);

// Where `program` is found on PATH (an executable regular file), or empty.
std::string findOnPath(const std::string& program);

// Writes width × height A8R8G8B8 pixels as an 8-bit RGB PNG: the alpha of the back buffer is
// not part of the picture. The file appears under its name only once complete.
bool writeRgbPng(const std::string& path, const uint32_t* pixels, int width, int height,
                 std::string* error);

// The ffmpeg command line for a video capture (arguments after the program name).
std::vector<std::string> ffmpegArguments(const CaptureOutput& output, const CaptureWindow& window,
                                         uint64_t firstFrame);

// The frame sink of a capture. Frames presented before the music starts (the start-up black
// frame) and frames outside the window are passed over. After a failure (a file that cannot be
// written, ffmpeg gone) nothing more is written; failed() tells the caller to stop the show.
class FrameCapture : public FrameSink {
  public:
    FrameCapture(CaptureOutput output, CaptureWindow window, const VirtualClock& clock);
    ~FrameCapture() override;
    FrameCapture(const FrameCapture&) = delete;
    FrameCapture& operator=(const FrameCapture&) = delete;

    // Checks the output before the run: an existing output without overwrite is refused
    // (status 2), a folder is created, ffmpeg must be on PATH for a video (status 1). On
    // failure *status is set and *error holds one line.
    bool prepare(std::string* error, int* status);

    void presentFrame(const uint32_t* pixels, int width, int height) override;
    // The frame the virtual clock is at, when the window wants it.
    uint64_t presentingFrame() const override;
    void presentLateFrame(uint64_t frame, const uint32_t* pixels, int width, int height) override;

    // Ends the output: closes ffmpeg's input and waits for it, then gives the video its name.
    // False, with one line in *error, when anything failed along the way or ffmpeg ended with a
    // non-zero status; the partial video is removed then.
    bool finish(std::string* error);
    // Gives up the capture for `reason` (a signal, say): nothing more is written and finish()
    // ends ffmpeg at once and reports `reason`.
    void stop(const std::string& reason);

    bool failed() const { return failed_; }
    uint64_t framesWritten() const { return written_; }
    uint64_t firstWritten() const { return first_; }
    uint64_t lastWritten() const { return last_; }

    // A progress line on `terminal` (null: none) while the show runs, given the frame the run
    // is expected to end at (0 when unknown).
    void showProgress(std::FILE* terminal, uint64_t expectedLastFrame);
    // The show began frame k: before the window, the progress line follows the run-up.
    void frameBegun(uint64_t frame);
    // One line: what was written where, and how fast.
    std::string summary() const;

  private:
    // Starts ffmpeg, the music from the show time of `firstFrame`, the first frame it gets.
    bool startEncoder(uint64_t firstFrame);
    void placeVideo();
    void fail(const std::string& reason);
    void progress(uint64_t frame, bool final);

    CaptureOutput output_;
    CaptureWindow window_;
    const VirtualClock& clock_;
    bool failed_ = false;
    bool stopped_ = false;
    std::string error_;
    uint64_t written_ = 0;
    uint64_t first_ = 0;
    uint64_t last_ = 0;
    std::vector<uint8_t> bytes_;

    pid_t encoder_ = -1;
    int encoderInput_ = -1;
    std::unique_ptr<FrameQueue> encoderQueue_;  // frames on their way into encoderInput_

    std::FILE* terminal_ = nullptr;
    uint64_t expectedLast_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point firstWrittenAt_;
    std::chrono::steady_clock::time_point lastShown_;
    bool progressShown_ = false;
};
