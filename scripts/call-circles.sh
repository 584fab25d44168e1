#!/usr/bin/env bash
# Looks for circles of calls between the engine's files: from what each
# engine object file defines and what it needs (nm), which file calls into
# which; prints every group of files that call each other round in a circle,
# and exits 1 when there is one.
#   scripts/call-circles.sh BUILD_DIR [NM]
# BUILD_DIR is a native or a Windows build (NM: i686-w64-mingw32-nm for the
# latter); the engine's objects are under BUILD_DIR/CMakeFiles/engine.dir.
set -euo pipefail
build_dir=${1:?usage: $0 BUILD_DIR [NM]}
nm=${2:-nm}
objects=$(find "$build_dir/CMakeFiles/engine.dir" -name '*.o' -o -name '*.obj' | sort)
[ -n "$objects" ] || { echo "call-circles.sh: no engine objects in $build_dir" >&2; exit 2; }
for object in $objects; do
  name=$(basename "$object"); name=${name%.cpp.o*}; name=${name%.cpp.obj}
  # Defined: code and data a file makes for others; weak (inline, templates) left out.
  "$nm" -g --defined-only "$object" | awk -v f="$name" '$2 ~ /^[TDBR]$/ {print "D", f, $3}'
  "$nm" -g --undefined-only "$object" | awk -v f="$name" '{print "U", f, $NF}'
done | awk '
  $1 == "D" { home[$3] = $2; next }
  { need[++n] = $2 " " $3 }
  END {
    for (i = 1; i <= n; ++i) {
      split(need[i], p, " ")
      if ((p[2] in home) && home[p[2]] != p[1]) edge[p[1] " " home[p[2]]] = 1
    }
    for (e in edge) { split(e, p, " "); files[p[1]] = 1; files[p[2]] = 1; calls[p[1]] = calls[p[1]] " " p[2] }
    # Reachability by repeated widening; a file that reaches one that reaches it back is in a circle.
    for (f in files) { reach[f] = calls[f] " " }
    changed = 1
    while (changed) {
      changed = 0
      for (f in files) {
        m = split(reach[f], r, " ")
        for (j = 1; j <= m; ++j) {
          k = split(calls[r[j]], c, " ")
          for (q = 1; q <= k; ++q) if (index(reach[f], " " c[q] " ") == 0) { reach[f] = reach[f] c[q] " "; changed = 1 }
        }
      }
    }
    found = 0
    for (f in files) for (g in files) if (f < g && index(" " reach[f], " " g " ") && index(" " reach[g], " " f " ")) {
      print "circle: " f " <-> " g; found = 1
    }
    exit found
  }'
echo "no circle of calls between the engine's files"
