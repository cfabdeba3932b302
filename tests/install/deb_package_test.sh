#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end through the Debian packages: builds them with scripts/package.sh,
# runs lintian on them, checks their control data, unpacks them into a
# scratch root, starts the unpacked station as the systemd unit's ExecStart
# line says (with the packaged defaults, on ports the system picks) and plays
# it with the client started from the menu entry's Exec line under Xvfb;
# then the same with the station started by the init script, as where
# systemd is not the init system.
# Usage: deb_package_test.sh SOURCE_DIR BUILD_DIR VERSION LAYOUT_FORM
# The packages are built in BUILD_DIR/deb: the same path each time, so the
# compiler cache serves a build whose debug info maps that path.
#
# Faults it guards against: packages under other names or without their
# -dbgsym packages, lintian errors or warnings, dependencies that were not
# computed, a client that does not recommend the station, configuration
# files dpkg would overwrite on upgrade, no machine-readable copyright file
# or changelog, binaries built without the hardening flags, a unit whose
# exposure grew, a client that does not find Server.ini through the link (it
# then reports the directory error and ends), packaged station defaults or
# stations file that do not start, a StartupWMClass that is not the
# window's class, a station that does not end cleanly on SIGTERM, log lines
# without priorities or with timestamps in the journal, a station that a
# ban on writable code stops, an init script that does not start the
# station as its unprivileged user, reports a failed start as success or
# does not stop it.
set -euo pipefail
source_dir=$1
out=$2/deb
version=$3
form=$4
scratch=$(mktemp -d)
chmod 755 "$scratch" # the init script's station runs as an unprivileged user
station_pid="" client_pid="" xvfb_pid="" init_script=""
cleanup() {
  local pid
  [ -z "$init_script" ] || "$init_script" stop >/dev/null 2>&1 || true
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

echo "== packages"
started=$SECONDS
SENDOLIN_DEB_OUT=$out bash "$source_dir/scripts/package.sh" >"$scratch/package.log" 2>&1 \
  || { cat "$scratch/package.log"; die "scripts/package.sh failed"; }
echo "built in $((SECONDS - started)) s"
[ ! -e "$source_dir/debian/tmp" ] && [ ! -e "$source_dir/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)" ] \
  || fail "the package build left files in the source tree"
arch=$(dpkg --print-architecture)
declare -A deb
for package in sendolin-client sendolin-station; do
  deb[$package]=$out/${package}_${version}_${arch}.deb
  [ -f "${deb[$package]}" ] || die "no $(basename "${deb[$package]}"); made: $(ls "$out")"
  ls "$out/${package}-dbgsym_${version}_${arch}".*deb >/dev/null 2>&1 || fail "no $package-dbgsym package"
  [ "$(dpkg-deb -f "${deb[$package]}" Version)" = "$version" ] || fail "$package's version is not $version"
done
changes=$(echo "$out"/sendolin_"${version}"_"${arch}".changes)
[ -f "$changes" ] || die "no .changes file"

echo "== lintian"
if ! lintian --pedantic -E --fail-on error,warning "$changes" >"$scratch/lintian.log" 2>&1; then
  fail "lintian: $(grep -E '^[EW]: ' "$scratch/lintian.log" || cat "$scratch/lintian.log")"
fi
cat "$scratch/lintian.log"

# depends_on PACKAGE FIELD NAME...: each NAME is in the field's list.
depends_on() {
  local package=$1 field=$2 list name
  shift 2
  list=$(dpkg-deb -f "${deb[$package]}" "$field")
  for name in "$@"; do
    [[ ", $list," == *", $name "* || ", $list," == *", $name,"* ]] || fail "$package's $field lacks $name: $list"
  done
}
depends_on sendolin-client Depends libc6 libstdc++6 libqt6widgets6 libqt6gui6 libasound2 libmpg123-0 fonts-liberation
depends_on sendolin-client Recommends sendolin-station
depends_on sendolin-station Depends libc6 libmp3lame0 adduser
[[ "$(dpkg-deb -f "${deb[sendolin-station]}" Depends)" != *libqt6* ]] || fail "the station depends on Qt"

root=$scratch/root
for package in sendolin-client sendolin-station; do
  # Every file under /etc is a conffile and nothing else is.
  conffiles=$(dpkg-deb --ctrl-tarfile "${deb[$package]}" | tar -xO ./conffiles 2>/dev/null | sort)
  etc_files=$(dpkg-deb --fsys-tarfile "${deb[$package]}" | tar -t | sed -n 's|^\./\(etc/.*[^/]\)$|/\1|p' | sort)
  [ -n "$conffiles" ] && [ "$conffiles" = "$etc_files" ] \
    || fail "$package's conffiles [$conffiles] are not its files under /etc [$etc_files]"
  dpkg-deb -x "${deb[$package]}" "$root"
  doc=$root/usr/share/doc/$package
  head -n1 "$doc/copyright" 2>/dev/null | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "$package has no machine-readable copyright file"
  grep -q '^License: GPL-3+' "$doc/copyright" 2>/dev/null || fail "$package's copyright file names no GPL-3+"
  zcat "$doc/changelog.gz" 2>/dev/null | head -n1 | grep -q "^sendolin ($version)" \
    || fail "$package's changelog has no entry for $version"
done
[ -x "$root/etc/init.d/sendolin-station" ] || fail "no init script"
# Links across top-level folders are absolute, as policy has them; inside
# the scratch root the client's link leads to the root's own /etc.
ini_link=$root/usr/lib/sendolin/Server.ini
[ "$(readlink "$ini_link")" = /etc/sendolin/Server.ini ] || fail "Server.ini beside the client leads to $(readlink "$ini_link")"
ln -sfn "$root/etc/sendolin/Server.ini" "$ini_link"
grep -q 'adduser .*sendolin-station' <(dpkg-deb --ctrl-tarfile "${deb[sendolin-station]}" | tar -xO ./postinst) \
  || fail "the station's postinst makes no sendolin-station user"

echo "== hardening"
for binary in "$root/usr/bin/sendolin-station" "$root/usr/lib/sendolin/SendolinClient"; do
  # Debian 12's dpkg has no branch protection feature to ask for.
  hardening-check --nocfprotection "$binary" | tee -a "$scratch/hardening.log" >/dev/null || fail "hardening-check $binary"
done
cat "$scratch/hardening.log"

echo "== command lines"
for program in "$root/usr/bin/sendolin-station" "$root/usr/bin/sendolin-client"; do
  grep -q 'GPL-3.0-or-later.*NO WARRANTY' <("$program" --help | tr '\n' ' ') || fail "$program --help states no licence"
done
bogus_status=0
"$root/usr/bin/sendolin-station" --bogus 2>"$scratch/bogus.err" || bogus_status=$?
[ "$bogus_status" -eq 2 ] && grep -q "unknown option '--bogus'" "$scratch/bogus.err" && grep -q -- '--help' "$scratch/bogus.err" \
  || fail "--bogus: exit $bogus_status, $(cat "$scratch/bogus.err")"

echo "== the unit"
unit=$root/usr/lib/systemd/system/sendolin-station.service
systemd-analyze security --offline=yes "$unit" >"$scratch/security.log" 2>&1 || true
exposure=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p' "$scratch/security.log")
echo "exposure $exposure"
[ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the unit's exposure is '$exposure', above 2.0"

[ -f "$root/etc/default/sendolin-station" ] || die "the package has no /etc/default/sendolin-station"
[ -f "$root/etc/sendolin/stations.conf" ] || die "the package has no /etc/sendolin/stations.conf"
grep -q -- '--directory 127.0.0.1:' "$root/etc/default/sendolin-station" \
  || fail "the packaged station serves no loopback directory"
grep -Eq '^listen *= *127\.0\.0\.1:6565$' "$root/etc/sendolin/stations.conf" \
  || fail "the packaged station does not listen on 127.0.0.1:6565: $(grep listen "$root/etc/sendolin/stations.conf")"
# The packaged ports may be taken here; the system picks free ones instead.
sed -i -E 's/127\.0\.0\.1:[0-9]+/127.0.0.1:0/g' "$root/etc/default/sendolin-station"
sed -i -E 's/^(listen *= *127\.0\.0\.1):[0-9]+/\1:0/' "$root/etc/sendolin/stations.conf"

# The unit's command, its paths leading into the scratch root and its
# variables from its environment file, as systemd splits them.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
environment=$(sed -n 's/^EnvironmentFile=-//p' "$unit")
# shellcheck disable=SC1090
SENDOLIN_STATION_OPTS=$(. "$root$environment"; echo "$SENDOLIN_STATION_OPTS")
read -r -a command <<<"${exec_start//\$SENDOLIN_STATION_OPTS/$SENDOLIN_STATION_OPTS}"
for i in "${!command[@]}"; do
  case ${command[$i]} in /*) command[$i]=$root${command[$i]} ;; esac
done
# What the journal is to a service: its stderr, named by JOURNAL_STREAM.
: >"$scratch/station.log"
(export JOURNAL_STREAM; JOURNAL_STREAM=$(stat -c '%d:%i' "$scratch/station.log")
 exec "${command[@]}" >"$scratch/station.out" 2>>"$scratch/station.log") &
station_pid=$!
directory_of() { sed -n 's/^\(<[0-9]>\)\?directory //p' "$1" 2>/dev/null | tail -n1; }
has_directory() { [ -n "$(directory_of "$1")" ]; }
wait_for 20 has_directory "$scratch/station.out" || { cat "$scratch/station.log"; die "the unit's station did not report its directory"; }

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

# The centre of a control of the layout, in window coordinates.
centre() {
  awk -v name="$1" '
    $0 ~ "^  object " name ":" { inside = 1; next }
    inside && /^  end/ { exit }
    inside && $1 == "Left" { x = $3 } inside && $1 == "Top" { y = $3 }
    inside && $1 == "Width" { w = $3 } inside && $1 == "Height" { h = $3 }
    END { print int(x + w / 2), int(y + h / 2) }' "$form"
}

# play_through_client STATION_LOG DIRECTORY: the client from the menu entry
# asks DIRECTORY, picks its station, plays it and is closed.
play_through_client() {
  local log=$1 directory=$2 window="" wm_class startup_class exec_line
  # What an administrator does to the conffile; the link beside the client stays.
  printf 'http://%s/\n' "$directory" >"$root/etc/sendolin/Server.ini"
  rm -f "$scratch/capture.raw" "$scratch/dialogs.txt"
  local desktop=$root/usr/share/applications/sendolin-client.desktop
  exec_line=$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[fFuUick]//g')
  # shellcheck disable=SC2086
  (cd / && PATH=$root/usr/bin:$PATH exec env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$scratch/runtime" \
     ALSA_CONFIG_PATH="$scratch/asound.conf" SENDOLIN_DIALOG_TRANSCRIPT="$scratch/dialogs.txt" $exec_line) \
    >"$scratch/client.log" 2>&1 &
  client_pid=$!

  find_window() { window=$(xdotool search --onlyvisible --class '^sendolin-client$' 2>/dev/null | head -n1); [ -n "$window" ]; }
  wait_for 30 find_window || { cat "$scratch/client.log" "$scratch/dialogs.txt" 2>/dev/null; die "no client window"; }
  wm_class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*= "\(.*\)", "\(.*\)"/\2/p')
  startup_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
  [ "$wm_class" = "$startup_class" ] || fail "the window's class is '$wm_class', the desktop entry expects '$startup_class'"

  asked() { grep -q 'directory: .* for' "$log"; }
  wait_for 30 asked || fail "the client never asked the station's directory"
  click() {
    local x y
    read -r x y < <(centre "$1")
    xdotool mousemove --window "$window" "$x" "$y" click "${2:-1}"
  }
  listening() { grep -q 'stream listener connected' "$log"; }
  # Each directory answer empties the list, so choose and press Play until
  # the station takes the listener.
  for _ in $(seq 1 10); do
    click Adressliste 5 # the mouse wheel picks the first station
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
  local client_status=0
  wait "$client_pid" || client_status=$?
  client_pid=""
  [ "$client_status" -eq 0 ] || fail "the client ended with $client_status"
}

echo "== client from the menu entry, station from the unit's ExecStart"
play_through_client "$scratch/station.log" "$(directory_of "$scratch/station.out")"
! grep -qv '^<[346]>' "$scratch/station.log" \
  || fail "journal lines without a priority: $(grep -v '^<[346]>' "$scratch/station.log" | head -n3)"
! grep -Eq '^<6>[0-9]{4}-' "$scratch/station.log" || fail "journal lines with a timestamp of their own"
kill -TERM "$station_pid"
station_status=0
wait "$station_pid" || station_status=$?
station_pid=""
[ "$station_status" -eq 0 ] || fail "the station ended with $station_status on SIGTERM"
grep -q '^<6>stopping on SIGTERM' "$scratch/station.log" || fail "the station did not log its stop"

echo "== a transcoded source where writable memory cannot become code"
# What MemoryDenyWriteExecute= sets, set on the station by the kernel's own
# switch (PR_SET_MDWE, kept across exec).
sox -n -r 22050 -c 1 "$scratch/tone.wav" synth 30 sine 523 2>/dev/null
python3 - "$root/usr/bin/sendolin-station" --listen 127.0.0.1:0 --source "$scratch/tone.wav" \
    >"$scratch/mdwe.out" 2>"$scratch/mdwe.log" <<'PY' &
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
if libc.prctl(65, 1, 0, 0, 0) != 0:  # PR_SET_MDWE, PR_MDWE_REFUSE_EXEC_GAIN
    sys.exit(77)
os.execv(sys.argv[1], sys.argv[1:])
PY
station_pid=$!
on_air() { grep -q '^stream ' "$scratch/mdwe.out"; }
if wait_for 20 on_air; then
  sleep 2
  kill -0 "$station_pid" 2>/dev/null || fail "the transcoding station died without writable code: $(cat "$scratch/mdwe.log")"
  ! grep -q 'silence instead' "$scratch/mdwe.log" || fail "the transcoder gave up: $(cat "$scratch/mdwe.log")"
else
  mdwe_status=0
  wait "$station_pid" || mdwe_status=$?
  station_pid=""
  [ "$mdwe_status" -eq 77 ] && echo "skipped: this kernel cannot deny writable code" \
    || fail "the transcoding station did not start without writable code: $(cat "$scratch/mdwe.log")"
fi
[ -z "$station_pid" ] || { kill "$station_pid"; wait "$station_pid" || true; station_pid=""; }

echo "== client from the menu entry, station from the init script"
# The script's paths lead into the scratch root; it runs the station as
# nobody, the account here that stands for the one the postinst makes.
init_script=$scratch/sendolin-station.init
sed -E -e "s|^(DAEMON\|STATIONS\|DEFAULTS\|PIDFILE\|LOGFILE)=|\1=$root|" -e 's|^USER=.*|USER=nobody|' \
  "$root/etc/init.d/sendolin-station" >"$init_script"
chmod +x "$init_script"
mkdir -p "$root/run" "$root/var/log"
"$init_script" start >"$scratch/init.out" 2>&1 || fail "the init script did not start the station: $(cat "$scratch/init.out")"
init_log=$root/var/log/sendolin-station.log
if has_directory "$init_log"; then
  pid=$(cat "$root/run/sendolin-station.pid")
  [ "$(stat -c %U "/proc/$pid")" = nobody ] || fail "the init script's station runs as $(stat -c %U "/proc/$pid")"
  "$init_script" status >/dev/null || fail "the init script's status says the station is not running"
  play_through_client "$init_log" "$(directory_of "$init_log")"
  grep -Eq '^[0-9]{4}-[0-9][0-9]-[0-9][0-9] .*stream listener connected' "$init_log" \
    || fail "the init script's log has no timestamped lines"
  "$init_script" stop >"$scratch/init.out" 2>&1 || fail "the init script did not stop: $(cat "$scratch/init.out")"
  wait_for 10 sh -c "! kill -0 $pid 2>/dev/null" || fail "the station still runs after stop"
  [ ! -e "$root/run/sendolin-station.pid" ] || fail "the pid file outlived the station"
  status_after=0
  "$init_script" status >/dev/null 2>&1 || status_after=$?
  [ "$status_after" -eq 3 ] || fail "status after stop is $status_after, not 3 (not running)"
else
  fail "the init script's station reported no directory: $(cat "$init_log" "$scratch/init.out")"
fi
# A station that cannot start is a failed start.
printf '[broken]\nrate = 7\n' >"$root/etc/sendolin/stations.conf"
! "$init_script" start >"$scratch/init.out" 2>&1 || fail "a station that cannot start was reported started"
"$init_script" stop >/dev/null 2>&1 || true
init_script=""

if [ "$failures" -gt 0 ]; then
  echo "--- station log"; cat "$scratch/station.log"
  echo "--- client log"; cat "$scratch/client.log"
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
