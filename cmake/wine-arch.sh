#!/bin/sh
# Prints the Wine architecture this machine can run the Windows programs
# in: "win32" when its kernel runs 32-bit programs (Wine's 32-bit loader
# starts), else "win64". Some kernels are built without 32-bit support
# (no IA-32 emulation): there, no 32-bit Windows program can run under
# Wine at all, and the tests run on the same sources built for 64-bit
# Windows instead (scripts/test-windows.sh). WINEARCH, when set, wins.
if [ -n "${WINEARCH:-}" ]; then
    echo "$WINEARCH"
elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
else
    echo win64
fi
