#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# desktop-session.sh COMMAND [ARGS...]
# Runs COMMAND in a desktop session of its own: an Xvfb display and a private
# D-Bus session bus, with Qt on xcb. Nothing else runs there (no window
# manager, no notification area); a test starts what it needs, such as a tray
# or a StatusNotifierWatcher. Both servers stop when COMMAND ends, and so
# does whatever COMMAND started and left behind: it runs in a process group
# of its own, which ends with it, so a test that crashed before stopping its
# compositor or tray leaves none of them running.
# Listing the tests of a GoogleTest binary needs no session.
set -euo pipefail

for argument in "$@"; do
  if [ "$argument" = "--gtest_list_tests" ]; then
    exec "$@"
  fi
done

session=$(mktemp -d)
pids=()
group=
cleanup() {
  if [ -n "$group" ]; then
    kill -TERM -- "-$group" 2>/dev/null || true
  fi
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$session"
}
trap cleanup EXIT

# Waits until a server has written its first line into the file.
first_line() {
  local file=$1 what=$2
  for _ in $(seq 1 200); do
    if [ -s "$file" ] && [ "$(wc -l <"$file")" -ge 1 ]; then
      head -n 1 "$file"
      return 0
    fi
    sleep 0.05
  done
  echo "desktop-session: $what did not start" >&2
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session/display" 2>"$session/xvfb.log" &
pids+=($!)
display=$(first_line "$session/display" Xvfb) || { cat "$session/xvfb.log" >&2; exit 1; }

dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$session/bus" 2>"$session/dbus.log" &
pids+=($!)
bus=$(first_line "$session/bus" dbus-daemon) || { cat "$session/dbus.log" >&2; exit 1; }

mkdir -m 700 "$session/runtime"
export DISPLAY=":$display" DBUS_SESSION_BUS_ADDRESS="$bus" XDG_RUNTIME_DIR="$session/runtime"
export QT_QPA_PLATFORM=xcb
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION QT_QPA_PLATFORMTHEME
# Started in the background, setsid makes the command a group leader without
# forking, so its pid names the group; stdin stays the session's own.
setsid "$@" <&0 &
group=$!
status=0
wait "$group" || status=$?
exit "$status"
