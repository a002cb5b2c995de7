#!/usr/bin/env bash
# Installs the Debian packages Parlivo needs (when missing) and builds it
# in Release mode into build/. Sourced by run.sh and test.sh.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools
          libtinyxml-dev libsdl2-dev libsdl2-mixer-dev libespeak-ng-dev espeak-ng-data
          libsoxr-dev libqrencode-dev libmosquitto-dev libmicrohttpd-dev libqt6sql6-sqlite fonts-noto-cjk qt6-translations-l10n ffmpeg xvfb xauth)
# A caller may ask for more (the tests need a real browser).
PACKAGES+=(${EXTRA_PACKAGES[@]+"${EXTRA_PACKAGES[@]}"})

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
