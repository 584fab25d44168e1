#!/bin/sh
# Runs a command with a display of its own: a fresh Xvfb on a free display
# number, ended with the command whatever happens.
#
#   with-xvfb.sh COMMAND [ARGUMENTS...]
#
# A DISPLAY already set is ignored: tests must not draw on a user's screen
# or depend on one.
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 COMMAND [ARGUMENTS...]" >&2
    exit 2
fi

fifo_dir=$(mktemp -d)
mkfifo "$fifo_dir/display"
# 24-bit colour, as the pixel format asks; Composite stays on (the default),
# or Wine cannot show the OpenGL child.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo_dir/display" 2>"$fifo_dir/log" &
xvfb=$!
cleanup() {
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$fifo_dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

number=$(head -n1 <"$fifo_dir/display" || true)
if [ -z "$number" ]; then
    echo "$0: Xvfb did not start:" >&2
    cat "$fifo_dir/log" >&2
    exit 1
fi
export DISPLAY=":$number"
unset XAUTHORITY
status=0
"$@" || status=$?
exit $status
