#include "content/tracks.h"

#include <cmath>
#include <cstring>

#include "content/content_math.h"

namespace content {

namespace {

TrackPoint at(double x, double y) {
    TrackPoint p;
    p.x = x;
    p.y = y;
    return p;
}

TrackPoint onCircle(TrackPoint centre, double radius, double turns) {
    return at(centre.x + radius * cosTurns(turns), centre.y + radius * sinTurns(turns));
}

// The show runs each mark on past its direction point by as far again; the whole run
// (start, direction point, run-on end) is moved inward if it would leave the safe area.
TrackRecord fitted(TrackPoint start, TrackPoint direction) {
    const TrackPoint end = at(2.0 * direction.x - start.x, 2.0 * direction.y - start.y);
    double dx = 0.0, dy = 0.0;
    const double loX = start.x < end.x ? start.x : end.x, hiX = start.x < end.x ? end.x : start.x;
    const double loY = start.y < end.y ? start.y : end.y, hiY = start.y < end.y ? end.y : start.y;
    if (loX < -kTrackHalfWidth) dx = -kTrackHalfWidth - loX;
    if (hiX > kTrackHalfWidth) dx = kTrackHalfWidth - hiX;
    if (loY < -kTrackHalfHeight) dy = -kTrackHalfHeight - loY;
    if (hiY > kTrackHalfHeight) dy = kTrackHalfHeight - hiY;
    TrackRecord r;
    r.start = at(start.x + dx, start.y + dy);
    r.direction = at(direction.x + dx, direction.y + dy);
    return r;
}

// A mark that starts at `from` and whose run-on ends at `to`: the direction point is midway.
TrackRecord markBetween(TrackPoint from, TrackPoint to) {
    return fitted(from, at(0.5 * (from.x + to.x), 0.5 * (from.y + to.y)));
}

TrackRecord markFrom(TrackPoint from, double headingTurns, double runLength) {
    return markBetween(from, at(from.x + runLength * cosTurns(headingTurns),
                                from.y + runLength * sinTurns(headingTurns)));
}

}  // namespace

std::vector<TrackRecord> designTrack1(uint32_t seed) {
    Rng rng(deriveSeed(seed, 101));
    std::vector<TrackRecord> track;
    auto wobble = [&](double amount) { return amount * rng.bell(); };
    // Each mark is drawn as a thin line from its start that swells into a heavy press beyond
    // its direction point; the press is about 0.2 across, so the runs are long enough for the
    // line to show ahead of it.

    // Seconds 0-3: the ground, four chained marks from left to right along a low, gently
    // rolling line; each starts where the last one's run-on ended.
    {
        const double phase = rng.uniform(), height = 0.32 + wobble(0.03);
        auto ground = [&](double x) {
            return at(x, height + 0.05 * sinTurns(0.45 * x + phase) - 0.05 * x);
        };
        double x = -0.78 + wobble(0.01);
        for (int i = 0; i < 4; ++i) {
            const double next = x + 0.39 + wobble(0.01);
            TrackPoint a = ground(x), b = ground(next);
            a.y += wobble(0.008);
            track.push_back(markBetween(a, b));
            x = next;
        }
    }

    // Seconds 4-10: an open circle drawn clockwise in seven chained chords, leaving a gap where
    // the brush lifts.
    {
        const TrackPoint centre = at(0.32 + wobble(0.03), -0.07 + wobble(0.02));
        const double radius = 0.42 + wobble(0.015), first = 0.30 + wobble(0.03);
        const double wavePhase = rng.uniform();
        auto rim = [&](double turns) {
            return onCircle(centre, radius * (1.0 + 0.04 * sinTurns(2.0 * turns + wavePhase)),
                            turns);
        };
        const double step = 0.13;
        for (int i = 0; i < 7; ++i)
            track.push_back(markBetween(rim(first + step * i), rim(first + step * (i + 1))));
    }

    // Seconds 11-16: three stems rising from the ground in two segments each, a small gap at
    // the joint, each leaning and bowing a little.
    TrackPoint tops[3];
    {
        const double baseX[3] = {-0.64, -0.44, -0.24};
        const double reach[3] = {0.92, 0.82, 0.70};
        for (int s = 0; s < 3; ++s) {
            const double lean = wobble(0.08), bow = wobble(0.04);
            TrackPoint p = at(baseX[s] + wobble(0.03), 0.46 + wobble(0.02));
            for (int k = 0; k < 2; ++k) {
                TrackPoint q =
                    at(p.x + 0.5 * lean + (k == 0 ? bow : -bow), p.y - 0.5 * reach[s] + 0.025);
                track.push_back(markBetween(p, q));
                p = at(q.x, q.y - 0.025);
            }
            tops[s] = p;
        }
    }

    // Seconds 17-26: leaves flicked out from the upper stems, drooping to either side.
    {
        const int stem[10] = {0, 0, 1, 0, 2, 1, 2, 0, 1, 2};
        const double heading[10] = {0.08, 0.42, 0.10, 0.36, 0.06, 0.44, 0.40, 0.12, 0.34, 0.14};
        for (int i = 0; i < 10; ++i) {
            const TrackPoint top = tops[stem[i]];
            const TrackPoint from = at(top.x + wobble(0.02), top.y + 0.04 + 0.16 * rng.uniform());
            track.push_back(
                markFrom(from, heading[i] + wobble(0.025), 0.34 + 0.10 * rng.uniform()));
        }
    }

    // Seconds 27-35, while the first stroke fades: grass flicked up along the ground, right to
    // left.
    {
        for (int i = 0; i < 9; ++i) {
            const double x = 0.62 - 0.16 * i + wobble(0.02);
            const TrackPoint from = at(x, 0.50 + wobble(0.02));
            const double lean = 0.75 + (i % 2 ? 0.04 : -0.04) + wobble(0.02);
            track.push_back(markFrom(from, lean, 0.30 + 0.08 * rng.uniform()));
        }
    }

    // The rest of the show: a slow cursive wander through the whole canvas, chained marks along
    // a figure of two and three loops.
    {
        // The figure is walked four times. Its shape depends on 3 phaseX - 2 phaseY; near 0 it is
        // at its most open, without the sharp turns that would squeeze some marks short.
        const double phaseX = rng.uniform(), phaseY = (3.0 * phaseX - wobble(0.04)) / 2.0;
        const int remaining = kTrackRecords - int(track.size());
        auto path = [&](double s) {
            return at(0.56 * sinTurns(8.0 * s + phaseX), 0.36 * sinTurns(12.0 * s + phaseY));
        };
        // Marks of equal length: the figure is walked in fine steps and cut at equal arc
        // lengths, so the brush does not dawdle at the turns.
        const int fine = 64 * remaining;
        std::vector<double> length(size_t(fine) + 1, 0.0);
        for (int k = 1; k <= fine; ++k) {
            const TrackPoint a = path(double(k - 1) / fine), b = path(double(k) / fine);
            length[k] =
                length[k - 1] + std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
        }
        std::vector<TrackPoint> cuts;
        int k = 0;
        for (int i = 0; i <= remaining; ++i) {
            const double wanted = length[fine] * i / remaining;
            while (k < fine && length[k + 1] < wanted) ++k;
            const double span = k < fine ? length[k + 1] - length[k] : 0.0;
            const double t = span > 0.0 ? (wanted - length[k]) / span : 0.0;
            cuts.push_back(path((k + t) / fine));
        }
        for (int i = 0; i < remaining; ++i) track.push_back(markBetween(cuts[i], cuts[i + 1]));
    }
    return track;
}

std::vector<TrackRecord> designTrack2(uint32_t seed) {
    Rng rng(deriveSeed(seed, 102));
    auto wobble = [&](double amount) { return amount * rng.bell(); };
    // Six gestures of about twenty seconds, each a sweep from one place to another along a
    // bowed path; the mark is held at an angle to the sweep and swells towards its middle.
    struct Gesture {
        double fromX, fromY, toX, toY, bow;
        int seconds;
    };
    const Gesture plan[6] = {
        {-0.55, 0.25, 0.35, 0.30, -0.15, 20},   {0.55, 0.20, 0.30, -0.35, 0.12, 24},
        {0.20, -0.38, -0.50, -0.20, -0.10, 22}, {-0.60, -0.10, -0.10, 0.35, 0.15, 23},
        {0.00, 0.10, 0.55, -0.10, -0.12, 22},   {0.45, 0.35, -0.40, 0.00, 0.10, 22},
    };
    std::vector<TrackRecord> track;
    for (const Gesture& g : plan) {
        const TrackPoint from = at(g.fromX + wobble(0.05), g.fromY + wobble(0.04));
        const TrackPoint to = at(g.toX + wobble(0.05), g.toY + wobble(0.04));
        const double bow = g.bow + wobble(0.03), slant = wobble(0.10);
        const double reach = 0.26 + 0.05 * rng.uniform();
        const double travelX = to.x - from.x, travelY = to.y - from.y;
        for (int k = 0; k < g.seconds && int(track.size()) < kTrackRecords; ++k) {
            const double u = (k + 0.5) / g.seconds;
            const double centreX = from.x + travelX * u - travelY * bow * 4.0 * u * (1.0 - u);
            const double centreY = from.y + travelY * u + travelX * bow * 4.0 * u * (1.0 - u);
            // Heading of the path at u, turned by the gesture's slant.
            double headX = travelX - travelY * bow * 4.0 * (1.0 - 2.0 * u);
            double headY = travelY + travelX * bow * 4.0 * (1.0 - 2.0 * u);
            // Square root is correctly rounded by IEEE-754, so it is as repeatable as a sum.
            const double scale = 1.0 / std::sqrt(headX * headX + headY * headY + 1e-12);
            headX *= scale;
            headY *= scale;
            const double c = cosTurns(slant), s = sinTurns(slant);
            const double dirX = headX * c - headY * s, dirY = headX * s + headY * c;
            const double half = reach * (0.6 + 0.4 * sinTurns(0.5 * u));
            const TrackPoint start = at(centreX - half * dirX, centreY - half * dirY);
            track.push_back(fitted(start, at(centreX, centreY)));
        }
    }
    return track;
}

std::vector<uint8_t> encodeTrack(const std::vector<TrackRecord>& records) {
    std::vector<uint8_t> bytes;
    bytes.reserve(records.size() * kTrackRecordBytes);
    auto put = [&](double v) {
        const float f = float(v);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(u >> (8 * i)));
    };
    for (const TrackRecord& r : records) {
        put(r.start.x);
        put(r.start.y);
        put(r.direction.x);
        put(r.direction.y);
    }
    return bytes;
}

}  // namespace content
