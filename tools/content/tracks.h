#pragma once
// The two point tracks the strokes follow: 133 records a track, one a second, each a start
// point and a direction point in world units (x -1..1 left to right, y -0.75..0.75 downward).
#include <cstdint>
#include <vector>

namespace content {

const int kTrackRecords = 133;
const int kTrackRecordBytes = 16;

// The view in world units, and the part of it the generated points keep to: the brush runs on
// past the direction point by as far again, then wanders, and its imprints are up to about 0.15
// across, so the points stay well inside the edges.
const double kViewHalfWidth = 1.0;
const double kViewHalfHeight = 0.75;
const double kTrackHalfWidth = 0.8;
const double kTrackHalfHeight = 0.55;

struct TrackPoint {
    double x = 0, y = 0;
};

struct TrackRecord {
    TrackPoint start, direction;
};

// Track 1: calligraphic marks, one a second, that draw a composition in sequence: a ground
// line, an open circle, rising stems, their leaves and grass, then a cursive wander.
std::vector<TrackRecord> designTrack1(uint32_t seed);
// Track 2: broad, slow gestures: a long mark whose place, heading and reach drift a little
// every second.
std::vector<TrackRecord> designTrack2(uint32_t seed);

// Little-endian 32-bit floats, 16 bytes a record, no header.
std::vector<uint8_t> encodeTrack(const std::vector<TrackRecord>& records);

}  // namespace content
