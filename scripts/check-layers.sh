#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks every `#include "…"` in the product code against the layer order:
#   app -> audio, net, widgets -> platform (toolkit, wave, winsock, mixer,
#   shell, mpris) -> platform core; station -> wire -> platform core.
# The build enforces the same order through each target's links; this check
# names the offending line and the two layers before anything is compiled.
#   scripts/check-layers.sh [SOURCE-ROOT]    (default: this checkout)
# Exits 1 and prints file:line for every include against the order.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

platform="platform/toolkit platform/wave platform/winsock platform/mixer platform/shell platform/mpris"

# What each layer may include besides its own folder. The tests may be
# included by nobody.
declare -A allowed=(
  [app]="audio net widgets $platform platform/core wire"
  [audio]="$platform platform/core wire"
  [net]="$platform platform/core"
  [widgets]="$platform platform/core"
  [platform/toolkit]="platform/core"
  [platform/wave]="platform/core"
  [platform/winsock]="platform/core"
  [platform/mixer]="platform/wave platform/core"
  [platform/shell]="platform/core"
  [platform/mpris]="platform/toolkit platform/core"
  [platform/core]=""
  [station]="wire"
  [wire]="platform/core"
)
known="${!allowed[*]} tests"

cd "$root"
layers=()
for layer in "${!allowed[@]}"; do [ -d "$layer" ] && layers+=("$layer"); done
files=()
[ "${#layers[@]}" -gt 0 ] && mapfile -t files < <(find "${layers[@]}" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.hpp' -o -name '*.c' \) | sort)

# One line per layer for awk: the layer, then what it may include.
table=$(for layer in "${!allowed[@]}"; do echo "$layer ${allowed[$layer]}"; done)

# grep prints file:line:text; awk finds both layers and looks the arrow up.
# The layer of a root-relative path is its first folder, or its first two
# below platform/. Bare names are the file's own folder; paths outside the
# layers (system headers in quotes) are not the order's business.
faults=0
if [ "${#files[@]}" -gt 0 ]; then
  { grep -nHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${files[@]}" || true; } |
    awk -v table="$table" -v known="$known" '
      function layer_of(path,   parts, n) {
        n = split(path, parts, "/")
        if (n < 2) return ""
        if (parts[1] == "platform") return n < 3 ? "" : "platform/" parts[2]
        return parts[1]
      }
      BEGIN {
        n = split(table, rows, "\n")
        for (i = 1; i <= n; i++) {
          m = split(rows[i], words, " ")
          for (j = 2; j <= m; j++) ok[words[1], words[j]] = 1
        }
        m = split(known, words, " ")
        for (j = 1; j <= m; j++) isLayer[words[j]] = 1
      }
      {
        file = $0; sub(/:.*/, "", file)
        rest = substr($0, length(file) + 2)
        line = rest; sub(/:.*/, "", line)
        target = rest; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
        from = layer_of(file); to = layer_of(target)
        if (to == "" || !(to in isLayer) || to == from || ((from, to) in ok)) next
        printf "%s:%s: includes \"%s\": %s may not use %s\n", file, line, target, from, to > "/dev/stderr"
        faults++
      }
      END { exit faults > 0 }' || faults=1
fi

if [ "$faults" -gt 0 ]; then
  echo "check-layers: includes against the layer order" >&2
  exit 1
fi
echo "check-layers: ${#files[@]} files, every include follows the layer order"
