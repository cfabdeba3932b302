#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into scratch trees and checks what a desktop and a
# service manager will find there, with the distribution's own validators.
# Usage: install_tree_test.sh BUILD_DIR "ICON SIZES" [HOMEPAGE]
#
# Faults it guards against: files missing or in the wrong folder for a prefix
# (configuration under /usr/etc, a service naming a path that is not
# installed), absolute links that point out of an unpacked tree, a Server.ini
# that names another directory than the packaged station serves, a service
# that does not run the installed stations file, an icon whose pixels do not
# match its size folder, a made-up web address in the metainfo, invalid
# desktop, metainfo, unit or man page files, and station options missing
# from the man page.
set -euo pipefail
build=$1
read -r -a icon_sizes <<<"$2"
homepage=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

# Width and height of a PNG, from its IHDR chunk.
png_size() {
  local w h
  read -r w h < <(od -An -j16 -N8 -tu4 --endian=big "$1")
  echo "${w}x${h}"
}

# The path a relative link inside ROOT leads to, as seen from ROOT.
resolves_to() {
  local link=$1 expected=$2
  [ -L "$link" ] || { echo "$link is not a link" >&2; return 1; }
  case $(readlink "$link") in /*) echo "$link is an absolute link" >&2; return 1 ;; esac
  [ "$(readlink -f "$link")" = "$(readlink -f "$expected")" ] \
    || { echo "$link leads to $(readlink -f "$link"), not $expected" >&2; return 1; }
}

# The value of KEY in a desktop-entry style file (first match).
key() { sed -n "s/^$1=//p" "$2" | head -n1; }

# check_tree ROOT PREFIX ETC: an installed tree under ROOT for PREFIX, whose
# configuration folder is ETC.
check_tree() {
  local root=$1 prefix=$2 etc=$3
  local usr=$root$prefix
  echo "== tree for prefix $prefix (configuration in $etc)"

  check "client program" test -x "$usr/lib/sendolin/SendolinClient" -a ! -L "$usr/lib/sendolin/SendolinClient"
  check "station program" test -x "$usr/bin/sendolin-station"
  check "bin/sendolin-client link" resolves_to "$usr/bin/sendolin-client" "$usr/lib/sendolin/SendolinClient"
  check "Server.ini link" resolves_to "$usr/lib/sendolin/Server.ini" "$root$etc/sendolin/Server.ini"
  check "service defaults" test -f "$root$etc/default/sendolin-station"
  check "service stations file" test -f "$root$etc/sendolin/stations.conf"

  # The packaged client must ask the directory the packaged station serves.
  local url directory
  url=$(head -n1 "$usr/lib/sendolin/Server.ini")
  directory=$(. "$root$etc/default/sendolin-station"; set -- $SENDOLIN_STATION_OPTS
              while [ $# -gt 1 ]; do [ "$1" = --directory ] && echo "$2"; shift; done)
  check "Server.ini ($url) names the station's directory ($directory)" \
    test -n "$directory" -a "$url" = "http://$directory/"

  local unit=$usr/lib/systemd/system/sendolin-station.service
  check "unit runs the installed station with the installed stations file" \
    grep -qx "ExecStart=$prefix/bin/sendolin-station --stations $etc/sendolin/stations.conf .*" "$unit"
  check "unit reads the installed defaults" grep -qx "EnvironmentFile=-$etc/default/sendolin-station" "$unit"
  # verify wants the program at the unit's path and the system's own units
  # beside it, so it checks a copy whose paths lead into this tree.
  mkdir -p "$scratch/units$root"
  sed -e "s|=$prefix/|=$usr/|; s|=-$etc/|=-$root$etc/|" "$unit" >"$scratch/units$root/sendolin-station.service"
  check "systemd-analyze verify" systemd-analyze verify --man=no "$scratch/units$root/sendolin-station.service"

  local desktop=$usr/share/applications/sendolin-client.desktop
  check "desktop-file-validate" desktop-file-validate "$desktop"
  check "desktop entry GenericName" test "$(key GenericName "$desktop")" = "Internet Radio"
  check "desktop entry Categories" test "$(key Categories "$desktop")" = "AudioVideo;Audio;Player;"
  check "desktop entry Exec is installed" test -x "$usr/bin/$(key Exec "$desktop")"
  local icon size
  icon=$(key Icon "$desktop")
  for size in "${icon_sizes[@]}"; do
    local png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    if [ -f "$png" ]; then
      check "$png is ${size}x${size}" test "$(png_size "$png")" = "${size}x${size}"
    else
      fail "icon $png missing"
    fi
  done
  check "scalable icon" grep -q "<svg" "$usr/share/icons/hicolor/scalable/apps/$icon.svg"

  local metainfo
  metainfo=$(echo "$usr"/share/metainfo/*.metainfo.xml)
  check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
  check "metainfo launches the desktop entry" grep -q "<launchable type=\"desktop-id\">sendolin-client.desktop</launchable>" "$metainfo"
  # A web address only where one was configured, never one made up.
  if [ -n "$homepage" ]; then
    check "metainfo names the homepage" grep -qF "<url type=\"homepage\">$homepage</url>" "$metainfo"
    check "metainfo has a screenshot" grep -q "<screenshot type=\"default\">" "$metainfo"
  else
    check "metainfo names no web address" sh -c "! grep -Eq '<url|<image' '$metainfo'"
  fi
  check "metainfo names a maintainer's mail" grep -Eq "<update_contact>[^<@]+@[^<@.]+\.[^<@]+</update_contact>" "$metainfo"
  check "metainfo has no mail at localhost" sh -c "! grep -q '@localhost' '$metainfo'"

  local page
  for page in sendolin-client sendolin-station; do
    local file=$usr/share/man/man1/$page.1.gz warnings
    if [ -f "$file" ]; then
      warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
      check "man page $page has no warnings: $warnings" test -z "$warnings"
    else
      fail "man page $file missing"
    fi
  done
  local text option
  text=$(LC_ALL=C MANWIDTH=120 man -l "$usr/share/man/man1/sendolin-station.1.gz" 2>/dev/null)
  for option in $("$usr/bin/sendolin-station" --help | grep -o -- '^  --[a-z-]*'); do
    check "man page documents $option" grep -q -- "$option\b" <<<"$text"
  done
}

echo "== cmake --install, prefix /usr, into DESTDIR"
DESTDIR=$scratch/usr-root cmake --install "$build" --prefix /usr >"$scratch/usr.log" || { cat "$scratch/usr.log"; exit 1; }
check_tree "$scratch/usr-root" /usr /etc
check "no configuration below the prefix" test ! -e "$scratch/usr-root/usr/etc"

echo "== cmake --install, prefix /usr/local, into DESTDIR"
DESTDIR=$scratch/local-root cmake --install "$build" --prefix /usr/local >"$scratch/local.log" || { cat "$scratch/local.log"; exit 1; }
check_tree "$scratch/local-root" /usr/local /usr/local/etc
check "nothing outside the prefix" test "$(ls "$scratch/local-root")" = usr -a "$(ls "$scratch/local-root/usr")" = local

echo "== cmake --install into a private prefix, no DESTDIR"
cmake --install "$build" --prefix "$scratch/home" >"$scratch/home.log" || { cat "$scratch/home.log"; exit 1; }
check_tree "" "$scratch/home" "$scratch/home/etc"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
