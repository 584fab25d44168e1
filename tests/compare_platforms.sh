#!/usr/bin/env bash
# Runs the native modextract and modextract.exe under Wine on the same pair
# of trees and checks that both pick the same files and extract the same mod.
#   compare_platforms.sh NATIVE_MODEXTRACT WINDOWS_MODEXTRACT WINE_RUN WINE_STATE
set -euo pipefail
export LC_ALL=C.UTF-8  # names are UTF-8 bytes; sorted by code point
native=$1 windows=$2 wine_run=$3 wine_state=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
o=$work/original m=$work/modded
mkdir -p "$o" "$m"

put() { mkdir -p "$(dirname "$1")"; printf "$2" > "$1"; }
# Both trees: unchanged, nested, empty.
for tree in "$o" "$m"; do
  put "$tree/root.txt" 'same at the root\n'
  put "$tree/Textures/Walls/Stone/stone.dds" 'DDS stone\n'
  put "$tree/Meshes/empty.nif" ''
  put "$tree/Meshes/was-empty.nif" ''
  put "$tree/Meshes/gets-emptied.nif" 'vertices\n'
  put "$tree/Sounds/wind.wav" 'RIFF wind loop\n'
  head -c 3000000 /dev/zero | tr '\0' 'x' > "$tree/Sounds/big.wav"
  put "$tree/Lódz.esp" 'same\n'
  put "$tree/Łódź.esp" 'before\n'
done
# Names outside every code page, and one of a best-fit pair changed.
put "$m/Łódź.esp" 'after\n'
put "$m/Textures/Кириллица/日本語😀.dds" 'DDS\n'
# Changed: same size, other size, emptied, filled, a byte in the third MiB.
put "$m/root.txt" 'SAME at the root\n'
put "$m/Sounds/wind.wav" 'RIFF wind loop, longer\n'
put "$m/Meshes/gets-emptied.nif" ''
put "$m/Meshes/was-empty.nif" 'now filled\n'
printf 'y' | dd of="$m/Sounds/big.wav" bs=1 seek=2500000 conv=notrunc status=none
# New: in existing folders, in new nested ones, and empty.
put "$m/Textures/Walls/brick.dds" 'DDS brick\n'
put "$m/Textures/Armor/Plate/Gold/plate.dds" 'DDS plate\n'
put "$m/Scripts/new-empty.txt" ''

to_windows() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# The lists come sorted by path, the same on both platforms: compared as they are.
"$native" -q -n "$o" "$m" "$work/native" > "$work/native.lines"
"$wine_run" "$wine_state" "$windows" -q -n "$(to_windows "$o")" "$(to_windows "$m")" "$(to_windows "$work/windows")" \
  | tr -d '\r' | tr '\\' '/' > "$work/windows.lines"
# The real runs list their copies (-v) as the dry runs did; Windows with
# '\' between names, which no Windows name holds, so '/' makes it alike.
"$native" -q --verb "$o" "$m" "$work/native" > "$work/native.copied"
"$wine_run" "$wine_state" "$windows" -q --verb "$(to_windows "$o")" "$(to_windows "$m")" "$(to_windows "$work/windows")" \
  | tr -d '\r' | tr '\\' '/' > "$work/windows.copied"

status=0
expected=$'M Meshes/gets-emptied.nif\nM Meshes/was-empty.nif\nA Scripts/new-empty.txt\nM Sounds/big.wav\nM Sounds/wind.wav\nA Textures/Armor/Plate/Gold/plate.dds\nA Textures/Walls/brick.dds\nA Textures/Кириллица/日本語😀.dds\nM root.txt\nM Łódź.esp'
if [ "$(cat "$work/native.lines")" != "$expected" ]; then
  echo "native dry run differs from what the trees hold:"; diff <(echo "$expected") "$work/native.lines" || true; status=1
fi
if ! diff -u "$work/native.lines" "$work/windows.lines"; then
  echo "the two dry runs differ"; status=1
fi
if ! diff -u "$work/native.lines" "$work/native.copied" || ! diff -u "$work/windows.lines" "$work/windows.copied"; then
  echo "a real run with -v lists other files than its dry run"; status=1
fi
if ! diff -r "$work/native" "$work/windows"; then
  echo "the two extracted mods differ"; status=1
fi
[ $status -eq 0 ] && echo "both platforms extracted the same $(wc -l < "$work/native.lines") files"
exit $status
