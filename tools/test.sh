#!/usr/bin/env bash
# Builds Parlivo (installing what is missing) and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$BUILD"
ctest --output-on-failure "$@"
