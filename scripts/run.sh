#!/usr/bin/env bash
# Builds everything and opens the window program under Wine when there is a
# display; otherwise runs the command-line example and says how to open it.
# Installs what is missing first. The Wine prefix is the Windows build's own
# (build/windows/wine-gui), with Arial and Calibri mapped to their
# metric-compatible stand-ins, so that the window looks as on Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --windows

# Where the kernel runs no 32-bit programs (cmake/wine-arch.sh), the
# window opens from the same sources built for 64-bit Windows.
tree=build/windows toolchain=cmake/mingw-i686.cmake
if [ "$(cmake/wine-arch.sh)" = win64 ]; then
  tree=build/windows-64 toolchain=cmake/mingw-x86_64.cmake
fi
cmake -S . -B $tree -G Ninja -DCMAKE_TOOLCHAIN_FILE=$toolchain >/dev/null
cmake --build $tree --target ModExtractor modextract >/dev/null

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "opening ModExtractor.exe under Wine on $DISPLAY (close the window to end)"
  trap "cmake/wine-run.sh $tree/wine-gui --shutdown" EXIT
  cmake/wine-run.sh $tree/wine-gui $tree/ModExtractor.exe
  exit 0
fi

scripts/run-example.sh
cat <<'HINT'

No display here, so the window was not opened. To see it, run this again
with DISPLAY set to an X display, or on a virtual one and take a picture:
    cmake/with-xvfb.sh bash -c 'cmake/wine-run.sh build/windows/wine-gui \
        build/windows/ModExtractor.exe & sleep 15; import -window root shot.png; kill %1'
HINT
