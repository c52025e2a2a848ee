#!/usr/bin/env bash
# The web player in headless Chromium, served from 127.0.0.1: frames of the still mode (?at=)
# against the native program's screenshots of the same show times, the show's own failure
# message for a missing and for a damaged video, one sentence without WebGL 2, the live show
# ended by Escape and by the end of its music, and the site's weight.
#
# usage: scripts/web_check.sh SITE PROGRAM
#   SITE     the built site (make web: build-web/site)
#   PROGRAM  the native quillmere, for the reference frames; it runs on SITE's content
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
site=$(realpath "$1")
program=$(realpath "$2")
min_psnr=35
max_bytes=$((8 * 1024 * 1024))

ensure_packages web-check chromium nodejs imagemagick ffmpeg

work=$(mktemp -d /tmp/qm-web-XXXXXX)
server=
cleanup() {
    [[ -n "$server" ]] && kill "$server" 2>/dev/null || true
    if [[ -n "${QM_WEB_KEEP:-}" ]]; then echo "web check: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() {
    echo "web check: FAIL: $*" >&2
    exit 1
}

bytes=$(du -sb "$site" | cut -f1)
(( bytes < max_bytes )) || fail "the site weighs $bytes bytes, over $max_bytes"
echo "web check: the site weighs $(( bytes / 1024 )) KiB"

# Four sites side by side: the whole one, one without the overlay video, one with the
# background video cut short, one with six seconds of music.
mkdir -p "$work/www"
cp -r "$site" "$work/www/whole"
cp -r "$site" "$work/www/missing" && rm "$work/www/missing/vid/kasi.vid"
cp -r "$site" "$work/www/damaged"
head -c 1000 "$site/vid/vemla.vid" >"$work/www/damaged/vid/vemla.vid"
cp -r "$site" "$work/www/short"
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=6" -ar 44100 -c:a libmp3lame -b:a 64k \
    -y "$work/www/short/data/aaa.mp3"

# A static server on a free port of the loopback address.
python3 - "$work/www" >"$work/port" 2>"$work/server.log" <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
handler.log_message = lambda *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
server=$!
for _ in $(seq 50); do [[ -s "$work/port" ]] && break; sleep 0.1; done
port=$(cat "$work/port")
[[ -n "$port" ]] || fail "the web server did not start"
base="http://127.0.0.1:$port"

# page URL SECONDS [FLAGS...] -> the page's report (JSON) on standard output
page() {
    node "$root/scripts/web_page.js" "$@" 2>>"$work/page.log"
}
field() {
    python3 -c 'import json, sys; print(json.load(sys.stdin).get(sys.argv[1]) or "")' "$1"
}

# Frames: the page's PNG against the native screenshot at the same show time. The second has
# the debug overlay on, so the browser's text is measured too.
mkdir -p "$work/web" "$work/native"
check_frame() {
    local seconds=$1 query=$2 k=$3
    shift 3
    page "$base/whole/index.html?at=$seconds$query" 120 >"$work/report.json" ||
        fail "the page at $seconds s: $(field error <"$work/report.json")"
    [[ $(field state <"$work/report.json") == done ]] ||
        fail "the page at $seconds s ended '$(field state <"$work/report.json")': $(field error <"$work/report.json")"
    field frame <"$work/report.json" | python3 -c '
import base64, sys
url = sys.stdin.read().strip()
sys.stdout.buffer.write(base64.b64decode(url.split(",", 1)[1]))' >"$work/web/frame_$k.png"
    (cd "$site" && "$program" --assets . --screenshot "$seconds" "$work/native/frame_$k.png" \
        --overwrite "$@" 2>/dev/null) || fail "the native screenshot at $seconds s"
}
check_frame 20 "" 001200
check_frame 60 "&press=NUMLOCK@1&press=DIVIDE@1" 003600 --press NUMLOCK@1 --press DIVIDE@1
python3 "$root/scripts/compare_frames.py" --min-psnr "$min_psnr" "$work/web" "$work/native" ||
    fail "a frame of the page is below $min_psnr dB against the native one"

# Failures: the show's own message on the page.
expect_failure() {
    local site_name=$1 message=$2
    shift 2
    page "$base/$site_name/index.html?at=20" 60 "$@" >"$work/report.json" || true
    local state error
    state=$(field state <"$work/report.json")
    error=$(field error <"$work/report.json")
    [[ $state == failed ]] || fail "the $site_name site ended '$state', not failed"
    [[ $error == "$message" ]] || fail "the $site_name site says '$error', not '$message'"
    echo "web check: the $site_name site: $error"
}
expect_failure missing 'Failed!: vid\kasi.vid'
expect_failure damaged 'Failed!: vid\vemla.vid'
expect_failure whole 'Quillmere needs WebGL 2, which this browser does not offer.' \
    --flag --disable-webgl2
# The live show: started by a click, ended by Escape (long before its music's 141 s) and by the
# end of its music (after its six seconds, long before the show's own end at 140 s); the page
# stops the music when the show ends and reports how much of it played. The bounds are wide: in
# a browser without a GPU a frame that first uses a drawing state waits seconds for its shader.
expect_end() {
    local site_name=$1 what=$2 least_ms=$3 most_ms=$4
    shift 4
    page "$base/$site_name/index.html" 90 --click "#qm-start" "$@" >"$work/report.json" ||
        fail "the live $site_name site: $(field error <"$work/report.json")"
    local state played
    state=$(field state <"$work/report.json")
    [[ $state == ended ]] || fail "the live $site_name site ended '$state', not by $what"
    played=$(python3 -c 'import json, sys; print(int((json.load(sys.stdin).get("audio") or {}).get("playedMs", 0)))' <"$work/report.json")
    (( played >= least_ms && played < most_ms )) ||
        fail "the live $site_name site played $played ms of music before it ended"
    echo "web check: the live $site_name site ended by $what after $played ms of music"
}
expect_end whole Escape 0 60000 --key Escape@4
expect_end short "the music's end" 6000 60000
echo "web check: passed"
