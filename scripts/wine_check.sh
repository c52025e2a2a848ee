#!/usr/bin/env bash
# Runs the Windows program under Wine in a virtual X screen, as a CI step (well under two
# minutes once Wine is installed):
#   1. a capture of frames 10 to 29 (show time 1 s to 3 s at 10 fps) on the virtual clock ends
#      with status 0 and writes exactly those 20 BMP files, 640x480, none of them blank;
#   2. the same from the full-screen device (Xvfb runs at exactly 640x480x24 for it);
#   3. with vid\kasi.vid missing the show stops with "Failed!: vid\kasi.vid" and status 1;
#   4. when the Linux program can capture (build/app/quillmere --capture), the same frames from
#      the CPU renderer are compared with scripts/compare_frames.py (PSNR per frame, worst
#      regions); a frame below QM_MIN_PSNR dB (default 20) fails the check.
#
#   scripts/wine_check.sh [ASSET_DIR]
# ASSET_DIR holds data/ and vid/; default build/content, else made by quillmere-content.
# Environment: QM_WIN_BUILD (build-win), QM_HOST_BUILD (build), QM_MIN_PSNR (20), KEEP=1 keeps
# the work folder. Installs Wine, Xvfb and ImageMagick when missing (apt-get, as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win_build=${QM_WIN_BUILD:-$root/build-win}
host_build=${QM_HOST_BUILD:-$root/build}
min_psnr=${QM_MIN_PSNR:-20}

say() { echo "wine_check: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

# ---- packages ----
if ! command -v wine >/dev/null || ! command -v Xvfb >/dev/null || ! command -v convert >/dev/null ||
  ! command -v python3 >/dev/null; then
  packages=(wine wine32:i386 xvfb imagemagick python3)
  [ "$(id -u)" -eq 0 ] || fail "needs ${packages[*]} (run as root, or install them)"
  say "installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq || fail "apt-get update failed (wine32 needs the i386 package index)"
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

# ---- the program and the assets ----
exe=$("$root/scripts/windows_build.sh" "$win_build" | tail -n 1)
[ -f "$exe" ] || fail "no $exe"

work=$(mktemp -d /tmp/qm-wine-XXXXXX)
xvfb_pid=""
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ "${KEEP:-0}" = 1 ]; then say "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

assets=${1:-}
if [ -z "$assets" ] && [ -d "$root/build/content/data" ] && [ -d "$root/build/content/vid" ]; then
  assets=$root/build/content
fi
if [ -z "$assets" ]; then
  say "making the show's content with quillmere-content"
  cmake -S "$root" -B "$host_build" >/dev/null
  cmake --build "$host_build" -j "${JOBS:-$(nproc)}" --target quillmere-content >/dev/null
  "$host_build/tools/quillmere-content" "$work/assets" >/dev/null
  assets=$work/assets
fi
if [ ! -d "$assets/data" ] || [ ! -d "$assets/vid" ]; then fail "$assets has no data/ and vid/"; fi
assets=$(cd "$assets" && pwd)

# Wine sees the Unix file system as drive Z:.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# ---- Wine in a virtual screen ----
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Full screen needs the screen to be exactly the show's 640x480 at 24 bits.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a Wine prefix"
# A crash ends the run instead of waiting in Wine's crash dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

run() {  # run NAME ARGS...: status in $status, standard error in $work/NAME.err
  local name=$1
  shift
  set +e
  timeout 90 wine "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  set -e
}

check_frames() {  # check_frames DIR: frames 10 to 29, 640x480 BMPs with something drawn
  local dir=$1 expected actual
  expected=$(seq -f 'frame_%06g.bmp' 10 29 | tr '\n' ' ')
  actual=$(find "$dir" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')
  [ "$actual" = "$expected" ] || fail "$dir holds '$actual', not frames 10 to 29"
  for f in "$dir"/frame_*.bmp; do
    [ "$(stat -c %s "$f")" -eq $((54 + 640 * 480 * 3)) ] || fail "$f is not a 640x480 24-bit BMP"
  done
  local spread
  spread=$(convert "$dir/frame_000020.bmp" -colorspace gray -format '%[fx:standard_deviation]' info:)
  awk -v s="$spread" 'BEGIN { exit !(s > 0.01) }' || fail "$dir/frame_000020.bmp is blank"
}

# 1. windowed capture
started=$(date +%s)
run windowed --assets "$(winpath "$assets")" --capture "$(winpath "$work/windows")" \
  --fps 10 --from 1 --to 3
[ "$status" -eq 0 ] || { cat "$work/windowed.err" >&2; fail "windowed capture ended with status $status"; }
check_frames "$work/windows"
say "windowed capture: 20 frames in $(($(date +%s) - started)) s"

# 2. full-screen capture
run fullscreen --assets "$(winpath "$assets")" --capture "$(winpath "$work/fullscreen")" \
  --fullscreen --fps 10 --from 1 --to 3
[ "$status" -eq 0 ] || { cat "$work/fullscreen.err" >&2; fail "full-screen capture ended with status $status"; }
check_frames "$work/fullscreen"
say "full-screen capture: 20 frames"

# 3. a missing video file stops the show with its message
mkdir -p "$work/broken"
cp -r "$assets/data" "$assets/vid" "$work/broken/"
rm -f "$work/broken/vid/kasi.vid"
run broken --assets "$(winpath "$work/broken")" --windowed --no-dialogs --frames 5
[ "$status" -eq 1 ] || fail "without vid\\kasi.vid the status is $status, not 1"
grep -qF 'Failed!: vid\kasi.vid' "$work/broken.err" ||
  fail "without vid\\kasi.vid standard error lacks 'Failed!: vid\\kasi.vid': $(cat "$work/broken.err")"
say "missing video: 'Failed!: vid\\kasi.vid', status 1"

# 4. the same frames from the CPU renderer
linux_app=$host_build/app/quillmere
if [ -x "$linux_app" ] && "$linux_app" --help 2>/dev/null | grep -q -- '--capture'; then
  "$linux_app" --assets "$assets" --capture "$work/linux" --fps 10 --from 1 --to 3 \
    2>"$work/linux.err" || { cat "$work/linux.err" >&2; fail "the Linux capture failed"; }
  python3 "$root/scripts/compare_frames.py" "$work/linux" "$work/windows" \
    --min-psnr "$min_psnr" || fail "Direct3D and the CPU renderer differ (see above)"
else
  say "no Linux capture at $linux_app: comparison skipped"
fi
say "passed"
