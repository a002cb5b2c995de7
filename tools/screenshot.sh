#!/usr/bin/env bash
# Takes the README's screenshot: Parlivo under Xvfb with a fresh data
# folder, the word tab showing its default rows. Needs xvfb, xdotool and
# imagemagick (import).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/screenshot.png}"
WORK="$(mktemp -d)"
trap 'kill "${APP:-}" "${XVFB:-}" 2>/dev/null || true; rm -rf "$WORK"' EXIT

Xvfb :77 -screen 0 1024x768x24 >/dev/null 2>&1 & XVFB=$!
sleep 1
export DISPLAY=:77 XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" SDL_AUDIODRIVER=dummy
(cd "$WORK" && "$ROOT/build/bin/parlivo") >/dev/null 2>&1 & APP=$!
sleep 2
WIN="$(xdotool search --name 'V1.7' | head -1)"
# The window opens on the price tab; click the first tab.
eval "$(xdotool getwindowgeometry --shell "$WIN")"
xdotool mousemove $((X + 40)) $((Y + 15)) click 1
sleep 1
mkdir -p "$(dirname "$OUT")"
import -window "$WIN" "$OUT"
echo "$OUT"
