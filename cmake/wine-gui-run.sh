#!/bin/sh
# Runs a Windows program with windows under Wine, as wine-run.sh does, and
# then ends every Wine process of its prefix before the display goes.
#
#   wine-gui-run.sh STATE_DIR PROGRAM.exe [ARGUMENTS...]
#
# Run inside with-xvfb.sh. The prefix's services (the desktop process among
# them) are started by the first program that needs them, on that program's
# display, and outlive it; once its Xvfb ends under them, a window test that
# comes while they die can fail to create its window (the likely cause of
# a rare failure seen before this script). Ended here,
# with the display still up, they start afresh on the next test's display.
# The window tests take one lock (tests/CMakeLists.txt), so no other test
# of the prefix runs meanwhile.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
status=0
"$here/wine-run.sh" "$@" || status=$?
"$here/wine-run.sh" "$1" --shutdown
exit $status
