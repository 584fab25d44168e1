#!/bin/sh
# Runs a Windows program under Wine for ctest and CMake.
#
#   wine-run.sh STATE_DIR PROGRAM.exe [ARGUMENTS...]
#   wine-run.sh STATE_DIR --shutdown
#
# STATE_DIR (the build tree's "wine" folder) holds the Wine prefix, a home
# folder of its own and the lock that guards the prefix's creation, so
# nothing outside the build tree is read or written, and build trees do
# not share a wineserver. --shutdown ends every Wine process of the prefix.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 STATE_DIR PROGRAM [ARGUMENTS...] | $0 STATE_DIR --shutdown" >&2
    exit 2
fi
state=$1
shift
if [ "$1" = "--shutdown" ] && [ ! -d "$state/prefix" ]; then
    exit 0  # no prefix, so no Wine process of it either
fi
mkdir -p "$state/home"
state=$(cd "$state" && pwd)

# A 32-bit prefix where the kernel runs 32-bit programs, else a 64-bit
# one with Wine's 64-bit loader and server called directly: Debian's
# wrappers pick the 32-bit loader whenever it is installed, runnable or not.
WINEARCH=$("$(dirname "$0")/wine-arch.sh")
if [ "$WINEARCH" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
    WINE=${WINE:-/usr/lib/wine/wine64}
    WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
fi
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}

# Wine reads the Unix arguments and file names in the Unix locale's
# character set: UTF-8, so that every name reaches a program exactly.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*UTF-8* | *utf8* | *UTF8* | *utf-8*) ;;
*) export LC_ALL=C.UTF-8 ;;
esac

export WINEPREFIX="$state/prefix"
export WINEARCH
# WINE_RUN_DEBUG adds channels (the benchmarks' "+fps" counts the swaps).
export WINEDEBUG=-all${WINE_RUN_DEBUG:+,$WINE_RUN_DEBUG}
# No Mono or Gecko installers, and no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine links the prefix's user folders to the home folder's and writes
# desktop files under it.
export HOME="$state/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache"

if [ "$1" = "--shutdown" ]; then
    "$WINESERVER" -k 2>/dev/null || true  # fails only when no server runs
    "$WINESERVER" -w 2>/dev/null || true
    exit 0
fi

# Creating a prefix takes several seconds, and parallel tests may all
# arrive at once: the first one builds it under the lock, the others wait.
# The lock's descriptor is closed for Wine, or the wineserver that
# wineboot starts would hold the lock as long as it lives.
if [ ! -e "$state/prefix.ready" ]; then
    exec 9>"$state/prefix.lock"
    flock 9
    if [ ! -e "$state/prefix.ready" ]; then
        rm -rf "$WINEPREFIX"
        if ! "$WINE" wineboot -i >"$state/prefix.log" 2>&1 9>&-; then
            echo "$0: creating the Wine prefix failed, see $state/prefix.log" >&2
            exit 1
        fi
        # Arial and Calibri by their metric-compatible stand-ins, no theme
        # (it would paint the progress bar blue), and captions drawn by Wine
        # itself, so that the window looks and behaves as on Windows.
        reg="Z:$(cd "$(dirname "$0")" && pwd | tr / '\\')\\wine-prefix.reg"
        if ! "$WINE" reg import "$reg" >>"$state/prefix.log" 2>&1 9>&-; then
            echo "$0: setting up the Wine prefix failed, see $state/prefix.log" >&2
            exit 1
        fi
        touch "$state/prefix.ready"
    fi
    exec 9>&-
fi

# When its last program ends, a wineserver stops the prefix's services at
# once, and the next program waits over a second for them to start again:
# a server that lingers a while lets tests run one after another at full
# speed. Starting it fails harmlessly when one is running already.
"$WINESERVER" -p10 </dev/null >/dev/null 2>&1 || true

if [ -t 1 ] && [ -t 2 ]; then
    exec "$WINE" "$@"
fi

# The prefix's services, started by whichever program needs them first,
# inherit that program's output descriptors and keep them open while they
# live; ctest and CMake wait for the end of a test's output, so they would
# wait for the services too. The program therefore writes to two unlinked
# files, which are passed on once it has ended.
out=$(mktemp "$state/out.XXXXXX")
err=$(mktemp "$state/err.XXXXXX")
exec 3>"$out" 4<"$out" 5>"$err" 6<"$err"
rm -f "$out" "$err"
status=0
"$WINE" "$@" >&3 2>&5 3>&- 4>&- 5>&- 6>&- || status=$?
exec 3>&- 5>&-
cat <&4
cat <&6 >&2
exit $status
