#pragma once
#include <cstdint>

#include "video/huffman_decoder.h"
#include "video/vid_format.h"

// A whole .vid file in memory. The decoder reads it, never owns or changes it.
struct VideoImage {
    const unsigned char* bytes = nullptr;
    int32_t size = 0;
};

// Fixed working capacities, the same for every video: the format's limits are what they take.
const int32_t kRowBufferBytes = int32_t(kMaxGridRowBytes);
const int32_t kLumaBaseBytes = int32_t(kMaxFramePixels);
const int32_t kUnpackBufferBytes = int32_t(kMaxPayloadBytes);
const int32_t kColourTableEntries = 1 << 20;

// Decodes frames of .vid images into 4-byte pixels (lane 0 luma, lane 1 Cr index, lane 2 Cb
// index; lane 3 untouched) and converts such pixels to A8R8G8B8 texels.
//
// Every container is checked when opened and every frame header when decoded, so that no
// file, however damaged, makes the decoder read or write outside its buffers. Anything that
// decodes safely is decoded exactly as the format describes.
class VideoDecoder {
  public:
    VideoDecoder();
    virtual ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Allocates the working buffers and builds the colour table. 1, or -1 on failure.
    int init();

    // entryCount of the image (one more than its number of frames), or -1 if the image is
    // too short to hold one.
    int frameCount(const VideoImage& image) const;

    // Checks the container and the header of frame 0 and learns the frame size.
    // Returns entryCount, or -1 if the image is not a usable video.
    int open(const VideoImage& image);

    int width() const { return frameWidth; }
    int height() const { return frameHeight; }

    // Decodes frame `index` into `out` (outBytes bytes long). An index outside 0..N-2 decodes
    // frame 0 and returns false. A frame that fails the checks leaves `out` untouched, sets
    // lastResult to -1 and returns false.
    bool decodeFrame(const VideoImage& image, unsigned char* out, int outBytes, int index);

    // Decodes one record. With out == nullptr only the payload header is read (result 0);
    // otherwise the frame is reconstructed into `out` (result 1). -1: the record or its header
    // fails the checks; `out` is untouched.
    int decodeRecord(const unsigned char* record, unsigned char* out, int outBytes, int size);

    // Colour conversion through the table built by init(); see the README's format notes.
    int toARGB(const unsigned char* src, unsigned char* dst, int pitch, int w, int h) const;
    void copyLane(const unsigned char* src, unsigned char* dst, int lane, int pitch, int w,
                  int h) const;

    // Result of the last decodeRecord: 1 decoded, 0 header only, -1 rejected.
    int lastResult = 0;

    // Working buffers, allocated and zero-filled by init(), W bytes per row. lumaBase holds
    // the interpolated luma base; the cell residuals are applied to it in place, so after a
    // cell-form frame it holds the frame's luma. rowBuffer holds the luma rows after the
    // horizontal pass, then (in frames with chroma) the Cb rows; chromaRows the Cr rows.
    unsigned char* rowBuffer = nullptr;
    unsigned char* lumaBase = nullptr;
    unsigned char* chromaRows = nullptr;
    unsigned char* unpackBuffer = nullptr;
    HuffmanDecoder* huffman = nullptr;
    int32_t frameWidth = 0, frameHeight = 0;
    int32_t cellWidth = 0, cellHeight = 0;
    int32_t cellWidthLog2 = 0, cellHeightLog2 = 0;
    int32_t cellsDown = 0, cellsAcross = 0;
    int32_t chromaCellsDown = 0, chromaCellsAcross = 0;
    int32_t chromaCellWidth = 0, chromaCellHeight = 0;
    int32_t chromaCellWidthLog2 = 0, chromaCellHeightLog2 = 0;
    uint8_t interpolate = 0, reserved = 0, residualShift = 0, chromaMode = 0;
    int32_t chromaOffset = 0;
    bool holdsColourTable = false;
};

// The process-wide colour table: 2^20 texels indexed by Y*4096 + p*64 + q. Built by the first
// VideoDecoder::init, released with the last decoder. Null while no decoder holds it.
const uint32_t* colourTable();

// One colour-table entry, computed directly (what init stores at Y*4096 + p*64 + q).
uint32_t colourTableEntry(int y, int p, int q);
