#!/usr/bin/env bash
# Tiles one frame every 10 s of show time (10, 20, ..., 140) into docs/contact_sheet.png: four
# columns of 320x240 thumbnails, each labelled with its show time.
# Content: BUILD_DIR/content when it holds data/ and vid/ (made first by quillmere-content when
# that tool is built), else the test asset set.
# Usage: scripts/contact_sheet.sh BUILD_DIR [OUT.png]
set -euo pipefail
build=${1:-build}
out=${2:-docs/contact_sheet.png}
fps=${FPS:-60}
app="$build/app/quillmere"

work=$(mktemp -d /tmp/qm-sheet-XXXXXX)
trap 'rm -rf "$work"' EXIT

content="$build/content"
if [ ! -d "$content/data" ] && [ -x "$build/tools/quillmere-content" ]; then
  "$build/tools/quillmere-content" "$content" >&2
fi
if [ -d "$content/data" ] && [ -d "$content/vid" ]; then
  echo "contact sheet of $content" >&2
else
  echo "no $content: contact sheet of the test asset set" >&2
  content="$work/assets"
  mkdir -p "$content"
  QM_ASSET_DIR="$content" "$build/tests/app_tests" --gtest_also_run_disabled_tests \
    --gtest_filter='AssetSet.DISABLED_WriteToFolder' --gtest_brief=1 >/dev/null
fi

font=/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf
tiles=()
for t in 10 20 30 40 50 60 70 80 90 100 110 120 130 140; do
  shot="$work/$(printf '%03d' "$t").png"
  # The show's clock or its music may end just before a round time: fall back a little.
  for at in "$t" "$((t - 1)).9"; do
    if "$app" --assets "$content" --fps "$fps" --screenshot "$at" "$shot" 2>"$work/err"; then
      break
    fi
  done
  if [ -f "$shot" ]; then
    tiles+=(-label "$at s" "$shot")
  else
    echo "no frame at $t s: $(tail -n 1 "$work/err")" >&2
  fi
done
[ ${#tiles[@]} -gt 0 ] || { echo "no frames captured" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
montage -font "$font" -pointsize 14 -background '#202020' -fill '#e0e0e0' \
  "${tiles[@]}" -tile 4x -geometry 320x240+4+4 -depth 8 "$work/sheet.png"
# A palette keeps the sheet small; the thumbnails are only for looking.
convert "$work/sheet.png" -colors 256 -define png:compression-level=9 "$out"
echo "wrote $out ($(stat -c %s "$out") bytes)" >&2
