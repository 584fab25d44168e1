#!/usr/bin/env bash
# Builds modextract and runs it on the sample trees in examples/: first a
# dry run listing what differs, then the real extraction into build/example-mod.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native --target modextract >/dev/null

destination=build/example-mod
rm -rf "$destination"
echo "== what differs (modextract --dry-run) =="
build/native/modextract --dry-run examples/original examples/modded "$destination"
echo "== extracting =="
build/native/modextract examples/original examples/modded "$destination"
echo "== extracted files =="
(cd "$destination" && find . -type f | sort)
