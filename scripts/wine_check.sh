#!/usr/bin/env bash
# Runs the native Windows program under Wine in a virtual X screen and compares its Direct3D
# frames with the CPU renderer's, as a step of `make test`:
#   1. a capture of frames 10 to 29 (show time 1 s to 3 s at 10 fps) of the test asset set on the
#      virtual clock ends with status 0 and writes exactly those 20 BMP files, 640x480, none blank;
#   2. the same from the full-screen device (the X screen is exactly 640x480x24 for it);
#   3. the same window with Num Lock pressed at 1.5 s, so frames 15 to 29 carry the overlay text;
#   4. with vid\kasi.vid missing the show stops with "Failed!: vid\kasi.vid" and status 1;
#   5. the same frames from the Linux program's CPU renderer are compared with
#      scripts/compare_frames.py: frames without text must reach QM_MIN_PSNR dB, frames with the
#      overlay text (drawn by Wine's own font, not ours) QM_MIN_TEXT_PSNR dB.
# The 64-bit program runs under wine64; the 32-bit one as well when Wine's 32-bit half is
# installable (this script never adds the i386 architecture: a failing i386 index would break
# every later apt-get update).
#
#   scripts/wine_check.sh
# Environment: QM_HOST_BUILD (build), QM_MIN_PSNR (50), QM_MIN_TEXT_PSNR (30), KEEP=1 keeps the
# work folder. Installs Wine, Xvfb and ImageMagick when missing (apt-get, as root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
host_build=${QM_HOST_BUILD:-$root/build}
min_psnr=${QM_MIN_PSNR:-50}
min_text_psnr=${QM_MIN_TEXT_PSNR:-30}

say() { echo "wine_check: $*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

# ---- packages and programs ----
ensure_packages wine_check wine64 xvfb imagemagick python3 || fail "cannot install Wine"
# Debian keeps the loaders out of PATH unless the `wine` wrapper package is installed.
export PATH="$PATH:/usr/lib/wine"
arches=(x86_64)
if dpkg --print-foreign-architectures | grep -qx i386 && package_installable wine32:i386; then
  ensure_packages wine_check wine wine32:i386 && arches+=(i686)
fi

linux_app=$host_build/app/quillmere
app_tests=$host_build/tests/app_tests
[ -x "$linux_app" ] || fail "no $linux_app (build first)"
[ -x "$app_tests" ] || fail "no $app_tests (build first)"

work=$(mktemp -d /tmp/qm-wine-XXXXXX)
xvfb_pid=""
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ "${KEEP:-0}" = 1 ]; then say "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# ---- the test asset set (tracks, videos from our encoder, JPEGs; no mp3) ----
mkdir -p "$work/assets"
QM_ASSET_DIR="$work/assets" "$app_tests" --gtest_also_run_disabled_tests \
  --gtest_filter='AssetSet.DISABLED_WriteToFolder' --gtest_brief=1 >/dev/null ||
  fail "could not write the test asset set"
assets=$work/assets

# ---- the CPU renderer's frames ----
"$linux_app" --assets "$assets" --capture "$work/linux" --fps 10 --from 1 --to 3 \
  2>"$work/linux.err" || { cat "$work/linux.err" >&2; fail "the Linux capture failed"; }
"$linux_app" --assets "$assets" --capture "$work/linux-text" --fps 10 --from 1 --to 3 \
  --press NUMLOCK@1.5 2>"$work/linux-text.err" ||
  { cat "$work/linux-text.err" >&2; fail "the Linux capture with Num Lock failed"; }

# ---- a virtual X screen; full screen needs it at exactly 640x480 at 24 bits ----
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

# Wine sees the Unix file system as drive Z:.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

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

compare() {  # compare LINUX_DIR WINDOWS_DIR MIN_PSNR FIRST LAST LABEL
  local linux=$1 windows=$2 min=$3 first=$4 last=$5 label=$6 k
  mkdir -p "$work/pair/a" "$work/pair/b"
  rm -f "$work/pair/a"/* "$work/pair/b"/*
  for k in $(seq "$first" "$last"); do
    ln -s "$linux/$(printf 'frame_%06d.png' "$k")" "$work/pair/a/"
    ln -s "$windows/$(printf 'frame_%06d.bmp' "$k")" "$work/pair/b/"
  done
  say "$label: frames $first to $last against the CPU renderer (at least $min dB)"
  python3 "$root/scripts/compare_frames.py" "$work/pair/a" "$work/pair/b" --min-psnr "$min" ||
    fail "$label: Direct3D and the CPU renderer differ (see above)"
}

run() {  # run NAME ARGS...: status in $status, standard error in $work/NAME.err
  local name=$1
  shift
  set +e
  timeout 90 "$wine" "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  set -e
}

for arch in "${arches[@]}"; do
  if [ "$arch" = x86_64 ]; then wine=wine64 winearch=win64; else wine=wine winearch=win32; fi
  exe=$("$root/scripts/windows_build.sh" "$arch" | tail -n 1)
  [ -f "$exe" ] || fail "no $exe"
  say "$arch: $exe under $wine"

  export WINEPREFIX=$work/prefix-$arch WINEARCH=$winearch WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot could not make a Wine prefix"
  # The prefix is ready only once its server has finished; before that Direct3D may fail.
  wineserver -w
  # A crash ends the run instead of waiting in the crash dialog.
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || true
  wineserver -w

  started=$(date +%s)
  run windowed --assets "$(winpath "$assets")" --capture "$(winpath "$work/$arch-windowed")" \
    --fps 10 --from 1 --to 3
  [ "$status" -eq 0 ] || { cat "$work/windowed.err" >&2; fail "windowed capture: status $status"; }
  check_frames "$work/$arch-windowed"
  say "$arch: windowed capture, 20 frames in $(($(date +%s) - started)) s"

  run fullscreen --assets "$(winpath "$assets")" --capture "$(winpath "$work/$arch-full")" \
    --fullscreen --fps 10 --from 1 --to 3
  [ "$status" -eq 0 ] || { cat "$work/fullscreen.err" >&2; fail "full-screen capture: status $status"; }
  check_frames "$work/$arch-full"
  say "$arch: full-screen capture, 20 frames"

  run text --assets "$(winpath "$assets")" --capture "$(winpath "$work/$arch-text")" \
    --fps 10 --from 1 --to 3 --press NUMLOCK@1.5
  [ "$status" -eq 0 ] || { cat "$work/text.err" >&2; fail "capture with Num Lock: status $status"; }
  check_frames "$work/$arch-text"
  say "$arch: capture with Num Lock at 1.5 s, 20 frames"

  mkdir -p "$work/broken"
  cp -r "$assets/data" "$assets/vid" "$work/broken/"
  rm -f "$work/broken/vid/kasi.vid"
  run broken --assets "$(winpath "$work/broken")" --windowed --no-dialogs --frames 5
  [ "$status" -eq 1 ] || fail "without vid\\kasi.vid the status is $status, not 1"
  grep -qF 'Failed!: vid\kasi.vid' "$work/broken.err" ||
    fail "without vid\\kasi.vid standard error lacks 'Failed!: vid\\kasi.vid': $(cat "$work/broken.err")"
  say "$arch: missing video: 'Failed!: vid\\kasi.vid', status 1"
  wineserver -k >/dev/null 2>&1 || true

  compare "$work/linux" "$work/$arch-windowed" "$min_psnr" 10 29 "$arch windowed"
  compare "$work/linux" "$work/$arch-full" "$min_psnr" 10 29 "$arch full screen"
  # Before the press the frames carry no text and are held to the plain threshold.
  compare "$work/linux-text" "$work/$arch-text" "$min_psnr" 10 14 "$arch Num Lock, before"
  compare "$work/linux-text" "$work/$arch-text" "$min_text_psnr" 15 29 "$arch overlay text"
done
say "passed"
