#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one fuzz harness for a bounded time, building it first when needed.
#
#   fuzz/run.sh NAME SECONDS [libFuzzer option...]
#
# NAME is the harness without its fuzz_ prefix: contactfile, session, dispatcher, switchboard,
# csvimport, vcardimport, cttimport. The seeds in
# fuzz/corpus/NAME are only read; what the fuzzer finds goes to $BUILD/corpus/NAME, crashes to
# $BUILD/artifacts/NAME/. BUILD is build-fuzz beside this folder unless VELMORA_FUZZ_BUILD says otherwise.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 NAME SECONDS [libFuzzer option...]" >&2
    exit 2
fi
name=${1#fuzz_}
seconds=$2
shift 2

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_FUZZ_BUILD:-$root/build-fuzz}
if [ ! -f "$build/build.ninja" ]; then
    CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" -j2 "fuzz_$name"

seeds=$root/fuzz/corpus/$name
corpus=$build/corpus/$name
artifacts=$build/artifacts/$name
mkdir -p "$corpus" "$artifacts"
[ -d "$seeds" ] || seeds=

# A small quarantine keeps the long runs' memory flat; ASan still catches
# use-after-free of recently freed blocks.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=5}

log=$build/fuzz_$name.log
status=0
"$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$@" "$corpus" ${seeds:+"$seeds"} >"$log" 2>&1 || status=$?

execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
echo "fuzz_$name: ${execs:-?} executions in ${seconds}s (${rate:-?}/s), coverage ${cov:-?} edges, ${ft:-?} features, corpus $(ls "$corpus" | wc -l) inputs"
if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -n 30 "$log" >&2
    echo "fuzz_$name failed (exit $status); full log: $log" >&2
fi
exit "$status"
