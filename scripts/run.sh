#!/usr/bin/env bash
# Builds everything and opens the window program under Wine when there is a
# display; otherwise runs the command-line example and says how to open it.
# Installs what is missing first. The Wine prefix is the Windows build's own
# (build/windows/wine-gui), with Arial and Calibri mapped to their
# metric-compatible stand-ins, so that the window looks as on Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --windows

cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/windows --target ModExtractor modextract >/dev/null

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "opening ModExtractor.exe under Wine on $DISPLAY (close the window to end)"
  trap 'cmake/wine-run.sh build/windows/wine-gui --shutdown' EXIT
  cmake/wine-run.sh build/windows/wine-gui build/windows/ModExtractor.exe
  exit 0
fi

scripts/run-example.sh
cat <<'HINT'

No display here, so the window was not opened. To see it, run this again
with DISPLAY set to an X display, or on a virtual one and take a picture:
    cmake/with-xvfb.sh bash -c 'cmake/wine-run.sh build/windows/wine-gui \
        build/windows/ModExtractor.exe & sleep 15; import -window root shot.png; kill %1'
HINT
