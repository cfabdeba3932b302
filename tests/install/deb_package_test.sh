#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end through the Debian package: builds it with CPack, checks its
# control data, unpacks it into a scratch root, starts the unpacked station
# with the packaged defaults (on ports the system picks) and the unpacked
# client through its bin/ link under Xvfb, picks the station and plays it.
# Usage: deb_package_test.sh BUILD_DIR VERSION LAYOUT_FORM
#
# Faults it guards against: a package under another name, dependencies that
# were not computed, configuration files dpkg would overwrite on upgrade, a
# client that does not find Server.ini through the link (it then reports the
# directory error and ends), packaged station defaults or stations file that
# do not start, a StartupWMClass that is not the window's class, a station
# that does not end cleanly on SIGTERM.
set -euo pipefail
build=$1
version=$2
form=$3
scratch=$(mktemp -d)
station_pid="" client_pid="" xvfb_pid=""
cleanup() {
  local pid
  for pid in $client_pid $station_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap 'status=$?; cleanup; exit $status' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "FAIL: $*" >&2; exit 1; }
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

echo "== package"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; die "cpack failed"; }
deb=$scratch/out/sendolin_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || die "no $(basename "$deb"); cpack made: $(ls "$scratch/out")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libasound2 libmpg123-0 libmp3lame0 fonts-liberation; do
  [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends lacks $package"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"

# Every file under /etc is a conffile and nothing else is.
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | sort)
etc_files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./\(etc/.*[^/]\)$|/\1|p' | sort)
[ -n "$conffiles" ] && [ "$conffiles" = "$etc_files" ] \
  || fail "conffiles [$conffiles] are not the files under /etc [$etc_files]"
for script in postinst prerm postrm; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -tv "./$script" | grep -q '^-rwxr-xr-x' || fail "$script missing or not executable"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"

echo "== station with the packaged defaults and stations file"
[ -f "$root/etc/default/sendolin-station" ] || die "the package has no /etc/default/sendolin-station"
[ -f "$root/etc/sendolin/stations.conf" ] || die "the package has no /etc/sendolin/stations.conf"
# shellcheck disable=SC1091
. "$root/etc/default/sendolin-station"
opts=$(sed -E 's/127\.0\.0\.1:[0-9]+/127.0.0.1:0/g' <<<"$SENDOLIN_STATION_OPTS")
grep -q -- '--directory 127.0.0.1:0' <<<"$opts" || fail "the packaged station serves no loopback directory: $SENDOLIN_STATION_OPTS"
grep -Eq '^listen *= *127\.0\.0\.1:6565$' "$root/etc/sendolin/stations.conf" \
  || fail "the packaged station does not listen on 127.0.0.1:6565: $(grep listen "$root/etc/sendolin/stations.conf")"
sed -E 's/^(listen *= *127\.0\.0\.1):[0-9]+/\1:0/' "$root/etc/sendolin/stations.conf" >"$scratch/stations.conf"
# shellcheck disable=SC2086
"$root/usr/bin/sendolin-station" --stations "$scratch/stations.conf" $opts >"$scratch/station.out" 2>"$scratch/station.log" &
station_pid=$!
directory_of() { sed -n 's/^directory //p' "$scratch/station.out"; }
has_directory() { [ -n "$(directory_of)" ]; }
wait_for 20 has_directory || { cat "$scratch/station.log"; die "the station did not report its directory"; }
# What an administrator does to the conffile; the link beside the client stays.
printf 'http://%s/\n' "$(directory_of)" >"$root/etc/sendolin/Server.ini"

echo "== client through the bin/ link under Xvfb"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
wait_for 20 grep -q '[0-9]' "$scratch/display" || die "Xvfb did not start: $(cat "$scratch/xvfb.log")"
export DISPLAY=:$(head -n1 "$scratch/display")
mkdir -m 700 "$scratch/runtime"
cat >"$scratch/asound.conf" <<ALSA
pcm.!default {
  type file
  slave.pcm "null"
  file "$scratch/capture.raw"
  format "raw"
}
pcm.null { type null }
ALSA
(cd / && exec env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$scratch/runtime" ALSA_CONFIG_PATH="$scratch/asound.conf" \
   SENDOLIN_DIALOG_TRANSCRIPT="$scratch/dialogs.txt" "$root/usr/bin/sendolin-client") >"$scratch/client.log" 2>&1 &
client_pid=$!

window=""
find_window() { window=$(xdotool search --onlyvisible --class '^sendolin-client$' 2>/dev/null | head -n1); [ -n "$window" ]; }
wait_for 30 find_window || { cat "$scratch/client.log" "$scratch/dialogs.txt" 2>/dev/null; die "no client window"; }

wm_class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')
startup_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/sendolin-client.desktop")
[ "$wm_class" = "$startup_class" ] || fail "the window's class is '$wm_class', the desktop entry expects '$startup_class'"

asked() { grep -q 'directory: .* for' "$scratch/station.log"; }
wait_for 30 asked || fail "the client never asked the station's directory"

# The centre of a control of the layout, in window coordinates.
centre() {
  awk -v name="$1" '
    $0 ~ "^  object " name ":" { inside = 1; next }
    inside && /^  end/ { exit }
    inside && $1 == "Left" { x = $3 } inside && $1 == "Top" { y = $3 }
    inside && $1 == "Width" { w = $3 } inside && $1 == "Height" { h = $3 }
    END { print int(x + w / 2), int(y + h / 2) }' "$form"
}
click() {
  local x y
  read -r x y < <(centre "$1")
  xdotool mousemove --window "$window" "$x" "$y" click "${2:-1}"
}
listening() { grep -q 'stream listener connected' "$scratch/station.log"; }
# Each directory answer empties the list, so choose and press Play until
# the station takes the listener.
for _ in $(seq 1 10); do
  click Adressliste 5   # the mouse wheel picks the first station
  sleep 0.3
  click btnconnect
  wait_for 5 listening && break
done
listening || fail "the client never connected: $(cat "$scratch/dialogs.txt" 2>/dev/null)"

# 11025 Hz stereo 16-bit: two seconds of sound, not silence.
played() { [ "$(stat -c %s "$scratch/capture.raw" 2>/dev/null || echo 0)" -gt 88200 ]; }
wait_for 30 played || fail "the client played less than two seconds"
if [ -f "$scratch/capture.raw" ] && [ "$(tr -d '\0' <"$scratch/capture.raw" | wc -c)" -eq 0 ]; then
  fail "the client played only silence"
fi
[ ! -s "$scratch/dialogs.txt" ] || fail "the client showed dialogs: $(cat "$scratch/dialogs.txt")"

click BitBtn1
wait_for 20 sh -c "! kill -0 $client_pid 2>/dev/null" || fail "the client did not close"
client_status=0
wait "$client_pid" || client_status=$?
client_pid=""
[ "$client_status" -eq 0 ] || fail "the client ended with $client_status"

echo "== station stops on SIGTERM"
kill -TERM "$station_pid"
station_status=0
wait "$station_pid" || station_status=$?
station_pid=""
[ "$station_status" -eq 0 ] || fail "the station ended with $station_status on SIGTERM"
grep -q 'stopping on SIGTERM' "$scratch/station.log" || fail "the station did not log its stop"

if [ "$failures" -gt 0 ]; then
  echo "--- station log"; cat "$scratch/station.log"
  echo "--- client log"; cat "$scratch/client.log"
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
