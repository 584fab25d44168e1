#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, and nothing
# when all of it is already there. Run as root (or with sudo available).
#   scripts/setup.sh           native build: compiler, CMake, Ninja, GoogleTest
#   scripts/setup.sh --windows also the Windows cross builds, Wine, a
#                              virtual display and what drives and grabs it,
#                              and the fonts that stand in for Arial and Calibri
set -euo pipefail

want_windows=0
[ "${1:-}" = "--windows" ] && want_windows=1

native=(g++ cmake ninja-build googletest make)
# The 64-bit compiler and GL libraries serve the tests on a machine whose
# kernel runs no 32-bit programs (cmake/wine-arch.sh).
windows=(g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
         wine wine32:i386 wine64 libgl1 libglx-mesa0 libgl1-mesa-dri
         xvfb xauth xdotool x11-utils imagemagick fonts-liberation fonts-crosextra-carlito groff-base
         libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386 libglu1-mesa:i386
         libxcomposite1:i386 libxrandr2:i386 libxinerama1:i386 libxcursor1:i386
         libxi6:i386 libxrender1:i386 libxext6:i386 libfreetype6:i386 libfontconfig1:i386)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

wanted=("${native[@]}")
if [ $want_windows -eq 1 ]; then
  wanted+=("${windows[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_ dpkg --add-architecture i386
    need_update=1
  fi
fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ] && [ -z "${need_update:-}" ]; then
  exit 0
fi
# A mirror that is being synced serves now and then an index that fails
# its check ("Mirror sync in progress?"). apt keeps the lists it had and
# the ones that did come, so the install may still find every package.
retry_pause=${SETUP_RETRY_PAUSE:-30}
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
update_indexes() {
  sudo_ apt-get update -q 2>&1 | tee "$update_log" >&2
  [ "${PIPESTATUS[0]}" -eq 0 ] && ! grep -q '^E: ' "$update_log"
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  updated=1
  if ! update_indexes; then
    echo "setup: apt-get update failed; trying once more in ${retry_pause} s" >&2
    sleep "$retry_pause"
    update_indexes || updated=0
  fi
  failed_index=$(grep -o 'Failed to fetch [^ ]*' "$update_log" | head -n 1 | cut -d' ' -f4 || true)
  if [ $updated -eq 0 ]; then
    echo "setup: going on with the package lists at hand" >&2
  fi
  if ! sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2; then
    if [ $updated -eq 0 ]; then
      echo "setup: cannot install: the package index ${failed_index:-of one repository} failed to download twice;" \
           "that is the package mirror's state (a sync in progress, say), not this project's: run this again later" >&2
    fi
    exit 1
  fi
fi
