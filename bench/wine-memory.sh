#!/usr/bin/env bash
# Peak memory of modextract.exe under Wine (see bench/README.md).
#
#   bench/wine-memory.sh WINDOWS_BUILD ORIGINAL MODDED DESTINATION [-n]
#
# Runs WINDOWS_BUILD/modextract.exe -q (with -n: a dry run) on the three
# folders through cmake/wine-run.sh and samples the process's VmHWM (its
# peak resident set, the working set's counterpart) from /proc every
# 50 ms until it ends. Prints "wine: S s, peak N KiB". The peak only
# grows, so the last sample misses at most what the last 50 ms added.
set -euo pipefail
export LC_ALL=C
[[ $# -ge 4 ]] || { sed -n '4,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
BUILD=$(cd "$1" && pwd)
shift
winpath() { echo "Z:$(cd "$1" 2>/dev/null && pwd || echo "$1")" | tr / '\\'; }
ORIG=$(winpath "$1")
MOD=$(winpath "$2")
DEST=$(winpath "$3")
DRY=()
[[ ${4:-} == -n ]] && DRY=(-n)
HERE=$(cd "$(dirname "$0")" && pwd)

# Start the prefix's server first, so that only the program is timed.
"$HERE/../cmake/wine-run.sh" "$BUILD/wine" cmd /c exit >/dev/null 2>&1 || true
t0=$(date +%s%N)
"$HERE/../cmake/wine-run.sh" "$BUILD/wine" "$BUILD/modextract.exe" -q "${DRY[@]}" "$ORIG" "$MOD" "$DEST" \
    >/dev/null 2>"$BUILD/wine/memory-run.err" &
runner=$!
peak=0
pid=""
while kill -0 "$runner" 2>/dev/null; do
    # wine-run.sh execs Wine, which becomes the program: its process is the runner's own or a child.
    if [[ -z $pid ]]; then
        for candidate in $runner $(pgrep -P "$runner" || true); do
            if [[ $(cat "/proc/$candidate/comm" 2>/dev/null) == modextract.exe ]]; then pid=$candidate; fi
        done
    fi
    if [[ -n $pid ]]; then
        hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [[ -n $hwm ]] && ((hwm > peak)) && peak=$hwm
    fi
    sleep 0.05
done
status=0
wait "$runner" || status=$?
t1=$(date +%s%N)
if ((status > 1)); then
    echo "wine-memory.sh: modextract.exe failed with exit status $status:" >&2
    head -5 "$BUILD/wine/memory-run.err" >&2
    exit 1
fi
[[ -n $pid ]] || { echo "wine-memory.sh: never saw the modextract.exe process" >&2; exit 1; }
awk -v ns=$((t1 - t0)) -v k="$peak" 'BEGIN { printf "wine: %.3f s, peak %d KiB (%.1f MiB)\n", ns / 1e9, k, k / 1024 }'
