#include "backend/win32/mp3_frames.h"

#include <cstring>

namespace {

struct FrameHeader : Mp3Format {
    uint32_t bitRate = 0;
    uint32_t bytes = 0;  // whole frame, header and padding included
    bool padded = false;
};

constexpr uint32_t kBitRatesV1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
constexpr uint32_t kBitRatesV2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                      64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint32_t kSampleRatesV1[3] = {44100, 48000, 32000};

// A layer III frame header at p (4 bytes readable). Free-format frames (bit-rate index 0) are
// refused: their length cannot be read from the header.
bool readHeader(const uint8_t* p, FrameHeader* header) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitRateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || bitRateIndex == 0 || bitRateIndex == 15 ||
        rateIndex == 3) {
        return false;
    }
    header->version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    const bool mpeg1 = header->version == 10;
    header->bitRate = (mpeg1 ? kBitRatesV1 : kBitRatesV2)[bitRateIndex];
    header->sampleRate = kSampleRatesV1[rateIndex] >> (mpeg1 ? 0 : header->version == 20 ? 1 : 2);
    header->channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
    header->samplesPerFrame = mpeg1 ? 1152 : 576;
    header->padded = ((p[2] >> 1) & 1) != 0;
    header->bytes =
        (mpeg1 ? 144000 : 72000) * header->bitRate / header->sampleRate + (header->padded ? 1 : 0);
    return true;
}

bool sameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.sampleRate == b.sampleRate && a.channels == b.channels;
}

size_t id3v2Length(const uint8_t* data, size_t size) {
    if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
    // A "synchsafe" size: seven bits per byte; a footer adds ten more bytes.
    const size_t body = (size_t(data[6] & 0x7F) << 21) | (size_t(data[7] & 0x7F) << 14) |
                        (size_t(data[8] & 0x7F) << 7) | size_t(data[9] & 0x7F);
    const size_t footer = (data[5] & 0x10) != 0 ? 10 : 0;
    return 10 + body + footer;
}

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The encoder's info frame ("Xing" or "Info") carries no music. When it has the LAME extension,
// that gives the silence added before and after the music, in samples.
bool readInfoFrame(const uint8_t* frame, const FrameHeader& header, Mp3Stream* stream) {
    const size_t sideInfo =
        header.version == 10 ? (header.channels == 1 ? 17 : 32) : (header.channels == 1 ? 9 : 17);
    const size_t at = 4 + sideInfo;
    if (at + 8 > header.bytes) return false;
    const uint8_t* tag = frame + at;
    if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0) return false;
    const uint32_t flags = bigEndian32(tag + 4);
    size_t lame = at + 8;
    if (flags & 1) lame += 4;    // frame count
    if (flags & 2) lame += 4;    // byte count
    if (flags & 4) lame += 100;  // seek table
    if (flags & 8) lame += 4;    // quality
    if (lame + 24 <= header.bytes && std::memcmp(frame + lame, "LAME", 4) == 0) {
        const uint8_t* gap = frame + lame + 21;
        stream->encoderDelay = (uint32_t(gap[0]) << 4) | (gap[1] >> 4);
        stream->encoderPadding = (uint32_t(gap[1] & 0x0F) << 8) | gap[2];
    }
    return true;
}

}  // namespace

bool scanMp3(const uint8_t* data, size_t size, Mp3Stream* stream) {
    if (data == nullptr || stream == nullptr) return false;
    Mp3Stream found;
    size_t at = id3v2Length(data, size);
    FrameHeader first;
    // The first frame is where a header is followed by another of the same stream (or by the
    // end of the file), so that stray sync bytes in a tag or junk are not taken for music.
    for (; at + 4 <= size; ++at) {
        if (!readHeader(data + at, &first) || at + first.bytes > size) continue;
        FrameHeader next;
        const size_t following = at + first.bytes;
        if (following == size || (following + 4 <= size && readHeader(data + following, &next) &&
                                  sameStream(first, next))) {
            break;
        }
    }
    if (at + 4 > size) return false;
    if (readInfoFrame(data + at, first, &found)) at += first.bytes;

    static_cast<Mp3Format&>(found) = first;
    found.dataOffset = at;
    bool haveFirst = false;
    FrameHeader header;
    while (at + 4 <= size && readHeader(data + at, &header) && sameStream(first, header) &&
           at + header.bytes <= size) {
        if (!haveFirst) {
            found.bitRate = header.bitRate;
            found.frameBytes = header.bytes - (header.padded ? 1 : 0);
            haveFirst = true;
        } else if (header.bitRate != found.bitRate) {
            found.variableBitRate = true;
        }
        ++found.frames;
        at += header.bytes;
    }
    found.dataBytes = at - found.dataOffset;
    const int64_t total = int64_t(found.frames) * found.samplesPerFrame;
    const int64_t silence = int64_t(found.encoderDelay) + found.encoderPadding;
    // Silence claimed beyond the frames is a damaged tag: the frames alone count then.
    found.samples = silence < total ? total - silence : total;
    if (found.frames == 0 || found.samples <= 0) return false;
    *stream = found;
    return true;
}
