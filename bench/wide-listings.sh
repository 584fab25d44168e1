#!/usr/bin/env bash
# How many folder listings a dry run of modextract makes on a wide tree,
# counted by bench/slowio.cpp (Linux only): each folder listed once by the
# index or the walk ahead of it is the least; more means listings thrown
# away and made again.
#
#   bench/wide-listings.sh BUILD_DIR WORK_DIR [--runs N]
#
# BUILD_DIR holds modextract and slowio.so. WORK_DIR receives the trees
# (kept for the next time): an original of 50,744 folders, 25,000 of them
# siblings in one folder, each of those holding one folder with one file,
# and a modded tree of one file.
set -euo pipefail
export LC_ALL=C

BUILD=${1:?usage: wide-listings.sh BUILD_DIR WORK_DIR [--runs N]}
WORK=${2:?usage: wide-listings.sh BUILD_DIR WORK_DIR [--runs N]}
RUNS=3
[[ ${3:-} == --runs ]] && RUNS=${4:?}
mkdir -p "$WORK"

if [[ ! -f $WORK/made ]]; then
    rm -rf "$WORK/orig" "$WORK/mod"
    mkdir -p "$WORK/orig/wide" "$WORK/orig/deep" "$WORK/mod"
    (cd "$WORK/orig/wide" && seq -f 's%05.0f/d' 0 24999 | xargs mkdir -p &&
        seq -f 's%05.0f/d/f' 0 24999 | xargs touch)
    (cd "$WORK/orig/deep" && seq -f 'a%.0f' 0 740 | xargs mkdir)
    echo m >"$WORK/mod/m"
    touch "$WORK/made"
fi
folders=$(find "$WORK/orig" "$WORK/mod" -type d | wc -l)
echo "folders in both trees: $folders"
for ((r = 0; r < RUNS; ++r)); do
    MX_COUNT_LISTINGS=1 LD_PRELOAD="$BUILD/slowio.so" "$BUILD/modextract" -nq "$WORK/orig" "$WORK/mod" "$WORK/dest" \
        2>&1 >/dev/null | sed -n 's/^listings \([0-9]*\).*/listings \1/p'
done
