#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Runs apt-get only as root; otherwise names what is missing and fails.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev libjpeg62-turbo-dev libpng-dev libmpg123-dev lame libmp3lame-dev
          libfreetype-dev fonts-liberation2 ffmpeg libsdl2-dev libsdl2-mixer-dev
          xvfb xauth xdotool imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
