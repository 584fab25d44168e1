#!/usr/bin/env bash
# Builds the 32-bit Windows programs with MinGW-w64 and runs the tests under
# Wine, in a Wine prefix of the build tree's own (made on the first run).
#   [NATIVE_MODEXTRACT=path] scripts/test-windows.sh BUILD_DIR [CTEST_ARGUMENTS...]
# On a machine whose kernel runs no 32-bit programs (cmake/wine-arch.sh),
# no 32-bit Windows program can start under Wine: the 32-bit programs are
# still built in BUILD_DIR, and the tests run on the same sources built for
# 64-bit Windows in BUILD_DIR-64, under 64-bit Wine.
# Needs what `scripts/setup.sh --windows` installs. Ends with no Wine
# process of the build tree left running, whatever happened.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [CTEST_ARGUMENTS...]" >&2
  exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$1
shift

if [ "$("$source_dir/cmake/wine-arch.sh")" = win64 ]; then
  echo "test-windows: this machine runs no 32-bit programs; building the 32-bit programs in $build_dir," \
       "and testing the same sources built for 64-bit Windows in $build_dir-64" >&2
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake"
  cmake --build "$build_dir"
  build_dir=$build_dir-64
  toolchain=$source_dir/cmake/mingw-x86_64.cmake
else
  toolchain=$source_dir/cmake/mingw-i686.cmake
fi

trap '"$source_dir/cmake/wine-run.sh" "$build_dir/wine" --shutdown; "$source_dir/cmake/wine-run.sh" "$build_dir/wine-gui" --shutdown' EXIT

# With NATIVE_MODEXTRACT set, modextract.exe is also checked against it.
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DNATIVE_MODEXTRACT="${NATIVE_MODEXTRACT:-}" -DENGINE_CHECKS=ON
cmake --build "$build_dir"
# The tests that open windows (label "window") run one at a time, each
# ending its prefix's Wine processes while its display is still up
# (cmake/wine-gui-run.sh): a desktop process left on a display that had
# gone is the likely reason why a window test now and then could not create
# its window. Until that has held for a good many runs, a window test that
# fails is run once more; nothing else is repeated, here or natively.
status=0
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)" -LE window "$@" || status=$?
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)" -L window \
      --repeat until-pass:2 "$@" || status=$?
exit $status
