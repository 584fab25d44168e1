#!/usr/bin/env bash
# A second extraction into the same destination, warm, on a pair of trees
# with the mix of two releases of a real game's data: its time against a
# quiet dry run of the same trees, and what it creates, writes, names and
# removes, counted from the system calls. Then one target changed in place
# (size and times kept), one given new times only and one removed: those
# three must be put right and nothing else touched. See bench/README.md.
#
#   bench/rerun.sh BUILD_DIR [WORK_DIR] [--baseline BUILD2] [--runs N] [--files N] [--folder-files N]
#
# BUILD_DIR holds modextract and gentrees; BUILD2 another build's
# modextract, timed and counted the same way beside it (alternating). Needs
# strace.
set -euo pipefail
export LC_ALL=C

usage() {
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit "${1:-2}"
}

BUILD="" WORK="" BASELINE="" RUNS=9 FILES=3434 FOLDER_FILES=14
while (($#)); do
    case $1 in
    --baseline) BASELINE=${2:?}; shift 2 ;;
    --runs) RUNS=${2:?}; shift 2 ;;
    --files) FILES=${2:?}; shift 2 ;;
    --folder-files) FOLDER_FILES=${2:?}; shift 2 ;;
    -h | --help) usage 0 ;;
    -*) echo "rerun.sh: unknown option $1" >&2; usage ;;
    *)
        if [[ -z $BUILD ]]; then BUILD=$1
        elif [[ -z $WORK ]]; then WORK=$1
        else echo "rerun.sh: too many arguments" >&2; usage
        fi
        shift ;;
    esac
done
[[ -n $BUILD ]] || usage
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "rerun.sh: --runs must be a positive number" >&2; exit 2; }
command -v strace >/dev/null || { echo "rerun.sh: needs strace (apt-get install strace)" >&2; exit 2; }

OWN_WORK=0
if [[ -z $WORK ]]; then
    WORK=$(mktemp -d /var/tmp/modextract-rerun.XXXXXX)
    OWN_WORK=1
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)
trap 'rm -rf "$WORK"/rerun-*; ((OWN_WORK)) && rm -rf "$WORK"' EXIT

source "$(dirname "$0")/realmix.sh"
trees=$(real_mix_trees "$BUILD/gentrees" "$WORK" "$FILES" "$FOLDER_FILES")
find "$trees/original" "$trees/modded" -type f -exec cat {} + >/dev/null

names=(this)
tools=("$BUILD/modextract")
if [[ -n $BASELINE ]]; then
    names+=(baseline)
    tools+=("$BASELINE/modextract")
fi

# A complete destination per build, made by its own first run.
for i in "${!names[@]}"; do
    rm -rf "$WORK/rerun-${names[i]}"
    "${tools[i]}" -q "$trees/original" "$trees/modded" "$WORK/rerun-${names[i]}" >/dev/null
done
sync

now() { date +%s%N; }
# Milliseconds of one run, printed.
timed() {
    local t0
    t0=$(now)
    "$@" >/dev/null || { echo "rerun.sh: $* failed" >&2; exit 1; }
    echo $((($(now) - t0) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Alternating rounds, the order rotating: each build's re-run into its
# complete destination and its quiet dry run of the same trees.
declare -A times
kinds=()
for i in "${!names[@]}"; do kinds+=("$i:dry" "$i:rerun"); done
for ((round = 0; round < RUNS; ++round)); do
    for ((k = 0; k < ${#kinds[@]}; ++k)); do
        kind=${kinds[(k + round) % ${#kinds[@]}]}
        i=${kind%%:*}
        dest="$WORK/rerun-${names[i]}"
        if [[ ${kind#*:} == dry ]]; then
            times[$kind]+="$(timed "${tools[i]}" -q -n "$trees/original" "$trees/modded" "$dest") "
        else
            times[$kind]+="$(timed "${tools[i]}" -q "$trees/original" "$trees/modded" "$dest") "
        fi
        sync
    done
done

modded=$(find "$trees/modded" -type f | wc -l)
echo "trees: $trees ($modded modded files; $(grep -c '^M' "$trees/expected.txt") changed, $(grep -c '^A' "$trees/expected.txt") new)"
echo "warm, median of $RUNS alternating rounds (microseconds):"
printf '%-10s %10s %10s %8s\n' build dry-run re-run ratio
for i in "${!names[@]}"; do
    dry=$(tr ' ' '\n' <<<"${times[$i:dry]}" | grep . | median)
    rerun=$(tr ' ' '\n' <<<"${times[$i:rerun]}" | grep . | median)
    awk -v n="${names[i]}" -v d="$dry" -v r="$rerun" 'BEGIN { printf "%-10s %10d %10d %8.2f\n", n, d, r, r / d }'
done

# count NAME MODEXTRACT DEST: one re-run under strace, every thread in a
# file of its own (no calls cut in two); prints what it did to files. The
# folder check's probe (a temporary file made and removed again in Data)
# is counted apart.
count() {
    local name=$1 tool=$2 dest=$3 log="$WORK/rerun-log"
    rm -f "$log".*
    strace -f -ff -qq -o "$log" -e trace=openat,creat,write,pwrite64,copy_file_range,sendfile,link,linkat,rename,renameat,renameat2,unlink,unlinkat,utimensat,mkdir,mkdirat \
        "$tool" -q "$trees/original" "$trees/modded" "$dest" >/dev/null || { echo "rerun.sh: $name failed" >&2; exit 1; }
    cat "$log".* | awk -v name="$name" '
        function path(s) { if (match(s, /"[^"]*"/)) return substr(s, RSTART + 1, RLENGTH - 2); return "" }
        / = [0-9]/ || / = 0$/ {
            ok = $0 !~ / = -1 /
            if (!ok) next
            if ($0 ~ /^(openat|creat)\(/ && $0 ~ /O_TMPFILE|O_CREAT/) { created[path($0)]++; creates++ }
            else if ($0 ~ /^(write|pwrite64)\((1|2),/) next
            else if ($0 ~ /^(write|pwrite64|copy_file_range|sendfile)\(/ && $0 !~ / = 0$/) writes++
            else if ($0 ~ /^(link|linkat|rename|renameat|renameat2)\(/) names++
            else if ($0 ~ /^(unlink|unlinkat)\(/) { removed[path($0)]++; removes++ }
            else if ($0 ~ /^utimensat\(/) timesSet++
            else if ($0 ~ /^(mkdir|mkdirat)\(/) folders++
        }
        END {
            for (p in created) if ((p in removed) && p ~ /\.modextract-[0-9]+-[0-9]+\.tmp$/) probes++
            printf "%-10s %8d %8d %8d %8d %8d %8d %8d\n", name, creates - probes, writes, names, removes - probes, timesSet, folders, probes
        }'
    rm -f "$log".*
}
header() { printf '%-10s %8s %8s %8s %8s %8s %8s %8s\n' build created writes named removed times folders probe; }

# Inode, modification time and size of every file of a destination.
snapshot() { (cd "$1" && find . -type f -printf '%i %T@ %s %P\n' | sort -k4); }

echo "complete destination, what a re-run does to files (system calls that succeeded):"
header
for i in "${!names[@]}"; do count "${names[i]}" "${tools[i]}" "$WORK/rerun-${names[i]}"; done

# Three targets of different kinds of file, the same in each destination.
mapfile -t picked < <(awk '{ print $2 }' "$trees/expected.txt" | while read -r p; do
    [[ -s $trees/modded/$p ]] && echo "$p"; done | awk 'NR % 500 == 1' | head -3)
echo "one target changed in place (size and times kept): ${picked[0]}"
echo "one target with new times only:                    ${picked[1]}"
echo "one target missing:                                ${picked[2]}"
header
for i in "${!names[@]}"; do
    data="$WORK/rerun-${names[i]}/Data"
    touch -r "$data/${picked[0]}" "$WORK/rerun-times"
    first=$(head -c 1 "$data/${picked[0]}" | od -An -tu1 | tr -d ' ')
    printf "\\x$(printf %02x $(((first + 1) % 256)))" | dd of="$data/${picked[0]}" bs=1 conv=notrunc status=none
    touch -r "$WORK/rerun-times" "$data/${picked[0]}"
    touch -d '2001-02-03 04:05:06' "$data/${picked[1]}"
    rm -f "$data/${picked[2]}"
    snapshot "$data" >"$WORK/rerun-before"
    count "${names[i]}" "${tools[i]}" "$WORK/rerun-${names[i]}"
    snapshot "$data" >"$WORK/rerun-after"
    for p in "${picked[@]}"; do
        cmp -s "$data/$p" "$trees/modded/$p" || echo "rerun.sh: ${names[i]}: $p not put right" >&2
        [[ $(stat -c %Y "$data/$p") == $(stat -c %Y "$trees/modded/$p") ]] ||
            echo "rerun.sh: ${names[i]}: $p has not the modded file's time" >&2
    done
    touched=$(diff "$WORK/rerun-before" "$WORK/rerun-after" | grep -c '^>' || true)
    echo "           files whose inode, time or size moved: $touched"
done
