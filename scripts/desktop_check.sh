#!/usr/bin/env bash
# The show on the desktop, checked in a virtual X server: a real window, the debug keys, the
# painted picture on screen, and the two ways out (Escape and closing the window), each ending
# with status 0 after the shutdown calls in their order. The music plays on SDL's dummy audio
# driver.
#
# usage: [QM_RENDERER=cpu|gl|auto] scripts/desktop_check.sh [PROGRAM [ASSETS]]
#   PROGRAM  the quillmere program (default: build/app/quillmere)
#   QM_RENDERER  passed on as --renderer; with gl the frame-stats line must name the GL renderer
#   ASSETS   a folder with data/ and vid/; by default one is made here: tracks, paper and brush
#            images, two short videos through quillmere-vid ($QM_VID, default
#            build/tools/quillmere-vid) and a 30-second mp3 through ffmpeg
#
# Needs xvfb-run, xdotool, ImageMagick, ffmpeg (with libmp3lame), perl and a C compiler with the
# X11 headers (for the helper that closes the window the way a window manager does).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/app/quillmere}")
assets=${2:-}
vidtool=${QM_VID:-$root/build/tools/quillmere-vid}

if [[ -z "${QM_DESKTOP_CHECK_INNER:-}" ]]; then
    export QM_DESKTOP_CHECK_INNER=1
    exec timeout 150 xvfb-run -a -s "-screen 0 640x480x24" "$0" "$program" ${assets:+"$assets"}
fi

work=$(mktemp -d /tmp/qm-desktop-XXXXXX)
pid=
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
    # QM_DESKTOP_KEEP=1 leaves the traces, the screenshot and the assets for a look.
    if [[ -n "${QM_DESKTOP_KEEP:-}" ]]; then echo "desktop check: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

fail() {
    echo "desktop check: FAIL: $*" >&2
    [[ -f "$work/err.txt" ]] && sed 's/^/  program: /' "$work/err.txt" >&2
    exit 1
}
note() { echo "desktop check: $*"; }

# ---- assets ----

make_assets() {
    local dir=$1
    mkdir -p "$dir/data/brushes" "$dir/vid"
    # 133 records of two points, every point inside the view.
    for seed in 0 2; do
        perl -e 'for $n (0..132) { print pack("f<4", 0.6*sin(0.11*$n+$ARGV[0]),
                 0.4*cos(0.07*$n), 0.6*sin(0.11*$n+$ARGV[0]+0.3), 0.4*cos(0.07*$n+0.3)); }' \
            "$seed" >"$dir/data/track$((seed / 2 + 1)).data"
    done
    convert -size 512x512 xc:'#efe4cc' -seed 7 -attenuate 0.3 +noise Gaussian -blur 0x1 \
        "$dir/data/paper1.jpg"
    convert -size 128x128 radial-gradient:white-black "$dir/data/brushes/brush1.jpg"
    convert -size 128x128 radial-gradient:'#c0c0c0'-black "$dir/data/brushes/brush2.jpg"
    convert -size 128x128 radial-gradient:white-black -blur 0x4 "$dir/data/brushes/zor_brush2.jpg"
    convert -size 128x128 radial-gradient:'#808080'-black "$dir/data/brushes/zor_brush4.jpg"
    # Black videos: the video layers leave the paper as it is, so the screen shows paper and strokes.
    for video in kasi vemla; do
        ffmpeg -v error -f lavfi -i "color=c=black:s=256x256:r=10:d=0.5" -pix_fmt yuv420p \
            -f yuv4mpegpipe - | "$vidtool" encode - -o "$dir/vid/$video.vid" --quiet
    done
    ffmpeg -v error -f lavfi -i "sine=frequency=330:duration=30:sample_rate=44100" -ac 2 \
        -c:a libmp3lame -b:a 96k "$dir/data/aaa.mp3"
}

if [[ -z "$assets" ]]; then
    [[ -x "$vidtool" ]] || fail "no quillmere-vid at $vidtool (set QM_VID)"
    assets=$work/assets
    make_assets "$assets" >/dev/null || fail "could not make the assets"
fi
[[ -x "$program" ]] || fail "no program at $program"

# Closes a window as a window manager's close box does (WM_DELETE_WINDOW); xdotool's windowclose
# destroys the window from outside instead, which no program survives cleanly.
cat >"$work/close_window.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    if (argc != 2) return 2;
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) return 1;
    XEvent event = {0};
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window)strtoul(argv[1], NULL, 0);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return 0;
}
C
cc -O1 -o "$work/close_window" "$work/close_window.c" -lX11 || fail "cannot build the close helper"

# ---- running the show ----

trace=
start_show() {
    trace=$work/$1.trace
    SDL_AUDIODRIVER=dummy "$program" --assets "$assets" --trace "$trace" --frame-stats \
        --no-dialogs ${QM_RENDERER:+--renderer "$QM_RENDERER"} 2>"$work/err.txt" &
    pid=$!
}

# Waits up to $1 seconds for the command after it to succeed.
wait_until() {
    local limit=$(($1 * 10))
    shift
    for ((i = 0; i < limit; ++i)); do
        "$@" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

trace_size() { if [[ -f "$trace" ]]; then stat -c %s "$trace"; else echo 0; fi; }
# The trace written since byte offset $1.
trace_since() { if [[ -f "$trace" ]]; then tail -c +"$(($1 + 1))" "$trace"; fi; }
frames_since() { trace_since "$1" | grep -c '^frame ' || true; }
has_frames_since() { (($(frames_since "$1") >= $2)); }

find_window() {
    window=$(xdotool search --name '^Quillmere$' 2>>"$work/xdotool.txt" | head -n 1)
    [[ -n "$window" ]]
}

# Why no window was found: whether the program still runs, the windows there are, what xdotool
# said and how the program's trace ends. With `ended` as the second argument, a program that
# ended with status 0 is not a failure yet: that returns 2, for the caller to try once more.
no_window() {
    local state="the program still runs" status=0
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid" || status=$?
        state="the program ended with status $status"
    fi
    [[ -s "$work/xdotool.txt" ]] && tail -n 5 "$work/xdotool.txt" | sed 's/^/  xdotool: /' >&2
    # The program's dealings with its window and input at the end, without the drawing calls.
    [[ -f "$trace" ]] && grep -E '^(frame|PeekMessageA|GetMessageA|DispatchMessageA|DefWindowProcA|PostQuitMessage|DestroyWindow|GetDeviceState|GetForegroundWindow|SYNCPROC|BASS_)' "$trace" | tail -n 20 | sed 's/^/  trace: /' >&2
    local windows
    windows=$(xdotool search --name . getwindowname %@ 2>/dev/null | tr '\n' ',' | head -c 300)
    if [[ "${2:-}" == ended && "$state" != "the program still runs" && $status -eq 0 ]]; then
        note "no window named Quillmere$1: $state before its window was found (windows: $windows); starting it once more"
        pid=
        return 2
    fi
    fail "no window named Quillmere$1 ($state; windows: $windows)"
}

# Starts the show as $1 and waits for its third frame and its window. Now and then (three times
# in about forty runs, never on demand) a show has ended by itself, cleanly, without its window
# being found: that is reported with what there is to see, and the show is started once more.
start_with_window() {
    for attempt in 1 2; do
        start_show "$1$attempt"
        wait_until 30 has_frames_since 0 3 || fail "the show$2 did not reach its third frame"
        wait_until 30 find_window && return 0
        ((attempt == 2)) && no_window "$2, once more"
        no_window "$2" ended || true
    done
}

# Waits for the show to end and checks its status and the shutdown calls after the last frame.
expect_clean_end() {
    local how=$1 status=0
    for ((i = 0; i < 200; ++i)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "$how: the show is still running 20 s later"
    wait "$pid" || status=$?
    pid=
    ((status == 0)) || fail "$how: status $status"
    grep -q '^SYNCPROC' "$trace" && fail "$how: the music ended first; the check needs a longer mp3"
    # The Display goes before the window, then the input devices and the font.
    local last
    last=$(grep -n '^Present ' "$trace" | tail -n 1 | cut -d: -f1)
    tail -n +"${last:-1}" "$trace" |
        grep -oE '^(Release device1|DestroyWindow hwnd1|Release keyboard1|Release mouse1|Release font1)' |
        tr '\n' ',' >"$work/order.txt"
    [[ "$(cat "$work/order.txt")" == "Release device1,DestroyWindow hwnd1,Release keyboard1,Release mouse1,Release font1," ]] ||
        fail "$how: shutdown after the last frame was: $(cat "$work/order.txt")"
    if [[ "${QM_RENDERER:-}" == gl ]]; then
        grep -q 'drawn by the GL renderer' "$work/err.txt" || fail "$how: the GL renderer did not draw"
    fi
    note "$how: status 0, shutdown in order; $(grep -o 'frames in.*' "$work/err.txt" || true)"
}

# ---- run 1: keys, picture, Escape ----

# The window is looked up once the show runs: making the renderer may replace SDL's first one.
start_with_window keys ""
note "window $window is up and the show runs"
xdotool mousemove 600 60 windowfocus "$window" 2>/dev/null || true

# Milliseconds of the show so far: the tick of the latest frame against the tick read as the
# music started.
show_ms() {
    local start now
    start=$(grep -m 1 -A 1 '^BASS_StreamPlay' "$trace" | sed -n 's/^GetTickCount -> //p')
    now=$(tail -c 300000 "$trace" | grep '^GetTickCount -> ' | tail -n 1 | sed 's/^GetTickCount -> //')
    echo $(((now - start) & 0xFFFFFFFF))
}
has_show_ms() { (($(show_ms) >= $1)); }

# The picture, three seconds into the show when the strokes have grown. Every shot must show a
# picture (not blank, not flat); at least one must be mostly paper with the strokes on it. The
# video layers' noise and levels follow the wall clock, so single frames can be speckled or
# tinted all over: several shots a little apart are read.
wait_until 30 has_show_ms 3000 || fail "the show did not reach three seconds"
best=0
for shot in 1 2 3 4 5 6; do
    mark=$(trace_size)
    wait_until 20 has_frames_since "$mark" 1 || fail "the show stopped presenting frames"
    import -window root "$work/screen$shot.png"
    read -r mean deviation < <(convert "$work/screen$shot.png" -colorspace gray \
        -format '%[fx:mean] %[fx:standard_deviation]\n' info:)
    # The share within 20% of the paper's colour (or the white under it).
    paper=$(convert "$work/screen$shot.png" -fuzz 20% -fill white -opaque '#efe4cc' \
        -fill black +opaque white -format '%[fx:mean]' info:)
    note "screen $shot: mean $mean, deviation $deviation, paper-coloured share $paper"
    awk -v m="$mean" -v d="$deviation" 'BEGIN { exit !(m > 0.3 && d > 0.02 && d < 0.4) }' ||
        fail "screen $shot does not show a picture (mean $mean, deviation $deviation)"
    if awk -v p="$paper" 'BEGIN { exit !(p > 0.6) }'; then
        best=$shot
        break
    fi
    sleep 0.4
done
((best > 0)) || fail "no screen showed mostly paper with strokes"

# Each key flips its switch; the trace of the frames after it shows the switch's effect.
check_key() {
    local key=$1 what=$2
    shift 2
    key_mark=$(trace_size)
    xdotool key "$key"
    wait_until 20 key_shows "$@" || fail "$key did not turn on $what"
    note "$key: $what"
}
key_shows() {
    trace_since "$key_mark" >"$work/since.txt"
    "$@" <"$work/since.txt" >/dev/null
}
few_particle_frame() {
    awk '/^frame / { if (seen && n < 100) found = 1; seen = 1; n = 0 }
         /^DrawPrimitive / { ++n }
         END { exit !found }'
}
check_key Num_Lock "the overlay" grep -q '^DrawTextA .*"FPS:'
check_key KP_Divide "the overlay's counts" grep -q '^DrawTextA .*Strokes : '
check_key F1 "the particle trace lines" grep -q '^DrawTransform '
check_key F2 "the corner preview" grep -qE '^SetTransform device1 256 \[0\.14'
check_key F3 "the cursor brush" grep -q '^ShowCursor 1 '
check_key F4 "particles off" few_particle_frame

mark=$(trace_size)
xdotool key Escape
expect_clean_end "Escape"
trace_since "$mark" >"$work/since.txt"
grep -qE '^DispatchMessageA \[hwnd1 256 27 ' "$work/since.txt" ||
    fail "Escape did not reach the window as a key message"

# ---- run 2: closing the window ----

start_with_window close " (second run)"
"$work/close_window" "$window" || fail "could not ask the window to close"
expect_clean_end "closing the window"
grep -qE '^DefWindowProcA hwnd1 16 ' "$trace" || fail "the close did not reach the window procedure"

note "passed"
