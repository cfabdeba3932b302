#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds every fuzz target with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ and runs each for SECONDS
# (default 60), one after the other, on a working copy of its committed corpus.
#   tests/fuzz/run.sh [SECONDS] [TARGET...]
# New crashing inputs land in build-fuzz/artifacts/; once fixed, copy them into
# tests/fuzz/corpus/<target>/ so the ordinary build replays them for good.
# Each run's last line ("Done N runs in S second(s)") is its execution count.
# SENDOLIN_FUZZ_RUNS=N stops each target after N executions instead (or at
# SECONDS, whichever comes first).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(mpeg_frame_fuzz station_request_fuzz form_reader_fuzz
                                     directory_answer_fuzz info_text_fuzz stream_path_fuzz)
build=${SENDOLIN_FUZZ_BUILD:-$root/build-fuzz}

SENDOLIN_BUILD=$build source "$root/scripts/setup.sh" --deps-only
if ! command -v clang++ >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'ok installed'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENDOLIN_FUZZ=ON \
  -DCMAKE_C_FLAGS="$sanitize -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="$sanitize -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$build/artifacts"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/fuzz/lsan.supp}
# Longest input per target: enough for what each parser can tell apart, short
# enough that every execution stays cheap.
max_len() {
  case "$1" in
    stream_path_fuzz) echo 8192 ;;   # read-size byte, 514-byte header, a few blocks of audio
    form_reader_fuzz) echo 8192 ;;   # the whole main window's layout fits
    mpeg_frame_fuzz) echo 4096 ;;    # two frames of the largest size, or an ID3 tag and frames
    station_request_fuzz) echo 9216 ;; # just past the largest request head a station reads
    *) echo 4096 ;;
  esac
}
runs=${SENDOLIN_FUZZ_RUNS:--1}
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  cp -n "$root/tests/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true
  echo "== $target ($seconds s)"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -runs="$runs" -max_len="$(max_len "$target")" \
    -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 "$work" 2>&1 \
    | grep -E '^(Done|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' || true
done
