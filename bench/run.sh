#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmarks with optimisation, writes contact files of 1k, 100k and 999,999 records
# into a temporary folder and prints the tables: load, raw floor, peak memory, idle CPU, start-up,
# and the find box's search over the largest file.
#
#   bench/run.sh                  # everything, offscreen and (when xvfb-run exists) xcb under Xvfb
#   RUNS=9 bench/run.sh           # more runs per figure (medians are printed)
#   BUILD_DIR=/tmp/b bench/run.sh # another build folder (default: build-bench in the source tree)
#   IDLE_SECONDS=10 SIZES="1000 100000 999999" XCB=0 bench/run.sh
#   FIND_RUNS=20 bench/run.sh    # how often each word is typed for the search's figures
#   BENCH_BIN=/tmp/old/bench bench/run.sh  # measure benchmarks built earlier, e.g. from an older commit
#
# Measure on a quiet machine: the script prints the load average before and after.
set -eu

SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$SRC/build-bench}
RUNS=${RUNS:-5}
IDLE_SECONDS=${IDLE_SECONDS:-10}
SIZES=${SIZES:-"1000 100000 999999"}
XCB=${XCB:-1}

if [ -n "${BENCH_BIN:-}" ]; then
    B=$BENCH_BIN
else
    cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C "$BUILD" -j2 velmora_bench_gen velmora_bench_load velmora_bench_idle velmora_bench_startup \
        velmora_bench_find velmora_bench_keep >/dev/null
    B=$BUILD/bench
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
for n in $SIZES; do
    "$B/velmora_bench_gen" "$n" "$WORK/db_$n.dat"
done

export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

HAVE_XVFB=0
if [ "$XCB" = 1 ] && command -v xvfb-run >/dev/null 2>&1; then
    HAVE_XVFB=1
fi
# Runs a command under a private Xvfb with the xcb platform plugin.
under_x() {
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
}

# key=value lines in, the median of one key out.
median_of() {
    key=$1
    sed -n "s/\(^\|.* \)$key=\([0-9.]*\).*/\2/p" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GB; $(uname -sr)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

load_rows() {
    platform=$1
    shift
    for n in $SIZES; do
        out="$WORK/load_${platform}_$n.txt"
        : >"$out"
        # One run first, not counted: on a virtual machine that hands freed memory back to its
        # host, the first run after a pause pays for the host bringing it back.
        "$@" "$B/velmora_bench_load" "$WORK/db_$n.dat" full 1 >/dev/null 2>&1 || true
        i=0
        while [ $i -lt "$RUNS" ]; do
            "$@" "$B/velmora_bench_load" "$WORK/db_$n.dat" full 5 2>/dev/null >>"$out" || {
                echo "load $n on $platform failed" >&2
                cat "$out" >&2
            }
            i=$((i + 1))
        done
        if grep -q 'complete=NO' "$out"; then
            echo "load $n on $platform: rows missing" >&2
        fi
        printf '| %9s | %-9s | %8s | %9s | %12s | %7s | %7s |\n' "$n" "$platform" \
            "$(median_of total_ms <"$out")" "$(median_of load_step_ms <"$out")" \
            "$(median_of floor_ms <"$out")" "$(median_of ratio <"$out")" "$(median_of peak_rss_mb <"$out")"
    done
}

echo "Load: from the load step's start until both lists hold every row and have painted (median of $RUNS processes per row)"
echo
echo "| records   | platform  | total ms | load step | raw floor ms |   ratio | peak MB |"
echo "|-----------|-----------|----------|-----------|--------------|---------|---------|"
load_rows offscreen env
if [ $HAVE_XVFB = 1 ]; then
    load_rows xcb under_x
fi
echo

idle_row() {
    label=$1
    shift
    out="$WORK/idle.txt"
    "$@" >"$out" 2>/dev/null || true
    printf '| %-46s | %6s | %6s | %8s | %8s |\n' "$label" "$(median_of cpu_pct <"$out")" \
        "$(median_of paints <"$out")" "$(median_of Timer1_ticks_per_s <"$out")" \
        "$(median_of Timer3_ticks_per_s <"$out")"
}

echo "Idle: CPU of one core used by an open, untouched main window over $IDLE_SECONDS s"
echo
echo "| window                                         | CPU %  | paints | Timer1/s | Timer3/s |"
echo "|------------------------------------------------|--------|--------|----------|----------|"
I="$B/velmora_bench_idle --seconds=$IDLE_SECONDS"
first=$(echo "$SIZES" | cut -d' ' -f1)
for platform in offscreen xcb; do
    run=
    if [ $platform = xcb ]; then
        [ $HAVE_XVFB = 1 ] || continue
        run=under_x
    fi
    for layout in full compact; do
        for status in offline online; do
            idle_row "$layout layout, client $status, $platform" $run $I --layout=$layout --status=$status \
                --file="$WORK/db_$first.dat"
        done
    done
done
if command -v dbus-run-session >/dev/null 2>&1; then
    idle_row "full, real client, bus without messenger" dbus-run-session -- $I --layout=full --client=real
    idle_row "compact, real client, bus without messenger" dbus-run-session -- $I --layout=compact --client=real
fi
idle_row "full layout in the tray, 1,000 watched" $I --layout=full --watched=1000
grep -o 'heap_bytes_per_watch=[0-9-]*' "$WORK/idle.txt" | head -1 | sed 's/^/  the watches took, per watched contact: /; s/heap_bytes_per_watch=//; s/$/ bytes of heap/'
idle_row "reference: compact, a client that must be polled" $I --layout=compact --client=polled \
    --file="$WORK/db_$first.dat"
idle_row "reference: bare widget, same timers (full)" $I --what=bare --layout=full
idle_row "reference: bare widget, same timers (compact)" $I --what=bare --layout=compact
idle_row "reference: bare widget, no timer" $I --what=none
echo

echo "Start-up: process start until the sign-in window has painted (median of $RUNS)"
echo
echo "| platform  | median ms | min ms | max ms |"
echo "|-----------|-----------|--------|--------|"
startup_row() {
    platform=$1
    shift
    out="$WORK/startup.txt"
    "$@" "$B/velmora_bench_startup" "$RUNS" >"$out" 2>/dev/null || true
    printf '| %-9s | %9s | %6s | %6s |\n' "$platform" "$(median_of startup_ms_median <"$out")" \
        "$(median_of min <"$out")" "$(median_of max <"$out")"
}
startup_row offscreen env
if [ $HAVE_XVFB = 1 ]; then
    startup_row xcb under_x
fi
echo

largest=$(echo "$SIZES" | tr ' ' '\n' | sort -n | tail -1)
if [ -x "$B/velmora_bench_find" ]; then
    echo "Find: the search behind the find box over $largest records, words typed key by key, ${FIND_RUNS:-20} runs each"
    "$B/velmora_bench_find" "$WORK/db_$largest.dat" "${FIND_RUNS:-20}" || echo "find on $largest failed" >&2
    echo
fi
if [ -x "$B/velmora_bench_keep" ]; then
    echo
    echo "Keeping the largest list: removing 1,000 rows and saving, an export, an import of 100,000 CSV rows (medians of $RUNS)"
    "$B/velmora_bench_keep" "$WORK/db_$largest.dat" "$RUNS" || echo "keep on $largest failed" >&2
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
