#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up and builds Sendolin, starts a local station with its directory,
# points the client at that directory and starts the client. The station is
# stopped when the client exits.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

station_out=$(mktemp)
"$SENDOLIN_BUILD/station/sendolin-station" \
  --listen 127.0.0.1:0 --directory 127.0.0.1:0 \
  --name "Sendolin Demo" --source melody \
  --info "Willkommen bei Sendolin" --info "Eine Melodie vom lokalen Sender" \
  >"$station_out" &
station_pid=$!
cleanup() {
  kill "$station_pid" 2>/dev/null || true
  wait "$station_pid" 2>/dev/null || true
  rm -f "$station_out"
}
trap cleanup EXIT

# The station prints "directory HOST:PORT" once it is listening.
directory=""
for _ in $(seq 1 100); do
  directory=$(sed -n 's/^directory //p' "$station_out")
  [ -n "$directory" ] && break
  kill -0 "$station_pid" 2>/dev/null || { echo "the station did not start" >&2; exit 1; }
  sleep 0.1
done
[ -n "$directory" ] || { echo "the station did not report its directory" >&2; exit 1; }

mkdir -p "$SENDOLIN_BUILD/app"
printf 'http://%s/\n' "$directory" >"$SENDOLIN_BUILD/app/Server.ini"
echo "Station directory: http://$directory/"

"$SENDOLIN_BUILD/app/SendolinClient"
