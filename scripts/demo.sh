#!/usr/bin/env bash
# Sets up, builds and starts the client against the bundled station.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
exec "$SENDOLIN_BUILD/app/SendolinClient"
