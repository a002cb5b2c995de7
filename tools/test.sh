#!/usr/bin/env bash
# Builds Parlivo (installing what is missing) and runs every test.
set -euo pipefail
# The phone page is tested in Debian's chromium, driven by chromedriver;
# the chain link against a real Mosquitto broker with its own clients and
# a test CA made by openssl.
EXTRA_PACKAGES=(chromium chromium-driver mosquitto mosquitto-clients openssl)
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$BUILD"
ctest --output-on-failure "$@"
