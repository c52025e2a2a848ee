#!/usr/bin/env bash
# Builds the web player into a static folder: the page, the program as WebAssembly (Debian's
# emscripten) and the show's content made by our own content tool.
#
# usage: scripts/web_build.sh CONTENT WEB_BUILD
#   CONTENT    a folder with data/ and vid/ (the native build's content)
#   WEB_BUILD  the build folder; the site goes to WEB_BUILD/site
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
content=$1
web=$2

ensure_packages web emscripten node-acorn
# emcc's JavaScript optimizer finds acorn through node's search path.
export NODE_PATH=/usr/share/nodejs
[[ -d "$content/data" && -d "$content/vid" ]] || { echo "web: no content in $content" >&2; exit 1; }

emcmake cmake -S "$root" -B "$web/cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$web/cmake" -j "${JOBS:-$(nproc)}"

site=$web/site
rm -rf "$site"
mkdir -p "$site"
cp "$root/app/web/index.html" "$root/app/web/quillmere-page.js" "$site/"
cp "$web/cmake/app/web/quillmere.js" "$web/cmake/app/web/quillmere.wasm" "$site/"
cp -r "$content/data" "$content/vid" "$site/"

# site.json: what the page loads before the show starts, with sizes for its progress bar.
(cd "$site" && python3 - <<'PY'
import json, os
files = ["quillmere.wasm"]
for top in ("data", "vid"):
    for folder, _, names in sorted(os.walk(top)):
        files += [os.path.join(folder, n) for n in sorted(names)]
with open("site.json", "w") as out:
    json.dump({"files": [{"path": f, "size": os.path.getsize(f)} for f in files]}, out, indent=1)
PY
)
bytes=$(du -sb "$site" | cut -f1)
echo "web: $site ($(( bytes / 1024 )) KiB)"
