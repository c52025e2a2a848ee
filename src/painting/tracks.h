#pragma once
#include <cstdint>

#include "backend/platform_types.h"
#include "foundation/vector.h"

// A track file is 133 records of four little-endian floats: the record's start point (x0, y0)
// and its direction point (x1, y1). Record n shapes the strokes of second n of the show.
const int32_t kTrackRecords = 133;
const int32_t kTrackRecordBytes = 16;
const int32_t kTrackBytes = kTrackRecords * kTrackRecordBytes;
const int32_t kTrackPoints = 2 * kTrackRecords;

const char kTrack1Path[] = "data\\track1.data";
const char kTrack2Path[] = "data\\track2.data";

// Reads both track files whole, first track1Path, then track2Path, and appends each record's two
// points, in record order, to the matching list: 266 points per list. Bytes after the 133rd
// record are ignored and values pass through untouched (NaN included). A file that is missing,
// empty or shorter than 133 records ends the program through fatalError with its path as the
// message.
void loadTracks(Vector<D3DXVECTOR2>* track1Points, Vector<D3DXVECTOR2>* track2Points,
                const char* track1Path = kTrack1Path, const char* track2Path = kTrack2Path);
