#!/usr/bin/env bash
# Rewrites tests/data/golden_frames.txt from the frames the current build draws. Run it only when
# a change of the picture is intended, and look at the frames (make contact-sheet) first.
# Usage: scripts/golden_update.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
cmake --build "$build" -j "${JOBS:-2}" --target quillmere app_tests
QM_GOLDEN_UPDATE=1 "$build/tests/app_tests" --gtest_filter='Capture.GoldenFrames*' \
  --gtest_brief=1
echo "golden frames rewritten: tests/data/golden_frames.txt" >&2
