#!/bin/sh
# Compares the scene frames that display_tests wrote with the committed
# references: each may differ in at most 0.5% of its pixels, a pixel counting
# when a channel is off by more than 6%. Needs ImageMagick's compare.
#
#   compare_frames.sh REFERENCE_DIR FRAMES_DIR
set -eu
references=$1
frames=$2
status=0
for reference in "$references"/*.png; do
    name=$(basename "$reference" .png)
    frame="$frames/reference-$name.bmp"
    if [ ! -f "$frame" ]; then
        echo "$name: no frame $frame" >&2
        status=1
        continue
    fi
    size=$(identify -format '%w %h' "$reference")
    pixels=$(echo "$size" | awk '{ print $1 * $2 }')
    # compare prints the count of differing pixels on stderr and exits 1 when
    # there are any; only a size mismatch or a bad file is an error here.
    differing=$(compare -metric AE -fuzz 6% "$reference" "$frame" null: 2>&1) || true
    case $differing in
        ''|*[!0-9]*) echo "$name: cannot compare: $differing" >&2; status=1; continue ;;
    esac
    limit=$((pixels / 200))
    echo "$name: $differing of $pixels pixels differ (at most $limit)"
    if [ "$differing" -gt "$limit" ]; then
        status=1
    fi
done
exit $status
