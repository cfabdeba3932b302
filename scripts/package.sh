#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up and builds Sendolin, then builds the Debian package
# sendolin_<version>_<arch>.deb into build/ (install it with apt).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$SENDOLIN_BUILD"
cpack -G DEB >/dev/null
ls -1 "$SENDOLIN_BUILD"/sendolin_*.deb
