#!/usr/bin/env bash
# Builds and runs every test: the native build, the engine and command-line
# tests again under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, then the 32-bit Windows build under Wine.
# Installs what is missing first. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --windows

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DENGINE_CHECKS=ON >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure --no-tests=error -j2

# The threads of the walk, the comparers and the copiers, checked as they
# run: a race or a bad access that a plain run survives fails here. -O1
# keeps the runs short; vptr checks need RTTI, which the project builds
# without.
sanitized() {  # sanitized BUILD_DIR FLAGS
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
        -DCMAKE_CXX_FLAGS="$2 -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS="$2" -DBUILD_TESTING=ON -DENGINE_CHECKS=ON >/dev/null
  cmake --build "$1" --target engine_tests
  echo "engine tests built with $2"
  TSAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 "$1/tests/engine_tests" --gtest_brief=1
}
sanitized build/tsan "-fsanitize=thread"
sanitized build/asan "-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all"

NATIVE_MODEXTRACT="$PWD/build/native/modextract" scripts/test-windows.sh build/windows
