#!/usr/bin/env bash
# Cross-builds the native Windows program, quillmere.exe (Direct3D 9), with mingw-w64.
#   scripts/windows_build.sh [i686|x86_64] [BUILD_DIR]
# i686 (the default) is the 32-bit program that ships for the original platform, built into
# build-win; x86_64 is the same sources as a 64-bit program, built into build-win64, which 64-bit
# Wine runs. Installs the cross compiler first when it is missing (apt-get, as root). The result
# needs only Windows' own DLLs and the Direct3D 9 extension library d3dx9_25.dll. Prints the
# program's path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/packages.sh"
arch=${1:-i686}
case $arch in
  i686) build=${2:-$root/build-win} ;;
  x86_64) build=${2:-$root/build-win64} ;;
  *) echo "windows_build: the architecture is i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac
jobs=${JOBS:-$(nproc)}

ensure_packages windows_build cmake make "g++-mingw-w64-${arch//_/-}-posix" \
  "mingw-w64-${arch//_/-}-dev"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target quillmere
echo "$build/app/windows/quillmere.exe"
