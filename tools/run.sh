#!/usr/bin/env bash
# Builds Parlivo (installing what is missing) and starts it.
set -euo pipefail
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "parlivo: no display (DISPLAY is not set); start it from a desktop session." >&2
  exit 1
fi
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
exec "$BUILD/bin/parlivo"
