#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lines per function definition of the given C++ files (from the line of its
# name to its closing brace, as universal-ctags sees them): count, median,
# p90 and max, one row per file and one over all of them.
#   tools/function-sizes.sh app/Demo2Client.cpp
#   tools/function-sizes.sh app/*.cpp
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE.cpp..." >&2; exit 2; }
command -v ctags >/dev/null || { echo "$0: needs universal-ctags (scripts/setup.sh installs it)" >&2; exit 2; }

sizes() {
  ctags --language-force=C++ --kinds-C++=f --fields=+ne -f - "$@" |
    sed -n 's/.*\tline:\([0-9]*\)\t.*end:\([0-9]*\).*/\1 \2/p' |
    awk '{ print $2 - $1 + 1 }' | sort -n
}

row() {
  local name=$1; shift
  sizes "$@" | awk -v name="$name" '
    { v[NR] = $1 }
    END {
      if (NR == 0) { printf "%-28s %5d\n", name, 0; exit }
      median = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      p90 = v[int(0.9 * NR + 0.999999)]
      printf "%-28s %5d %6g %5d %5d\n", name, NR, median, p90, v[NR]
    }'
}

printf "%-28s %5s %6s %5s %5s\n" file funcs median p90 max
for f in "$@"; do row "$f" "$f"; done
[ $# -eq 1 ] || row "(all)" "$@"
