#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The layer check on fixture trees of one planted file each, then on the real
# tree. Every case is: the file, the include planted in it (on line 3), and
# what the check must say: "pass", or the two layers it must name.
#   layer-check-test.sh CHECK-SCRIPT SOURCE-ROOT
set -uo pipefail
check=$1
source_root=$2

cases=(
  # upward arrows out of each lower layer
  "platform/core/NotifyWindow.cpp|platform/toolkit/Application.h|platform/core may not use platform/toolkit"
  "wire/StreamRecords.h|platform/wave/MMSystem.h|wire may not use platform/wave"
  "platform/wave/WaveOut.cpp|audio/ACMOut.h|platform/wave may not use audio"
  "platform/shell/ShellAPI.h|widgets/IconTBar.h|platform/shell may not use widgets"
  "audio/ACMOut.h|app/Demo2Client.h|audio may not use app"
  # the station and the client share the wire and nothing else
  "station/Station.cpp|platform/core/NotifyWindow.h|station may not use platform/core"
  "app/Demo2Client.cpp|station/Station.h|app may not use station"
  # siblings in the platform layer only where the table says so
  "platform/wave/WaveOut.cpp|platform/winsock/WinSock.h|platform/wave may not use platform/winsock"
  # product code never reaches into the tests
  "net/WSocket.cpp|tests/support/Vitals.h|net may not use tests"
  # downward and same-folder includes pass
  "audio/ACMOut.cpp|platform/wave/MMSystem.h|pass"
  "platform/mixer/Mixer.cpp|platform/wave/MMSystem.h|pass"
  "station/Text.cpp|wire/Win1252.h|pass"
  "app/Demo2Client.cpp|Demo2Client.moc|pass"
)

passed=0
failed=0
verdict() { # ok name detail
  if [ "$1" = 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $2: $3"
  fi
}

fixture=$(mktemp -d)
trap 'rm -rf "$fixture"' EXIT
for entry in "${cases[@]}"; do
  IFS='|' read -r file include expected <<<"$entry"
  rm -rf "${fixture:?}"/*
  mkdir -p "$fixture/$(dirname "$file")"
  printf '// SPDX-License-Identifier: GPL-3.0-or-later\n\n#include "%s"\n' "$include" >"$fixture/$file"
  output=$(bash "$check" "$fixture" 2>&1)
  rc=$?
  if [ "$expected" = pass ]; then
    [ "$rc" = 0 ]
    verdict $? "$file -> $include" "rejected: $output"
  else
    [ "$rc" != 0 ] && grep -qF "$file:3: includes \"$include\": $expected" <<<"$output"
    verdict $? "$file -> $include" "rc $rc, said: $output"
  fi
done

output=$(bash "$check" "$source_root" 2>&1)
verdict $? "the source tree" "$output"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
