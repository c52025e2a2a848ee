#include "painting/tracks.h"

#include <cstring>
#include <memory>

#include "painting/load_whole_file.h"
#include "platform/window_functions.h"

namespace {

// Whole track image in memory, or the end of the program.
unsigned char* loadTrackFile(const char* path) {
    int32_t size = 0;
    unsigned char* bytes = loadWholeFile(path, &size);
    // Parsing reads all 133 records; a shorter file would have it read past the buffer.
    if (size < kTrackBytes) {
        delete[] bytes;
        fatalError(path, true);
        return nullptr;
    }
    return bytes;
}

// Little-endian bit pattern to float, whatever the host's byte order; NaN payloads survive.
float floatAt(const unsigned char* bytes) {
    uint32_t bits = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                    uint32_t(bytes[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

void appendRecord(const unsigned char* record, Vector<D3DXVECTOR2>* points) {
    points->add(D3DXVECTOR2{floatAt(record), floatAt(record + 4)});
    points->add(D3DXVECTOR2{floatAt(record + 8), floatAt(record + 12)});
}

}  // namespace

void loadTracks(Vector<D3DXVECTOR2>* track1Points, Vector<D3DXVECTOR2>* track2Points,
                const char* track1Path, const char* track2Path) {
    // Held so that the first image is freed even when the second file ends the run by unwinding
    // (as the recording backend's exit does).
    std::unique_ptr<unsigned char[]> first(loadTrackFile(track1Path));
    std::unique_ptr<unsigned char[]> second(loadTrackFile(track2Path));
    for (int32_t n = 0; n < kTrackRecords; ++n) {
        appendRecord(first.get() + n * kTrackRecordBytes, track1Points);
        appendRecord(second.get() + n * kTrackRecordBytes, track2Points);
    }
}
