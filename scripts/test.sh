#!/usr/bin/env bash
# Sets up, builds and runs every test (unit, integration, e2e).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$SENDOLIN_BUILD"
ctest --output-on-failure -j"$(nproc)" "$@"
