#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs every test (unit, integration, e2e).
#   scripts/test.sh [CTEST-ARGS...]              the ordinary build in build/
#   scripts/test.sh --sanitize [CTEST-ARGS...]   AddressSanitizer + UndefinedBehaviorSanitizer
#                                                build in build-sanitize/, whole suite
#   scripts/test.sh --thread [CTEST-ARGS...]     ThreadSanitizer build in build-tsan/ of the
#                                                threaded tests only (wave layer, winsock
#                                                lookups, handle registries, playback)
# In the instrumented runs every process the tests start (the station and the client
# included) writes its sanitizer reports into the build folder's sanitizer-reports/;
# the run fails when any report is there, even if every test passed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

mode=plain
case "${1:-}" in
  --sanitize) mode=address; shift ;;
  --thread) mode=thread; shift ;;
esac

if [ "$mode" = plain ]; then
  source "$root/scripts/setup.sh"
  cd "$SENDOLIN_BUILD"
  ctest --output-on-failure -j"$(nproc)" "$@"
  exit
fi

source "$root/scripts/setup.sh" --deps-only
if [ "$mode" = address ]; then
  build=${SENDOLIN_SANITIZE_BUILD:-$root/build-sanitize}
  targets=(all)
  selection=()
else
  build=${SENDOLIN_TSAN_BUILD:-$root/build-tsan}
  targets=(wave_layer_test winsock_test platform_handles_test wave_playback_test app_stream_playback_test
           app_burst_playback_test app_level_meter_playback_test)
  # Qt then uses its own event dispatcher instead of GLib's main loop, whose
  # allocator hands blocks between Qt's threads under locks ThreadSanitizer
  # cannot see either.
  export QT_NO_GLIB=1
  selection=(-R '^(WaveOutOpen|AcmStream|PeakTracker|WinSock[A-Za-z]*|CloseRace|WavePlayback|StreamPlaybackTest|BurstPlaybackTest|LevelMeterPlaybackTest)\.')
fi
reports=$build/sanitizer-reports

# Test discovery runs the test programs during the build, so the options apply there too.
# A small quarantine of freed memory keeps resident memory close to the program's
# own, so the tests that bound it measure the program, not the sanitizer.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=16:log_path=$reports/asan:log_exe_name=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan:log_exe_name=1"
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:second_deadlock_stack=1:log_path=$reports/tsan:log_exe_name=1"
mkdir -p "$reports"
rm -f "$reports"/*

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENDOLIN_SANITIZE="$mode" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
rm -f "$reports"/*

cd "$build"
status=0
ctest --output-on-failure -j"$(nproc)" "${selection[@]}" "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "== $report"
    cat "$report"
  done
  echo "Sanitizer reports: $(ls "$reports" | wc -l) (in $reports)" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
