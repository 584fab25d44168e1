#!/usr/bin/env bash
# The job through the window against modextract.exe, both under Wine, on
# the same game-like trees: the window's reports must not slow the job.
#
#   bench/window-bench.sh NATIVE_BUILD WINDOWS_BUILD [WORK_DIR] [options]
#
# NATIVE_BUILD holds gentrees (bench/CMakeLists.txt), WINDOWS_BUILD holds
# modextract.exe and windowjob.exe. Options: --files N (default 20000),
# --scale F (default 1), --runs N (default 5), --busy-ms N (work added to
# every idle pass of the window's loop, standing in for frames; default 0).
# Each run writes a destination of its own; all are removed at the end.
# Runs under a fresh Xvfb of its own.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${WINDOW_BENCH_DISPLAY:-}" ]; then
    WINDOW_BENCH_DISPLAY=1 exec "$source_dir/cmake/with-xvfb.sh" "$0" "$@"
fi

FILES=20000 SCALE=1 RUNS=5 BUSY=0 SEED=1
positional=()
while [ $# -gt 0 ]; do
    case $1 in
    --files) FILES=$2; shift 2 ;;
    --scale) SCALE=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --busy-ms) BUSY=$2; shift 2 ;;
    *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -ge 2 ] || { sed -n 2,12p "$0" >&2; exit 2; }
NATIVE=$(cd "${positional[0]}" && pwd)
WINDOWS=$(cd "${positional[1]}" && pwd)
WORK=${positional[2]:-}
OWN_WORK=0
if [ -z "$WORK" ]; then WORK=$(mktemp -d /var/tmp/mxwin.XXXXXX); OWN_WORK=1; fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)
GENTREES=$NATIVE/gentrees
[ -x "$GENTREES" ] || GENTREES=$NATIVE/bench/gentrees
RUN="$source_dir/cmake/wine-run.sh $WINDOWS/wine-gui"

cleanup() {
    rm -rf "$WORK"/dest-*
    if [ $OWN_WORK -eq 1 ]; then rm -rf "$WORK"; fi
    $RUN --shutdown
}
trap cleanup EXIT

win() { echo "Z:$(echo "$1" | tr / '\\')"; }
now() { date +%s%N; }
secs() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

trees=$WORK/trees-seed$SEED-files$FILES-scale$SCALE
want=$("$GENTREES" --seed $SEED --files "$FILES" --scale "$SCALE" --print-params)
if [ ! -f "$trees/params.txt" ] || [ "$(cat "$trees/params.txt")" != "$want" ]; then
    rm -rf "$trees"
    mkdir -p "$trees"
    "$GENTREES" --seed $SEED --files "$FILES" --scale "$SCALE" "$trees" >&2
    sync
fi
original=$(win "$trees/original")
modded=$(win "$trees/modded")
expected=$(wc -l <"$trees/expected.txt")
echo "trees: $want; $expected files to copy; idle passes work $BUSY ms each"

# Warm the cache and the prefix's services.
$RUN "$WINDOWS/modextract.exe" -n "$original" "$modded" "$(win "$WORK/dest-warm")" >/dev/null

check() {
    local got
    got=$(find "$1/Data" -type f | wc -l)
    [ "$got" -eq "$expected" ] || { echo "window-bench: $2 copied $got files, not $expected" >&2; exit 1; }
}

cli=() gui=() job=()
for i in $(seq "$RUNS"); do
    t0=$(now)
    $RUN "$WINDOWS/modextract.exe" -q "$original" "$modded" "$(win "$WORK/dest-cli-$i")"
    t1=$(now)
    line=$($RUN "$WINDOWS/windowjob.exe" --busy-ms "$BUSY" "$original" "$modded" "$(win "$WORK/dest-gui-$i")")
    t2=$(now)
    check "$WORK/dest-cli-$i" modextract.exe
    check "$WORK/dest-gui-$i" windowjob.exe
    cli+=("$(secs $((t1 - t0)))")
    gui+=("$(secs $((t2 - t1)))")
    job+=("$(awk '{print $2}' <<<"$line")")
    echo "run $i: modextract.exe $(secs $((t1 - t0))) s, window $(secs $((t2 - t1))) s ($line)"
done
m_cli=$(median "${cli[@]}")
m_gui=$(median "${gui[@]}")
echo "medians: modextract.exe $m_cli s, window $m_gui s (job alone $(median "${job[@]}") s)"
echo "window / modextract.exe = $(awk -v a="$m_gui" -v b="$m_cli" 'BEGIN { printf "%.3f", a / b }') (target <= 1.1)"
