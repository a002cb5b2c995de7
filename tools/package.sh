#!/usr/bin/env bash
# Builds the Debian package (build/parlivo_<version>_<arch>.deb), checks
# its menu entry and metainfo, unpacks it into a throwaway root and starts
# the installed program offscreen there to see that it comes up.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
EXTRA=(dpkg-dev appstream desktop-file-utils file)
missing=()
for p in "${EXTRA[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cd "$BUILD"
cpack -G DEB >/dev/null
DEB="$(ls -t "$BUILD"/parlivo_*.deb | head -1)"
echo "package: $DEB"
dpkg-deb -f "$DEB" Depends

ROOT="$(mktemp -d)"
HOME_DIR="$(mktemp -d)"
trap 'rm -rf "$ROOT" "$HOME_DIR"' EXIT
dpkg-deb -x "$DEB" "$ROOT"
desktop-file-validate "$ROOT/usr/share/applications/parlivo.desktop"
appstreamcli validate --no-net "$ROOT"/usr/share/metainfo/*.metainfo.xml >/dev/null
test -x "$ROOT/usr/libexec/parlivo/tcloud_tts"
grep -q '^ExecStart=/usr/bin/parlivo --headless' "$ROOT/usr/lib/systemd/user/parlivo.service"
for size in 48x48 64x64 128x128 256x256 scalable; do
  ls "$ROOT/usr/share/icons/hicolor/$size/apps/"parlivo.* >/dev/null
done

# The installed program, as a user whose home is empty: it must come up,
# keep its lists in the user's folders and end normally on SIGTERM.
cd "$HOME_DIR"
HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/.local/share" XDG_CONFIG_HOME="$HOME_DIR/.config" \
  XDG_CACHE_HOME="$HOME_DIR/.cache" QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
  "$ROOT/usr/bin/parlivo" >/dev/null 2>&1 &
APP=$!
for _ in $(seq 1 100); do
  [ -f "$HOME_DIR/.local/share/Parlivo/Parlivo/SimpleMode.xml" ] && break
  sleep 0.2
done
kill -TERM "$APP"
wait "$APP"
test -f "$HOME_DIR/.local/share/Parlivo/Parlivo/SimpleMode.xml"
echo "the installed program came up and closed normally"
