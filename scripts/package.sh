#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages sendolin-client and sendolin-station, with their
# -dbgsym packages, from this checkout as it is (uncommitted changes too).
# dpkg-buildpackage runs in a copy of the tree, so the checkout stays clean;
# the packages, the .changes file and the build log land in build/deb/ (or
# SENDOLIN_DEB_OUT), whose path is printed last.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh" --deps-only
out=${SENDOLIN_DEB_OUT:-$SENDOLIN_BUILD/deb}
rm -rf "$out"
mkdir -p "$out/src"

# The project's own files only: no build folders, nothing ignored.
if git -C "$SENDOLIN_ROOT" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$SENDOLIN_ROOT" && git ls-files -z -co --exclude-standard \
     | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' copy \
     | tar --null -T - -cf -) | tar -xf - -C "$out/src"
else
  (cd "$SENDOLIN_ROOT" && tar --exclude='./build*' --exclude=./.git -cf - .) | tar -xf - -C "$out/src"
fi

# Compiled objects other package builds left are reused, wherever their
# copy of the tree was (the debug info's paths are mapped to the tree's).
if [ -d /usr/lib/ccache ]; then
  export PATH=/usr/lib/ccache:$PATH CCACHE_BASEDIR=$out/src CCACHE_NOHASHDIR=1
fi
if ! (cd "$out/src" && dpkg-buildpackage -us -uc -b -J"$(nproc)") >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
fi
rm -rf "$out/src"
ls -1 "$out"/*.deb "$out"/*.changes
echo "$out"
