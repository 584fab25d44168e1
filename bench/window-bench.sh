#!/usr/bin/env bash
# The window program under Wine with its real renderer: what its scene
# costs idle, and what it costs a job beside it and through it.
#
#   bench/window-bench.sh NATIVE_BUILD WINDOWS_BUILD [WORK_DIR] [options]
#
# 1. Idle: ModExtractor.exe shown, then minimized (windowprobe), for
#    --idle-seconds each: its process's cores, the display server's, and
#    the frames a second that Wine counts at each swap.
# 2. Beside: modextract.exe's job with ModExtractor.exe idle beside it and
#    alone, in alternating pairs.
# 3. Through: the job through the window (windowjob.exe) against
#    modextract.exe on the same game-like trees.
# NATIVE_BUILD holds gentrees (bench/CMakeLists.txt), WINDOWS_BUILD holds
# modextract.exe, windowjob.exe, ModExtractor.exe and tests/windowprobe.exe.
# Options: --files N (default 20000), --scale F (default 1), --runs N
# (default 5), --idle-seconds N (default 10), --baseline WINDOWS_BUILD2
# (its ModExtractor.exe and windowjob.exe measured the same way, beside).
# WINE_RUN names another runner than cmake/wine-run.sh (one for a 64-bit
# prefix). Each run writes a destination of its own; all are removed at
# the end. Runs under a fresh Xvfb of its own.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${WINDOW_BENCH_DISPLAY:-}" ]; then
    WINDOW_BENCH_DISPLAY=1 exec "$source_dir/cmake/with-xvfb.sh" "$0" "$@"
fi

FILES=20000 SCALE=1 RUNS=5 IDLE=10 BASELINE="" SEED=1
positional=()
while [ $# -gt 0 ]; do
    case $1 in
    --files) FILES=$2; shift 2 ;;
    --scale) SCALE=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --idle-seconds) IDLE=$2; shift 2 ;;
    --baseline) BASELINE=$(cd "$2" && pwd); shift 2 ;;
    *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -ge 2 ] || { sed -n 2,22p "$0" >&2; exit 2; }
NATIVE=$(cd "${positional[0]}" && pwd)
WINDOWS=$(cd "${positional[1]}" && pwd)
WORK=${positional[2]:-}
OWN_WORK=0
if [ -z "$WORK" ]; then WORK=$(mktemp -d /var/tmp/mxwin.XXXXXX); OWN_WORK=1; fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)
GENTREES=$NATIVE/gentrees
[ -x "$GENTREES" ] || GENTREES=$NATIVE/bench/gentrees
RUN="${WINE_RUN:-$source_dir/cmake/wine-run.sh} $WINDOWS/wine-gui"
PROBE=$WINDOWS/tests/windowprobe.exe
TITLE="KESSARANDOLIN MOD EXTRACTOR"
XVFB=$(pgrep -P "$PPID" -x Xvfb || true)  # with-xvfb.sh's

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
echo "trees: $want; $expected files to copy"

# Warm the cache and the prefix's services.
$RUN "$WINDOWS/modextract.exe" -n "$original" "$modded" "$(win "$WORK/dest-warm")" >/dev/null

check() {
    local got
    got=$(find "$1/Data" -type f | wc -l)
    [ "$got" -eq "$expected" ] || { echo "window-bench: $2 copied $got files, not $expected" >&2; exit 1; }
}

# Processor ticks (user + system) of process $1 so far.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
cores() { awk -v t="$1" -v s="$2" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz / s }'; }

# idle BUILD STATE: one run of the window, shown or minimized, a line.
# Wine passes the program's error output on only when it ends, and counts
# the swaps of the last 1.5 s or so in each line: the frame rate is the
# median of those lines, and minimized, the lines are counted (none come
# once the window draws nothing).
idle() {
    local log=$WORK/fps.log pid t0 x0 p0 t1 x1 p1 s
    WINE_RUN_DEBUG=+fps $RUN "$1/ModExtractor.exe" 2>"$log" &
    $RUN "$PROBE" wait "$TITLE" 30000 >/dev/null
    pid=$(pgrep -n -f "$1/ModExtractor\.exe" || true)
    [ -n "$pid" ] || { echo "window-bench: no ModExtractor.exe process" >&2; exit 1; }
    [ "$2" = shown ] || $RUN "$PROBE" minimize "$TITLE"
    sleep 2
    p0=$(ticks "$pid") x0=$(ticks "${XVFB:-0}") t0=$(now)
    sleep "$IDLE"
    p1=$(ticks "$pid") x1=$(ticks "${XVFB:-0}") t1=$(now)
    $RUN "$PROBE" close "$TITLE"
    wait
    s=$(awk -v ns=$((t1 - t0)) 'BEGIN { print ns / 1e9 }')
    local rates=($(grep -o 'approx [0-9.]*fps' "$log" | tr -dc '0-9.\n'))
    local frames="median $(median "${rates[@]:-0}") frames a second"
    [ "$2" = shown ] || frames="${#rates[@]} frame-rate lines in all"
    echo "  $2: $(cores $((p1 - p0)) "$s") of a core, display server $(cores $((x1 - x0)) "$s"), $frames"
}
for build in "$WINDOWS" $BASELINE; do
    echo "idle window, $IDLE s each: $build"
    idle "$build" shown
    idle "$build" minimized
done

# The job with the window idle beside it and alone, in alternating pairs.
alone=() beside=()
for i in $(seq "$RUNS"); do
    for order in $((i % 2)) $(((i + 1) % 2)); do
        if [ "$order" = 1 ]; then
            $RUN "$WINDOWS/ModExtractor.exe" &
            $RUN "$PROBE" wait "$TITLE" 30000 >/dev/null
            sleep 1
        fi
        t0=$(now)
        $RUN "$WINDOWS/modextract.exe" -q "$original" "$modded" "$(win "$WORK/dest-side-$i-$order")"
        t1=$(now)
        if [ "$order" = 1 ]; then
            beside+=("$(secs $((t1 - t0)))")
            $RUN "$PROBE" close "$TITLE"
            wait
        else
            alone+=("$(secs $((t1 - t0)))")
        fi
        check "$WORK/dest-side-$i-$order" modextract.exe
    done
    echo "pair $i: alone ${alone[-1]} s, beside the idle window ${beside[-1]} s"
done
m_alone=$(median "${alone[@]}")
m_beside=$(median "${beside[@]}")
echo "medians: alone $m_alone s, beside $m_beside s"
echo "beside / alone = $(awk -v a="$m_beside" -v b="$m_alone" 'BEGIN { printf "%.3f", a / b }') (target <= 1.1)"

cli=() gui=() job=() base=()
for i in $(seq "$RUNS"); do
    t0=$(now)
    $RUN "$WINDOWS/modextract.exe" -q "$original" "$modded" "$(win "$WORK/dest-cli-$i")"
    t1=$(now)
    line=$($RUN "$WINDOWS/windowjob.exe" "$original" "$modded" "$(win "$WORK/dest-gui-$i")")
    t2=$(now)
    if [ -n "$BASELINE" ]; then
        base_line=$($RUN "$BASELINE/windowjob.exe" "$original" "$modded" "$(win "$WORK/dest-base-$i")")
        check "$WORK/dest-base-$i" "baseline windowjob.exe"
        base+=("$(awk '{print $2}' <<<"$base_line")")
    fi
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
[ -z "$BASELINE" ] || echo "baseline's job through its window: median $(median "${base[@]}") s"
echo "window / modextract.exe = $(awk -v a="$m_gui" -v b="$m_cli" 'BEGIN { printf "%.3f", a / b }') (target <= 1.1)"
