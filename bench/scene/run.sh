#!/bin/sh
# Runs the scene benchmark under Wine on a display of its own.
#   bench/scene/run.sh BUILD_DIR [FRAMES [IDLE_SECONDS]]
# BUILD_DIR is a Windows build (cmake/mingw-i686.cmake) with scenebench.exe.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
status=0
"$here/../../cmake/with-xvfb.sh" "$here/../../cmake/wine-run.sh" "$build/wine-gui" \
    "$build/scenebench.exe" "$@" || status=$?
"$here/../../cmake/wine-run.sh" "$build/wine-gui" --shutdown
exit $status
