#!/usr/bin/env bash
# Calls per modded file as the engine asks them of its platform layer, on a
# warm pair of trees with the mix of two releases of a real game's data,
# natively and, given a Windows build, under Wine: where strace does not
# reach, and where on a player's machine each open, status query and
# listing call passes the file-system filters. See bench/README.md.
#
#   bench/callcount.sh NATIVE_BUILD [WINDOWS_BUILD] [--work DIR] [--files N] [--folder-files N]
#
# NATIVE_BUILD holds callcount and gentrees; WINDOWS_BUILD callcount.exe
# (scripts/test-windows.sh builds it), run with cmake/wine-run.sh.
set -euo pipefail

usage() {
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit "${1:-2}"
}

NATIVE="" WINDOWS="" WORK="" FILES=3434 FOLDER_FILES=14
while (($#)); do
    case $1 in
    --work) WORK=${2:?}; shift 2 ;;
    --files) FILES=${2:?}; shift 2 ;;
    --folder-files) FOLDER_FILES=${2:?}; shift 2 ;;
    -h | --help) usage 0 ;;
    -*) echo "callcount.sh: unknown option $1" >&2; usage ;;
    *)
        if [[ -z $NATIVE ]]; then NATIVE=$1
        elif [[ -z $WINDOWS ]]; then WINDOWS=$1
        else echo "callcount.sh: too many arguments" >&2; usage
        fi
        shift ;;
    esac
done
[[ -n $NATIVE ]] || usage
source_dir=$(cd "$(dirname "$0")/.." && pwd)

OWN_WORK=0
if [[ -z $WORK ]]; then
    WORK=$(mktemp -d /var/tmp/modextract-callcount.XXXXXX)
    OWN_WORK=1
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd -P)
cleanup() {
    rm -rf "$WORK"/count-dest
    ((OWN_WORK)) && rm -rf "$WORK"
    [[ -z $WINDOWS ]] || "$source_dir/cmake/wine-run.sh" "$WINDOWS/wine" --shutdown
}
trap cleanup EXIT

# The same trees as syscalls.sh makes in the same folder.
source "$(dirname "$0")/realmix.sh"
trees=$(real_mix_trees "$NATIVE/gentrees" "$WORK" "$FILES" "$FOLDER_FILES")
# Warm: every byte of both trees in the page cache.
find "$trees/original" "$trees/modded" -type f -exec cat {} + >/dev/null

win() { echo "Z:$(echo "$1" | tr / '\\')"; }

echo "native:"
rm -rf "$WORK/count-dest"
"$NATIVE/callcount" "$trees/original" "$trees/modded" "$WORK/count-dest"
if [[ -n $WINDOWS ]]; then
    echo "Windows, under Wine:"
    rm -rf "$WORK/count-dest"
    "$source_dir/cmake/wine-run.sh" "$WINDOWS/wine" "$WINDOWS/callcount.exe" "$(win "$trees/original")" \
        "$(win "$trees/modded")" "$(win "$WORK/count-dest")" | tr -d '\r'
fi
