#!/usr/bin/env bash
# Cross-builds the native Windows program, quillmere.exe (32-bit, Direct3D 9), with mingw-w64.
#   scripts/windows_build.sh [BUILD_DIR]      (default: build-win)
# Installs the cross compiler first when it is missing (apt-get, as root). The result needs only
# Windows' own DLLs and the Direct3D 9 extension library d3dx9_25.dll.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-win}
jobs=${JOBS:-$(nproc)}

packages=(cmake make g++-mingw-w64-i686-posix mingw-w64-i686-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "windows_build: missing Debian packages: ${missing[*]} (run as root, or install them)" >&2
    exit 1
  fi
  echo "windows_build: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target quillmere
echo "$build/app/windows/quillmere.exe"
