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

# What each layer may include besides its own folder. A layer missing here,
# and the tests, may be included by nobody.
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

# The layer a root-relative path belongs to: its first folder, or its first
# two below platform/.
layer_of() {
  case "$1" in
    platform/*/*) local rest=${1#platform/}; echo "platform/${rest%%/*}" ;;
    */*) echo "${1%%/*}" ;;
    *) echo "" ;;
  esac
}

is_in() { # word list...
  local word=$1; shift
  for w in "$@"; do [ "$w" = "$word" ] && return 0; done
  return 1
}

cd "$root"
files=0
faults=0
while IFS= read -r file; do
  files=$((files + 1))
  from=$(layer_of "$file")
  while IFS=: read -r line target; do
    to=$(layer_of "$target")
    # Bare names are the file's own folder; other paths outside the layers
    # (system headers in quotes) are not the order's business.
    [ -n "$to" ] && is_in "$to" $known || continue
    [ "$to" = "$from" ] && continue
    is_in "$to" ${allowed[$from]} && continue
    echo "$file:$line: includes \"$target\": $from may not use $to" >&2
    faults=$((faults + 1))
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(for layer in ${!allowed[*]}; do
           [ -d "$layer" ] || continue
           find "$layer" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.hpp' -o -name '*.c' \)
         done | sort)

if [ "$faults" -gt 0 ]; then
  echo "check-layers: $faults includes against the layer order" >&2
  exit 1
fi
echo "check-layers: $files files, every include follows the layer order"
