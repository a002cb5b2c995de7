#!/usr/bin/env bash
# Takes the README's screenshots: Parlivo under Xvfb with a fresh data
# folder, the word, price and timer tabs showing their default rows.
# Needs xvfb, xdotool and imagemagick (import).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs}"
WORK="$(mktemp -d)"
trap 'kill "${APP:-}" "${XVFB:-}" 2>/dev/null || true; rm -rf "$WORK"' EXIT

Xvfb :77 -screen 0 1024x768x24 >/dev/null 2>&1 & XVFB=$!
sleep 1
export DISPLAY=:77 XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" SDL_AUDIODRIVER=dummy
(cd "$WORK" && "$ROOT/build/bin/parlivo") >/dev/null 2>&1 & APP=$!
sleep 2
WIN="$(xdotool search --name 'V1.7' | head -1)"
eval "$(xdotool getwindowgeometry --shell "$WIN")"
mkdir -p "$OUT"
# The tab bar's four tabs share the window's width; click each one's middle.
shoot() {
    xdotool mousemove $((X + WIDTH * (2 * $1 + 1) / 8)) $((Y + 15)) click 1
    sleep 1
    import -window "$WIN" "$OUT/$2"
    echo "$OUT/$2"
}
shoot 0 screenshot.png
shoot 1 price.png
shoot 2 timer.png
shoot 3 settings.png
# The music manager, from its button at the left of the settings tab (laid out from the top).
xdotool mousemove $((X + WIDTH / 6)) $((Y + 357)) click 1
sleep 1
DIALOG="$(xdotool search --name '背景音乐管理' | head -1)"
import -window "$DIALOG" "$OUT/music.png"
echo "$OUT/music.png"
