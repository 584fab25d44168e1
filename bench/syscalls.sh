#!/usr/bin/env bash
# System calls per modded file, by kind, on a warm run over a pair of trees
# with the mix of two releases of a real game's data (about 58% equal pairs,
# 31% changed files, 10% new ones). See bench/README.md.
#
#   bench/syscalls.sh BUILD_DIR [WORK_DIR] [--baseline BUILD2] [--files N] [--folder-files N] [--dry-run] [--perf]
#
# BUILD_DIR holds modextract and gentrees; BUILD2 another build's modextract,
# counted the same way beside it. Needs strace; --perf counts with
# `perf trace -s` instead, which does not stop each thread at each call, so
# the threads' locks do not contend more than they would untraced. On a
# player's Windows machine each of these calls passes the file-system
# filters (scanner, indexer, sync client), so their count is the job's cost
# there.
set -euo pipefail

usage() {
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit "${1:-2}"
}

BUILD="" WORK="" BASELINE="" FILES=3434 FOLDER_FILES=14 DRY=() TRACER=strace
while (($#)); do
    case $1 in
    --baseline) BASELINE=${2:?}; shift 2 ;;
    --files) FILES=${2:?}; shift 2 ;;
    --folder-files) FOLDER_FILES=${2:?}; shift 2 ;;
    --dry-run) DRY=(-n); shift ;;
    --perf) TRACER=perf; shift ;;
    -h | --help) usage 0 ;;
    -*) echo "syscalls.sh: unknown option $1" >&2; usage ;;
    *)
        if [[ -z $BUILD ]]; then BUILD=$1
        elif [[ -z $WORK ]]; then WORK=$1
        else echo "syscalls.sh: too many arguments" >&2; usage
        fi
        shift ;;
    esac
done
[[ -n $BUILD ]] || usage
package=strace
[[ $TRACER == perf ]] && package=linux-perf
command -v "$TRACER" >/dev/null || { echo "syscalls.sh: needs $TRACER (apt-get install $package)" >&2; exit 2; }

OWN_WORK=0
if [[ -z $WORK ]]; then
    WORK=$(mktemp -d /var/tmp/modextract-calls.XXXXXX)
    OWN_WORK=1
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)
trap 'rm -rf "$WORK"/calls-dest "$WORK"/calls-*.txt; ((OWN_WORK)) && rm -rf "$WORK"' EXIT

source "$(dirname "$0")/realmix.sh"
trees=$(real_mix_trees "$BUILD/gentrees" "$WORK" "$FILES" "$FOLDER_FILES")
modded=$(find "$trees/modded" -type f | wc -l)
# Warm: every byte of both trees in the page cache, every folder listed once.
find "$trees/original" "$trees/modded" -type f -exec cat {} + >/dev/null

# count NAME MODEXTRACT: one warm run under the tracer; prints a row.
count() {
    local name=$1 tool=$2 raw="$WORK/calls-$1.txt"
    local -a run=("$tool" -q "${DRY[@]}" "$trees/original" "$trees/modded" "$WORK/calls-dest")
    rm -rf "$WORK/calls-dest"
    if [[ $TRACER == perf ]]; then
        perf trace -s -o "$raw" -- "${run[@]}" >/dev/null
    else
        strace -f -c -o "$raw" "${run[@]}" >/dev/null
    fi || { echo "syscalls.sh: $name failed" >&2; exit 1; }
    awk -v name="$name" -v files="$modded" -v tracer="$TRACER" '
        # strace: % time, seconds, usecs/call, calls, [errors], syscall.
        # perf: a table per thread of syscall, calls, errors, times.
        tracer == "strace" && $1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" { call = $NF; n = $4 }
        tracer == "perf" && $1 ~ /^[a-z_0-9]+$/ && $2 ~ /^[0-9]+$/ && $3 ~ /^[0-9]+$/ && NF >= 8 { call = $1; n = $2 }
        call != "" {
            if (call ~ /^(open|openat|openat2|creat)$/) k = "opens"
            else if (call ~ /stat/) k = "status"
            else if (call == "close") k = "closes"
            else if (call ~ /^(read|pread64|readv|preadv)$/) k = "reads"
            else if (call ~ /fadvise|readahead/) k = "hints"
            else if (call ~ /getdents/) k = "listings"
            else if (call ~ /^(copy_file_range|sendfile|sendfile64|write|pwrite64)$/) k = "writes"
            else if (call ~ /^(link|linkat|rename|renameat|renameat2|unlink|unlinkat)$/) k = "names"
            else if (call ~ /^(mkdir|mkdirat)$/) k = "folders"
            else if (call ~ /^(fchmod|fchmodat|utimensat|futimens|fchown)$/) k = "attrs"
            else if (call == "futex") k = "futex"
            else k = "other"
            c[k] += n; total += n; call = ""
        }
        END {
            split("opens status closes reads hints listings writes names folders attrs futex other", order, " ")
            printf "%-10s", name
            for (i = 1; i <= 12; i++) printf " %8.2f", c[order[i]] / files
            printf " %8.2f\n", total / files
        }' "$raw"
}

echo "trees: $trees ($modded modded files; $(grep -c '^M' "$trees/expected.txt") changed, $(grep -c '^A' "$trees/expected.txt") new; $(find "$trees/original" "$trees/modded" -type d | wc -l) folders)"
echo "calls per modded file, warm${DRY:+, dry run}:"
printf '%-10s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n' build opens status closes reads hints \
    listings writes names folders attrs futex other total
count this "$BUILD/modextract"
[[ -z $BASELINE ]] || count baseline "$BASELINE/modextract"
