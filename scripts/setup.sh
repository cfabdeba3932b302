#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Sendolin needs and builds it into build/.
# Sourced by demo.sh and test.sh; safe to run again (it installs only what is
# missing and rebuilds incrementally).
set -euo pipefail

SENDOLIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SENDOLIN_BUILD=${SENDOLIN_BUILD:-$SENDOLIN_ROOT/build}

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libmpg123-dev libasound2-dev libmp3lame-dev libasio-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-liberation mpg123 alsa-utils
  desktop-file-utils appstream systemd man-db dpkg-dev openbox xdotool x11-utils
  dbus-daemon trayer playerctl qt6-wayland weston
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev icecast2 ffmpeg sox
  universal-ctags
  debhelper lintian devscripts
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Scripts that build in a way of their own (the fuzz build) only want the packages.
if [ "${1:-}" = "--deps-only" ]; then
  return 0
fi

cmake -S "$SENDOLIN_ROOT" -B "$SENDOLIN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$SENDOLIN_BUILD" -j"$(nproc)"
