#!/usr/bin/env bash
# Builds Parlivo (installing what is missing) and runs every test.
set -euo pipefail
# The phone page is tested in Debian's chromium, driven by chromedriver.
EXTRA_PACKAGES=(chromium chromium-driver)
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$BUILD"
ctest --output-on-failure "$@"
