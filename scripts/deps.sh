#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Runs apt-get only as root; otherwise names what is missing and fails.
set -euo pipefail
. "$(dirname "$0")/lib/packages.sh"
ensure_packages deps cmake make g++ clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev \
  libbenchmark-dev libjpeg62-turbo-dev libpng-dev libmpg123-dev lame libmp3lame-dev \
  libfreetype-dev fonts-liberation2 ffmpeg libsdl2-dev libsdl2-mixer-dev \
  xvfb xauth xdotool imagemagick libegl-dev libgles-dev libgl1-mesa-dri libegl-mesa0
