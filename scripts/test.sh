#!/usr/bin/env bash
# Builds and runs every test: the native build, then the 32-bit Windows
# build under Wine. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --windows

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure --no-tests=error -j2

NATIVE_MODEXTRACT="$PWD/build/native/modextract" scripts/test-windows.sh build/windows
