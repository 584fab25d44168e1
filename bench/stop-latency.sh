#!/usr/bin/env bash
# How soon modextract ends after SIGINT in each phase, with reads, copies or
# the destination's resolution slowed by bench/slowio.cpp (Linux only).
#
#   bench/stop-latency.sh BUILD_DIR WORK_DIR [--runs N]
#
# BUILD_DIR holds modextract and slowio.so; WORK_DIR receives the trees
# (about 600 MiB and 300,000 empty files, kept for the next time). Prints,
# per phase, the exit status and the seconds from the signal to the exit
# (median of the runs), and what was left in the destination.
set -euo pipefail
export LC_ALL=C

BUILD=${1:?usage: stop-latency.sh BUILD_DIR WORK_DIR [--runs N]}
WORK=${2:?usage: stop-latency.sh BUILD_DIR WORK_DIR [--runs N]}
RUNS=3
[[ ${3:-} == --runs ]] && RUNS=${4:?}
MX=$BUILD/modextract
SHIM=$BUILD/slowio.so
mkdir -p "$WORK"

# Trees: a folder of 300,000 files; a 256 MiB equal pair; a 256 MiB new
# file; 150 small new files.
if [[ ! -f $WORK/made ]]; then
    rm -rf "$WORK/wide" "$WORK/pair" "$WORK/new" "$WORK/few"
    mkdir -p "$WORK/wide/orig/all" "$WORK/wide/mod" "$WORK/pair/orig" "$WORK/pair/mod" "$WORK/new/orig" "$WORK/new/mod"
    (cd "$WORK/wide/orig/all" && seq -f 'f%.0f' 1 300000 | xargs touch)
    head -c $((256 << 20)) /dev/urandom >"$WORK/pair/orig/big"
    cp "$WORK/pair/orig/big" "$WORK/pair/mod/big"
    cp "$WORK/pair/orig/big" "$WORK/new/mod/big"
    mkdir -p "$WORK/few/orig" "$WORK/few/mod"
    for i in $(seq 1 150); do echo "$i" >"$WORK/few/mod/small$i"; done
    touch "$WORK/made"
fi

now() { date +%s%N; }

# run NAME TREE SIGNAL_AT [SECOND_AT] -- ENV...: one run; prints "status seconds leftover"
run() {
    local tree=$1 at=$2 second=$3
    shift 3
    local dest=$WORK/dest
    rm -rf "$dest"
    env "$@" LD_PRELOAD="$SHIM" "$MX" -q "$WORK/$tree/orig" "$WORK/$tree/mod" "$dest" 2>/dev/null &
    local pid=$!
    sleep "$at"
    local sent
    sent=$(now)
    kill -INT "$pid" 2>/dev/null || true
    if [[ $second != - ]]; then
        sleep "$second"
        kill -INT "$pid" 2>/dev/null || true
    fi
    local status=0
    wait "$pid" || status=$?
    local ended
    ended=$(now)
    local left
    left=$(find "$dest" -type f 2>/dev/null | wc -l)
    echo "$status $(( (ended - sent) / 1000000 )) $left"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

phase() {
    local name=$1
    shift
    local times=() line status left
    for ((r = 0; r < RUNS; ++r)); do
        line=$(run "$@")
        read -r status ms left <<<"$line"
        times+=("$ms")
    done
    printf '%-34s exit %3s  %6s ms after the signal (median of %s)  %s files left in the destination\n' \
        "$name" "$status" "$(printf '%s\n' "${times[@]}" | median)" "$RUNS" "$left"
}

phase "job setting out (realpath 3 s)" few 1 - MX_SLOW_REALPATH_MS=3000 MX_SLOW_REALPATH_SKIP=5 MX_SLOW_REALPATH_CALLS=1
phase "index (300,000 files, 0.05 s)" wide 0.05 -
phase "scan (256 MiB pair, reads 50 ms)" pair 1 - MX_SLOW_READ_MS=50
phase "copies (256 MiB, steps 300 ms)" new 1 - MX_SLOW_COPY_MS=300
phase "second signal 0.5 s after (steps 3 s)" new 1 0.5 MX_SLOW_COPY_MS=3000
