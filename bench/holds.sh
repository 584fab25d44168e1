#!/usr/bin/env bash
# modextract.exe under Wine while other programs hold its files: the figures
# of the "held files" table in bench/README.md.
#
#   bench/holds.sh WINDOWS_BUILD_DIR [--runs N] [--only NAME]
#
# WINDOWS_BUILD_DIR holds modextract.exe and tests/holder.exe (the tests'
# scanner and holder). Trees: 60 changed, 40 new and 100 equal files of
# 16-200 KiB. Each case prints its exit status, failures named, temporary
# files left, files not as expected (targets held for good must keep their
# old contents) and the run's time in seconds. BASELINE=DIR adds the
# modextract.exe in DIR, run alternately with the first.
set -euo pipefail
export LC_ALL=C.UTF-8

BUILD=${1:?usage: bench/holds.sh WINDOWS_BUILD_DIR [--runs N] [--only NAME]}
shift
RUNS=1
ONLY=""
while (($#)); do
    case "$1" in
    --runs) RUNS=${2:?}; shift 2 ;;
    --only) ONLY=${2:?}; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
HERE=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$BUILD" && pwd)
RUN="$HERE/cmake/wine-run.sh $BUILD/wine"
WORK=$(mktemp -d /var/tmp/mxholds.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

win() { echo "Z:${1//\//\\}"; }

# The trees, once: files a few tens of KiB, as most of a game's are.
mkdir -p "$WORK/orig" "$WORK/mod" "$WORK/old"
for i in $(seq 1 200); do
    d=$((i % 5))
    mkdir -p "$WORK/orig/d$d" "$WORK/mod/d$d" "$WORK/old/d$d"
    size=$((16 + (i * 37) % 184))
    head -c $((size * 1024)) /dev/urandom >"$WORK/mod/d$d/f$i.dat"
    if ((i <= 60)); then  # changed
        head -c $((size * 1024)) /dev/urandom >"$WORK/orig/d$d/f$i.dat"
        cp "$WORK/orig/d$d/f$i.dat" "$WORK/old/d$d/f$i.dat"
    elif ((i > 100)); then  # equal
        cp "$WORK/mod/d$d/f$i.dat" "$WORK/orig/d$d/f$i.dat"
    fi  # 61-100: new
done
# Changed files to hold: their old versions in DEST\Data, or the modded one.
changed=()
for i in $(seq 1 60); do changed+=("d$((i % 5))/f$i.dat"); done

$RUN "$BUILD/modextract.exe" --help >/dev/null 2>&1 || true  # the prefix, made once

# one_case NAME: a fresh destination, the holder as the case asks, one run.
one_case() {
    local name=$1 dest="$WORK/dest" holder="" hold_ms=0 held=()
    rm -rf "$dest" "$WORK/ready" "$WORK/stop"
    mkdir -p "$dest"
    case "$name" in
    scan*) hold_ms=${name#scan} ;;
    source) held=("$WORK/mod/${changed[0]}"); hold_ms=1500 ;;
    targets5 | forever30)
        cp -r "$WORK/old" "$dest/Data"
        local n=5; hold_ms=1500
        [ "$name" = forever30 ] && n=30 && hold_ms=0
        for ((k = 0; k < n; ++k)); do held+=("$dest/Data/${changed[k * 2]}"); done ;;
    esac
    if [[ $name == scan* ]]; then
        mkdir -p "$dest/Data"
        $RUN "$BUILD/tests/holder.exe" scan "$hold_ms" "$(win "$dest/Data")" "$(win "$WORK/stop")" 2>"$WORK/holder.err" &
        holder=$!
        sleep 1
    elif ((${#held[@]})); then
        local args=()
        for f in "${held[@]}"; do args+=("$(win "$f")"); done
        $RUN "$BUILD/tests/holder.exe" hold "$hold_ms" "$(win "$WORK/ready")" "${args[@]}" &
        holder=$!
        while [ ! -e "$WORK/ready" ]; do sleep 0.05; done
    fi
    local start end status=0
    start=$(date +%s.%N)
    $RUN "$EXE" "$(win "$WORK/orig")" "$(win "$WORK/mod")" "$(win "$dest")" >/dev/null 2>"$WORK/err" || status=$?
    end=$(date +%s.%N)
    if [[ $name == scan* ]]; then
        sleep $(((hold_ms + 999) / 1000 + 1))
        touch "$WORK/stop"
        wait "$holder" || true
        [ -n "${VERBOSE:-}" ] && cat "$WORK/holder.err"
    elif [ -n "$holder" ]; then
        rm -f "$WORK/ready"  # ends a hold for good
        wait "$holder" || true
    fi
    # Exact: every new and changed file as modded, except targets held for
    # good, which keep their old contents.
    local wrong=0 rel
    for i in $(seq 1 100); do
        rel="d$((i % 5))/f$i.dat"
        local expect="$WORK/mod/$rel"
        if [ "$name" = forever30 ]; then
            for f in "${held[@]}"; do [ "$f" = "$dest/Data/$rel" ] && expect="$WORK/old/$rel"; done
        fi
        cmp -s "$expect" "$dest/Data/$rel" || wrong=$((wrong + 1))
    done
    local extra
    extra=$(find "$dest/Data" -type f | wc -l)
    local failed temps
    failed=$(grep -v 'warning:' "$WORK/err" | grep -c 'cannot' || true)
    temps=$(find "$dest" -name '~*' | wc -l)
    printf '%-10s exit %d  named %3d  temporary %2d  not as expected %3d  files %3d  %6.2f s\n' \
        "$name" "$status" "$failed" "$temps" "$wrong" "$extra" "$(echo "$end - $start" | bc)"
    [ -n "${VERBOSE:-}" ] && head -5 "$WORK/err"
    return 0
}

# Case by case, the programs side by side, so that the machine's load
# falls on both alike.
for ((r = 0; r < RUNS; ++r)); do
    for name in none scan200 scan800 source targets5 forever30; do
        [ -n "$ONLY" ] && [ "$ONLY" != "$name" ] && continue
        for EXE in "$BUILD/modextract.exe" ${BASELINE:+"$BASELINE/modextract.exe"}; do
            printf '%-45s ' "$EXE"
            one_case "$name"
        done
    done
done
