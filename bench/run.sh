#!/usr/bin/env bash
# The modextract benchmark. See bench/README.md.
#
#   bench/run.sh BUILD_DIR [WORK_DIR] [--files N] [--scale F] [--mix C,N] [--baseline BUILD2] [--runs N] [--seed N] [--keep]
#   bench/run.sh BUILD_DIR [WORK_DIR] --memory [--sizes "N ..."] [--baseline BUILD_DIR] [--runs N] [--seed N] [--keep]
#   bench/run.sh BUILD_DIR [WORK_DIR] --cold [--baseline BUILD2] [--jobs N] [--runs N] [--files N] ...
#   bench/run.sh BUILD_DIR [WORK_DIR] --compare BUILD2 [--dry-run] [--jobs N] [--runs N] [--files N] ...
#
# BUILD_DIR holds modextract, gentrees and readlimit. WORK_DIR holds the
# trees and the destinations (one file system for all); without it a fresh
# folder is made under /var/tmp and removed at the end (unless --keep).
# Trees in a given WORK_DIR are kept and reused while seed, files and scale
# are the same. --baseline adds a second modextract (another build, BUILD2)
# beside the first, in the speed, memory and cold benchmarks. --cold (root
# only) empties the page cache before every run; --jobs N is passed to
# BUILD_DIR's modextract. --compare times BUILD_DIR's modextract against
# BUILD2's, warm, alternating, in pairs (with --dry-run: both with -n).
# --mix C,N gives the trees a real game's share of changed and new files
# (gentrees' --mix; `--files 3434 --mix 350,116` is two real releases).
set -euo pipefail
export LC_ALL=C

usage() {  # usage [STATUS]
    sed -n '4,19p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit "${1:-2}"
}

BUILD=""
WORK=""
FILES=20000
SCALE=1
RUNS=5
SEED=1
MEMORY=0
COLD=0
COMPARE=0
DRY=0
BASELINE=""
JOBS=""
KEEP=0
MEM_SIZES=(100000 250000 500000 1000000)
RSS_TARGET_KIB=$((160 * 1024))
FLAT=0
MIX=""

while (($#)); do
    case "$1" in
    --files) FILES=${2:?}; shift 2 ;;
    --scale) SCALE=${2:?}; shift 2 ;;
    --mix) MIX=${2:?}; shift 2 ;;
    --runs) RUNS=${2:?}; shift 2 ;;
    --seed) SEED=${2:?}; shift 2 ;;
    --memory) MEMORY=1; FLAT=1; shift ;;
    --sizes) read -r -a MEM_SIZES <<<"${2:?}"; shift 2 ;;
    --baseline) BASELINE=${2:?}; shift 2 ;;
    --cold) COLD=1; shift ;;
    --compare) COMPARE=1; BASELINE=${2:?}; shift 2 ;;
    --dry-run) DRY=1; shift ;;
    --jobs) JOBS=${2:?}; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h | --help) usage 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; usage ;;
    *)
        if [[ -z $BUILD ]]; then BUILD=$1
        elif [[ -z $WORK ]]; then WORK=$1
        else echo "run.sh: too many arguments" >&2; usage
        fi
        shift ;;
    esac
done
[[ -n $BUILD ]] || usage
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs must be a positive number" >&2; exit 2; }
((!DRY || COMPARE)) || { echo "run.sh: --dry-run goes with --compare only" >&2; exit 2; }
if ((COLD)) && [[ $(id -u) != 0 ]]; then
    echo "run.sh: --cold empties the page cache (/proc/sys/vm/drop_caches), which needs root; not run" >&2
    exit 2
fi

find_tool() {
    local dir
    for dir in "$BUILD" "$BUILD/bench"; do  # BUILD may be set for one call
        if [[ -x $dir/$1 ]]; then (cd "$dir" && echo "$PWD/$1"); return; fi
    done
    echo "run.sh: $1 not found in $BUILD (build the project first)" >&2
    exit 2
}
MODEXTRACT=$(find_tool modextract)
MODEXTRACT_BASE=""
if [[ -n $BASELINE ]]; then
    MODEXTRACT_BASE=$(BUILD=$BASELINE find_tool modextract)
fi
JOBS_ARGS=()
[[ -z $JOBS ]] || JOBS_ARGS=(--jobs "$JOBS")
RUN_ARGS=(-q)  # both builds'
((!DRY)) || RUN_ARGS=(-q -n)
GENTREES=$(find_tool gentrees)
READLIMIT=$(find_tool readlimit)
DROPCACHE=$(find_tool dropcache)
if ! command -v rsync >/dev/null; then
    echo "run.sh: rsync is missing (apt-get install -y rsync)" >&2
    exit 2
fi

OWN_WORK=0
if [[ -z $WORK ]]; then
    WORK=$(mktemp -d /var/tmp/modextract-bench.XXXXXX)
    OWN_WORK=1
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)

cleanup() {
    rm -rf "$WORK"/dest-* "$WORK"/warm "$WORK"/dry "$WORK"/mem-dest*
    if ((OWN_WORK && !KEEP)); then rm -rf "$WORK"; fi
}
trap cleanup EXIT

echo "work folder: $WORK$( ((OWN_WORK && !KEEP)) && echo ' (removed at the end)')"
echo "modextract:  $MODEXTRACT ($("$MODEXTRACT" --version))"
echo "machine:     $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(df -T "$WORK" | awk 'NR==2 {print $2}'), $(rsync --version | head -1 | awk '{print "rsync " $3}')"

# ---- helpers ---------------------------------------------------------------

# trees_for FILES SCALE: the tree folder for those parameters, generated
# unless a complete one with the same parameters is there.
trees_for() {
    local files=$1 scale=$2
    local dir="$WORK/trees-seed$SEED-files$files-scale$scale" shape=()
    if ((FLAT)); then dir+=-flat; shape=(--flat); fi
    if [[ -n $MIX ]]; then dir+=-mix${MIX/,/-}; shape+=(--mix "$MIX"); fi
    local want
    want=$("$GENTREES" --seed "$SEED" --files "$files" --scale "$scale" "${shape[@]}" --print-params)
    if [[ -f $dir/params.txt && $(cat "$dir/params.txt") == "$want" ]]; then
        echo "trees: reusing $dir ($want)" >&2
    else
        rm -rf "$dir"
        mkdir -p "$dir"
        echo "trees: generating $dir ($want)" >&2
        local t0 t1
        t0=$(date +%s%N)
        "$GENTREES" --seed "$SEED" --files "$files" --scale "$scale" "${shape[@]}" "$dir" >&2
        sync
        t1=$(date +%s%N)
        echo "trees: generated and synced in $(secs $((t1 - t0))) s" >&2
    fi
    echo "$dir"
}

secs() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }

median() {
    printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 }
        END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.0f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# Reads both trees once; prints the byte count. It copies nothing: on ext4
# without a journal, files deleted here would be passed over, one by one,
# by every file the next minutes' runs create (see measured below).
warm() {
    local trees=$1 line
    line=$("$READLIMIT" --expected /dev/null "$trees/original" "$trees/modded" "$WORK/warm" 2>&1)
    echo "$line" | sed -n 's/.*read [0-9]* files, \([0-9]*\) bytes.*/\1/p'
}

# check_output TREES DEST LABEL: DEST/Data must hold exactly the expected
# files, each equal to its modded version.
check_output() {
    local trees=$1 dest=$2 label=$3
    local want got bad=0 rel
    want=$(cut -c3- "$trees/expected.txt" | sort)
    got=$( (cd "$dest/Data" 2>/dev/null && find . -type f | sed 's|^\./||' | sort) || true)
    if [[ $want != "$got" ]]; then
        echo "  $label: FAIL, files in $dest/Data differ from expected.txt:"
        diff <(echo "$want") <(echo "$got") | head -10 | sed 's/^/    /'
        return 1
    fi
    while IFS= read -r rel; do
        cmp -s "$trees/modded/$rel" "$dest/Data/$rel" || { bad=$((bad + 1)); echo "    differs: $rel"; }
    done <<<"$want"
    if ((bad)); then
        echo "  $label: FAIL, $bad copied files differ from the modded tree"
        return 1
    fi
    local folders
    folders=$(find "$dest/Data" -type d | wc -l)
    echo "  $label: OK, exactly the $(echo "$want" | grep -c .) expected files, each equal to the modded one ($folders folders)"
}

# check_dry_run TREES: modextract -n's list against expected.txt.
check_dry_run() {
    local trees=$1 status=0
    rm -rf "$WORK/dry"
    "$MODEXTRACT" -n -q "$trees/original" "$trees/modded" "$WORK/dry" | sort >"$WORK/dry-run.txt" || status=$?
    if ((status)); then
        echo "  modextract -n: FAIL, exit status $status"
        return 1
    fi
    if cmp -s "$WORK/dry-run.txt" "$trees/expected.txt"; then
        echo "  modextract -n: OK, its list equals expected.txt ($(wc -l <"$trees/expected.txt") lines)"
        [[ ! -e $WORK/dry ]] || { echo "  modextract -n: FAIL, it wrote $WORK/dry"; return 1; }
    else
        echo "  modextract -n: FAIL, its list differs from expected.txt:"
        diff "$trees/expected.txt" "$WORK/dry-run.txt" | head -10 | sed 's/^/    /'
        return 1
    fi
}

# run_timed NAME DEST: runs one tool into DEST; sets ELAPSED (ns).
run_timed() {
    local name=$1 dest=$2 t0 t1 status=0
    case "$name" in
    modextract)
        t0=$(date +%s%N)
        "$MODEXTRACT" "${RUN_ARGS[@]}" "${JOBS_ARGS[@]}" "$ORIG" "$MOD" "$dest" >/dev/null || status=$?
        t1=$(date +%s%N) ;;
    baseline)
        t0=$(date +%s%N)
        "$MODEXTRACT_BASE" "${RUN_ARGS[@]}" "$ORIG" "$MOD" "$dest" >/dev/null || status=$?
        t1=$(date +%s%N) ;;
    readall)
        t0=$(date +%s%N)
        "$READLIMIT" -q --readers 16 --expected /dev/null "$ORIG" "$MOD" "$dest" || status=$?
        t1=$(date +%s%N) ;;
    rsync)
        t0=$(date +%s%N)
        rsync -r --checksum --compare-dest="$ORIG" "$MOD/" "$dest/Data/" || status=$?
        t1=$(date +%s%N) ;;
    limit)
        t0=$(date +%s%N)
        "$READLIMIT" -q --expected "$TREES/expected.txt" "$ORIG" "$MOD" "$dest" || status=$?
        t1=$(date +%s%N) ;;
    overlap)
        t0=$(date +%s%N)
        "$READLIMIT" -q --overlap --expected "$TREES/expected.txt" "$ORIG" "$MOD" "$dest" || status=$?
        t1=$(date +%s%N) ;;
    esac
    if ((status)); then
        echo "run.sh: $name failed with exit status $status" >&2
        exit 1
    fi
    ELAPSED=$((t1 - t0))
}

# Reads completed so far by the disk that holds the work folder (0 when unknown).
DISK=$(basename "$(df --output=source "$WORK" | tail -1)")
disk_reads() {
    awk -v d="$DISK" '$3 == d { print $4; found = 1 } END { if (!found) print 0 }' /proc/diskstats
}

# Runs tool $1 into a fresh destination $2 after $3 (sync, or drop_caches
# for a cold run); sets ELAPSED and READS, the disk's read requests meanwhile.
fresh_run() {
    rm -rf "$2"
    mkdir -p "$2"
    $3
    local before
    before=$(disk_reads)
    run_timed "$1" "$2"
    READS=$(($(disk_reads) - before))
}

verdict() {  # verdict RATIO LIMIT
    awk -v r="$1" -v l="$2" 'BEGIN { print (r <= l ? "PASS" : "MISS") }'
}

# ---- the speed benchmark ---------------------------------------------------

# Reads both trees of $1 into the page cache, then checks the dry run's
# list against the expected one; false when it differs. Sets WARM_BYTES.
WARM_BYTES=0
warm_and_check() {
    local bytes
    bytes=$(warm "$1")
    WARM_BYTES=$bytes
    echo "page cache warmed: both trees read once ($(awk -v b="$bytes" 'BEGIN { printf "%.2f GiB", b / 2^30 }'))"
    echo "correctness:"
    check_dry_run "$1"
}

speed_bench() {
    TREES=$(trees_for "$FILES" "$SCALE")
    ORIG=$TREES/original
    MOD=$TREES/modded
    echo "trees: $(cat "$TREES/params.txt"); $(wc -l <"$TREES/expected.txt") new or changed files"

    local ok=1
    warm_and_check "$TREES" || ok=0

    local -A times=()
    local tools=(modextract rsync limit overlap) r k name dest
    [[ -z $MODEXTRACT_BASE ]] || tools=(modextract baseline rsync limit overlap)
    # One untimed round first: it checks each tool's output and brings the
    # destination side's file system metadata into memory as well, so that
    # the timed runs all start from the same warm state.
    echo "warm-up round (untimed), checking each tool's output:"
    for name in "${tools[@]}"; do
        dest=$WORK/dest-$name-warm
        rm -rf "$dest"
        mkdir -p "$dest"
        run_timed "$name" "$dest"
        check_output "$TREES" "$dest" "$name" || ok=0
        sync
        "$DROPCACHE" "$dest"
    done

    echo "timing: $RUNS runs, tools alternating, each into a fresh destination in $WORK"
    echo "  [n]: read requests the disk served during that run; 0 when everything came from memory"
    for ((r = 0; r < RUNS; ++r)); do
        local line="  run $((r + 1)):"
        for ((k = 0; k < ${#tools[@]}; ++k)); do
            name=${tools[(r + k) % ${#tools[@]}]}
            dest=$WORK/dest-$name-$r
            fresh_run "$name" "$dest" sync
            times[$name]+="$ELAPSED "
            line+=" $name $(secs "$ELAPSED") s [$READS],"
            sync
            "$DROPCACHE" "$dest"
        done
        echo "${line%,}"
    done
    # Deleting a destination right before the next run would charge that run
    # for it (ext4 scans recently freed inodes when it creates files): every
    # run had a destination of its own, and they all go only now. Their pages
    # left the page cache right after each run (dropcache), so that the cache
    # does not grow by a mod per run.
    rm -rf "$WORK"/dest-*
    sync

    local m_mod m_rs m_lim m_ovl bytes=$WARM_BYTES
    m_mod=$(median ${times[modextract]})
    m_rs=$(median ${times[rsync]})
    m_lim=$(median ${times[limit]})
    m_ovl=$(median ${times[overlap]})
    echo
    echo "medians over $RUNS runs ($(awk -v b="$bytes" 'BEGIN { printf "%.2f GiB", b / 2^30 }') read by the limit):"
    printf '  %-11s %8s s   %6s GiB/s\n' \
        modextract "$(secs "$m_mod")" "$(awk -v b="$bytes" -v t="$m_mod" 'BEGIN { printf "%.2f", b / 2^30 / (t / 1e9) }')" \
        rsync "$(secs "$m_rs")" "$(awk -v b="$bytes" -v t="$m_rs" 'BEGIN { printf "%.2f", b / 2^30 / (t / 1e9) }')" \
        limit "$(secs "$m_lim")" "$(awk -v b="$bytes" -v t="$m_lim" 'BEGIN { printf "%.2f", b / 2^30 / (t / 1e9) }')" \
        overlap "$(secs "$m_ovl")" "$(awk -v b="$bytes" -v t="$m_ovl" 'BEGIN { printf "%.2f", b / 2^30 / (t / 1e9) }')"
    local r_rs r_lim
    r_rs=$(awk -v a="$m_mod" -v b="$m_rs" 'BEGIN { printf "%.3f", a / b }')
    r_lim=$(awk -v a="$m_mod" -v b="$m_lim" 'BEGIN { printf "%.3f", a / b }')
    echo "ratios:"
    echo "  modextract / rsync = $r_rs   target <= 0.60   $(verdict "$r_rs" 0.60)"
    echo "  modextract / limit = $r_lim   target <= 1.20   $(verdict "$r_lim" 1.20)"
    echo "  modextract / overlap = $(awk -v a="$m_mod" -v b="$m_ovl" 'BEGIN { printf "%.3f", a / b }')   (no target: the floor when writing overlaps reading)"
    if [[ -n $MODEXTRACT_BASE ]]; then
        local m_base
        m_base=$(median ${times[baseline]})
        echo "  baseline ($MODEXTRACT_BASE): $(secs "$m_base") s; baseline / rsync = $(awk -v a="$m_base" -v b="$m_rs" 'BEGIN { printf "%.3f", a / b }'), modextract / baseline = $(awk -v a="$m_mod" -v b="$m_base" 'BEGIN { printf "%.3f", a / b }')"
    fi

    # Where the time goes: the same work without any writing.
    local -A reads=()
    for ((r = 0; r < RUNS; ++r)); do
        local t0 t1
        rm -rf "$WORK/dry"
        t0=$(date +%s%N)
        "$MODEXTRACT" -n -q "$ORIG" "$MOD" "$WORK/dry" >/dev/null
        t1=$(date +%s%N)
        reads[modextract]+="$((t1 - t0)) "
        t0=$(date +%s%N)
        "$READLIMIT" -q --expected /dev/null "$ORIG" "$MOD" "$WORK/dry"
        t1=$(date +%s%N)
        reads[limit]+="$((t1 - t0)) "
        rm -rf "$WORK/dry"
    done
    local s_mod s_lim
    s_mod=$(median ${reads[modextract]})
    s_lim=$(median ${reads[limit]})
    echo "phases (medians, informational): reading and comparing only, nothing written:"
    echo "  modextract -n  $(secs "$s_mod") s   => writing the mod added about $(secs $((m_mod - s_mod))) s"
    echo "  limit, no copy $(secs "$s_lim") s   => writing the mod added about $(secs $((m_lim - s_lim))) s"
    echo "correctness: $( ((ok)) && echo PASS || echo FAIL)"
    ((ok))
}

# ---- the memory and scaling benchmark --------------------------------------

# measured NAME RUN: runs one tool under /usr/bin/time into a fresh
# destination; sets SECONDS_TAKEN and PEAK_KIB. The destinations all go once
# every size's runs are done: on ext4 the runs of the next minutes after a
# deletion pay for the freed inodes they pass over as they create files
# (ext4 without a journal looks at each one's deletion time), so a tool, or
# the next size, would pay for the one before it.
measured() {
    local name=$1 dest=$WORK/mem-dest-$1-$2 report status=0
    local -a command
    case "$name" in
    modextract) command=("$MODEXTRACT" -q "$ORIG" "$MOD" "$dest") ;;
    baseline) command=("$MODEXTRACT_BASE" -q "$ORIG" "$MOD" "$dest") ;;
    dry) command=("$MODEXTRACT" -n -q "$ORIG" "$MOD" "$dest") ;;
    basedry) command=("$MODEXTRACT_BASE" -n -q "$ORIG" "$MOD" "$dest") ;;
    rsync) command=(rsync -r --checksum --compare-dest="$ORIG" "$MOD/" "$dest/Data/") ;;
    esac
    rm -rf "$dest"
    mkdir -p "$dest"
    sync
    report=$(/usr/bin/time -f 'time %e %M' "${command[@]}" 2>&1 >/dev/null) || status=$?
    sync
    if ((status)); then
        echo "run.sh: $name failed (exit status $status): $report" >&2
        exit 1
    fi
    read -r SECONDS_TAKEN PEAK_KIB <<<"$(echo "$report" | awk '$1 == "time" { print $2, $3 }' | tail -1)"
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

memory_bench() {
    if [[ ! -x /usr/bin/time ]]; then
        if [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
            apt-get install -y time >/dev/null
        else
            echo "run.sh: /usr/bin/time is missing (apt-get install -y time)" >&2
            exit 2
        fi
    fi
    local ok=1 n trees tools=(modextract dry rsync)
    [[ -z $BASELINE ]] || tools=(modextract baseline dry basedry rsync)
    declare -A treesOf=()
    for n in "${MEM_SIZES[@]}"; do treesOf[$n]=$(trees_for "$n" 1); done

    echo "peak memory (MiB, /usr/bin/time's maximum resident set) and wall time (s), median of $RUNS runs;"
    echo "each size's trees are read once first, so that every run reads from the page cache"
    echo "  dry = modextract -n; baseline = $MODEXTRACT_BASE"
    local header="  files/tree"
    for name in "${tools[@]}"; do header+=$(printf ' %18s' "$name"); done
    echo "$header"
    local first=() last=() first_n="" last_n="" name r
    for n in "${MEM_SIZES[@]}"; do
        trees=${treesOf[$n]}
        ORIG=$trees/original
        MOD=$trees/modded
        TREES=$trees
        warm "$trees" >/dev/null
        check_dry_run "$trees" >"$WORK/mem-check.txt" || { ok=0; cat "$WORK/mem-check.txt"; }
        local line
        line=$(printf '  %10s' "$n")
        local -A secs=() peaks=()
        # The order turns each round: on the 1M pair the run right after
        # rsync came out slower every time (see README.md), and no tool
        # should always be that run.
        local k
        for ((r = 0; r < RUNS; ++r)); do
            for ((k = 0; k < ${#tools[@]}; ++k)); do
                name=${tools[(r + k) % ${#tools[@]}]}
                measured "$name" "$r"
                secs[$name]+="$SECONDS_TAKEN "
                peaks[$name]+="$PEAK_KIB "
            done
        done
        local values=()
        for name in "${tools[@]}"; do
            local s p
            s=$(printf '%s\n' ${secs[$name]} | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
            p=$(median ${peaks[$name]})
            line+=$(printf ' %8s s %5s MiB' "$s" "$(mib "$p")")
            values+=("$s $p")
        done
        echo "$line"
        if [[ -z $first_n ]]; then first=("${values[@]}"); first_n=$n; fi
        last=("${values[@]}")
        last_n=$n
        if [[ $n == "${MEM_SIZES[-1]}" ]]; then
            local peak=${values[0]#* }
            echo "  modextract at $n files per tree: peak $(mib "$peak") MiB   target <= 160 MiB   $( ((peak <= RSS_TARGET_KIB)) && echo PASS || echo MISS)"
            ((peak <= RSS_TARGET_KIB)) || ok=0
        fi
    done
    if [[ $first_n != "$last_n" ]]; then
        echo "growth from $first_n to $last_n files per tree, as log-log slopes (1.00 = linear):"
        local i=0
        for name in "${tools[@]}"; do
            read -r s1 p1 <<<"${first[$i]}"
            read -r s2 p2 <<<"${last[$i]}"
            awk -v name="$name" -v s1="$s1" -v s2="$s2" -v p1="$p1" -v p2="$p2" -v n1="$first_n" -v n2="$last_n" 'BEGIN {
                l = log(n2 / n1)
                printf "  %-10s time %.2f   memory %.2f   (%.1f us per file at %d; %.1f bytes more per added file)\n", name,
                    (s1 > 0 ? log(s2 / s1) / l : 0), log(p2 / p1) / l, s2 / n2 * 1e6, n2, (p2 - p1) * 1024 / (n2 - n1)
            }'
            i=$((i + 1))
        done
    fi
    rm -rf "$WORK"/mem-dest-*
    sync
    echo "memory and correctness: $( ((ok)) && echo PASS || echo FAIL)"
    ((ok))
}

# ---- the cold-cache benchmark ----------------------------------------------

drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

cold_bench() {
    TREES=$(trees_for "$FILES" "$SCALE")
    ORIG=$TREES/original
    MOD=$TREES/modded
    echo "trees: $(cat "$TREES/params.txt"); $(wc -l <"$TREES/expected.txt") new or changed files"
    [[ -z $MODEXTRACT_BASE ]] || echo "baseline:    $MODEXTRACT_BASE"
    [[ -z $JOBS ]] || echo "modextract runs with --jobs $JOBS"

    local bytes
    bytes=$(warm "$TREES")
    echo "both trees: $(awk -v b="$bytes" 'BEGIN { printf "%.2f GiB", b / 2^30 }')"
    echo "correctness:"
    local ok=1
    check_dry_run "$TREES" || ok=0

    local tools=(modextract rsync readall) r k name dest
    [[ -z $MODEXTRACT_BASE ]] || tools=(modextract baseline rsync readall)
    # The untimed round checks the outputs and, as in the warm benchmark,
    # brings the destination side's metadata into memory; the reading side
    # is emptied from memory before every timed run.
    echo "untimed round, checking each tool's output:"
    for name in "${tools[@]}"; do
        dest=$WORK/dest-$name-warm
        rm -rf "$dest"
        mkdir -p "$dest"
        run_timed "$name" "$dest"
        if [[ $name == readall ]]; then echo "  readall: reads only"
        else check_output "$TREES" "$dest" "$name" || ok=0
        fi
        sync
    done

    local -A times=()
    echo "timing: $RUNS runs, tools alternating, page cache emptied before each run"
    echo "  readall: readlimit --readers 16, both trees read whole by 16 threads, nothing written"
    echo "  [n]: read requests the disk served during that run"
    for ((r = 0; r < RUNS; ++r)); do
        local line="  run $((r + 1)):"
        for ((k = 0; k < ${#tools[@]}; ++k)); do
            name=${tools[(r + k) % ${#tools[@]}]}
            dest=$WORK/dest-$name-$r
            fresh_run "$name" "$dest" drop_caches
            times[$name]+="$ELAPSED "
            line+=" $name $(secs "$ELAPSED") s [$READS],"
            sync
        done
        echo "${line%,}"
    done
    rm -rf "$WORK"/dest-*
    sync

    echo
    echo "medians over $RUNS cold runs ($(awk -v b="$bytes" 'BEGIN { printf "%.2f GiB", b / 2^30 }') in both trees):"
    local -A m=()
    for name in "${tools[@]}"; do
        m[$name]=$(median ${times[$name]})
        printf '  %-11s %8s s   %6s GiB/s\n' "$name" "$(secs "${m[$name]}")" \
            "$(awk -v b="$bytes" -v t="${m[$name]}" 'BEGIN { printf "%.2f", b / 2^30 / (t / 1e9) }')"
    done
    local r_rs r_all
    r_rs=$(awk -v a="${m[modextract]}" -v b="${m[rsync]}" 'BEGIN { printf "%.3f", a / b }')
    r_all=$(awk -v a="${m[modextract]}" -v b="${m[readall]}" 'BEGIN { printf "%.3f", a / b }')
    echo "ratios:"
    echo "  modextract / rsync   = $r_rs   target <= 0.50   $(verdict "$r_rs" 0.50)"
    echo "  modextract / readall = $r_all   target <= 1.00   $(verdict "$r_all" 1.00)"
    if [[ -n $MODEXTRACT_BASE ]]; then
        echo "  baseline / rsync     = $(awk -v a="${m[baseline]}" -v b="${m[rsync]}" 'BEGIN { printf "%.3f", a / b }')"
        echo "  modextract / baseline = $(awk -v a="${m[modextract]}" -v b="${m[baseline]}" 'BEGIN { printf "%.3f", a / b }')"
    fi
    echo "correctness: $( ((ok)) && echo PASS || echo FAIL)"
    ((ok))
}

# ---- two builds side by side -----------------------------------------------

compare_bench() {
    TREES=$(trees_for "$FILES" "$SCALE")
    ORIG=$TREES/original
    MOD=$TREES/modded
    echo "trees: $(cat "$TREES/params.txt"); $(wc -l <"$TREES/expected.txt") new or changed files"
    echo "this:  $MODEXTRACT ${RUN_ARGS[*]} ${JOBS_ARGS[*]}"
    echo "other: $MODEXTRACT_BASE ${RUN_ARGS[*]}"
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

    local ok=1
    warm_and_check "$TREES" || ok=0

    local tools=(modextract baseline) r k name dest
    echo "untimed round$( ((DRY)) || echo ', checking each build'"'"'s output'):"
    for name in "${tools[@]}"; do
        dest=$WORK/dest-$name-warm
        rm -rf "$dest"
        mkdir -p "$dest"
        run_timed "$name" "$dest"
        ((DRY)) || check_output "$TREES" "$dest" "$name" || ok=0
        sync
        "$DROPCACHE" "$dest"
    done

    # Pairs, the first build of each pair taking turns; every run has a
    # destination of its own, its pages dropped after the run and the folder
    # deleted at the end (see the speed benchmark).
    local -A times=()
    local ratios=""
    echo "timing: $RUNS pairs, alternating, each run into a fresh destination; [n]: disk reads during the run"
    for ((r = 0; r < RUNS; ++r)); do
        local line="  pair $((r + 1)):"
        local -A this=()
        for ((k = 0; k < 2; ++k)); do
            name=${tools[(r + k) % 2]}
            dest=$WORK/dest-$name-$r
            fresh_run "$name" "$dest" sync
            this[$name]=$ELAPSED
            times[$name]+="$ELAPSED "
            local label=${name/modextract/this}
            line+=" ${label/baseline/other} $(secs "$ELAPSED") s [$READS],"
            sync
            "$DROPCACHE" "$dest"
        done
        local ratio
        ratio=$(awk -v a="${this[modextract]}" -v b="${this[baseline]}" 'BEGIN { printf "%.4f", a / b }')
        ratios+="$ratio "
        echo "$line ratio $ratio"
    done
    rm -rf "$WORK"/dest-*
    sync

    local m_this m_other m_ratio
    m_this=$(median ${times[modextract]})
    m_other=$(median ${times[baseline]})
    m_ratio=$(printf '%s\n' $ratios | sort -n | awk '{ a[NR] = $1 }
        END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.4f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }')
    echo
    echo "medians over $RUNS pairs:"
    echo "  this   $(secs "$m_this") s"
    echo "  other  $(secs "$m_other") s"
    echo "  this / other: $(awk -v a="$m_this" -v b="$m_other" 'BEGIN { printf "%.3f", a / b }') (of the medians)," \
         "$m_ratio (median of the pairs' ratios; from $(printf '%s\n' $ratios | sort -n | head -1)" \
         "to $(printf '%s\n' $ratios | sort -n | tail -1))"
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "correctness: $( ((ok)) && echo PASS || echo FAIL)"
    ((ok))
}

if ((MEMORY)); then
    memory_bench
elif ((COMPARE)); then
    compare_bench
elif ((COLD)); then
    cold_bench
else
    speed_bench
fi
