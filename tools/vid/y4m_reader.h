#pragma once
// Reader for YUV4MPEG2 streams (what `ffmpeg -f yuv4mpegpipe` writes): 8-bit 4:2:0 in its
// C420, C420jpeg, C420paldv and C420mpeg2 forms (also when the C tag is absent) and 8-bit 4:4:4.
// Chroma is brought up to full resolution by repeating each sample.
#include <cstdio>
#include <string>

#include "vid/vid_encoder.h"

class Y4mReader {
  public:
    Y4mReader() = default;
    ~Y4mReader();
    Y4mReader(const Y4mReader&) = delete;
    Y4mReader& operator=(const Y4mReader&) = delete;

    // Opens a file, or standard input for "-", and reads the stream header. False with a
    // one-line reason in *error when it cannot.
    bool open(const std::string& path, std::string* error);
    // Reads the stream header from a stream the caller keeps open.
    bool open(std::FILE* stream, std::string* error);

    // Next frame. False at the clean end of the stream (error left empty) or on a damaged
    // frame (reason in *error).
    bool readFrame(YuvPicture* picture, std::string* error);

    int width() const { return frameWidth; }
    int height() const { return frameHeight; }
    // "420" or "444".
    const std::string& chroma() const { return sampling; }
    int framesRead() const { return frames; }

  private:
    bool readHeader(std::string* error);

    std::FILE* file = nullptr;
    bool ownsFile = false;
    int frameWidth = 0, frameHeight = 0;
    std::string sampling;
    int frames = 0;
};
