#include "shell/timer.h"

#include <limits>

namespace {

// Differences of tick counts wrap around like the 32-bit tick itself.
int32_t wrappingDifference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Division by 16 rounding towards minus infinity, also for negative sums.
int32_t floorDivideBy16(int32_t s) {
    return s >= 0 ? s / 16 : -((-(s + 1)) / 16) - 1;
}

}  // namespace

void Timer::update(int32_t now) {
    previousElapsedMs = elapsedMs;
    recentIndex += 1;
    elapsedMs = wrappingDifference(now, startTick);
    const int32_t d = wrappingDifference(elapsedMs, previousElapsedMs);
    if (recentIndex >= 16) recentIndex = 0;
    recentMs[recentIndex] = d;

    frameMs = static_cast<float>(d);
    frameSeconds = static_cast<float>(static_cast<double>(frameMs) * kMillisecondsToSeconds);

    uint32_t sum = 0;
    for (int32_t ms : recentMs) sum += static_cast<uint32_t>(ms);
    const int32_t a = floorDivideBy16(static_cast<int32_t>(sum));

    updateCount += 1;
    averageMs = static_cast<float>(a);
    averageSeconds = static_cast<float>(static_cast<double>(averageMs) * kMillisecondsToSeconds);
    fps = averageMs == 0.0f ? std::numeric_limits<float>::infinity()
                            : static_cast<float>(1000.0 / static_cast<double>(averageMs));
}

void Timer::reset(int32_t now) {
    startTick = now;
    updateCount = 0;
    recentIndex = 0;
    elapsedMs = 0;
    for (int32_t& ms : recentMs) ms = 0;
}
