#!/usr/bin/env bash
# Lists the functions of the product's code that pass a size: more than
# MAX_LINES lines from signature to closing brace, or more than MAX_PARAMS
# parameters; exits 1 when there is one. Needs Universal Ctags.
#   scripts/function-sizes.sh [MAX_LINES [MAX_PARAMS]]
set -euo pipefail
cd "$(dirname "$0")/.."
max_lines=${1:-80}
max_params=${2:-6}
files=$(find engine cli shell display appstate -name '*.cpp' -o -name '*.h' | sort)
# shellcheck disable=SC2086
ctags -f - --sort=no --c++-kinds=f --fields=+neS --language-force=C++ $files |
  awk -F'\t' -v max_lines="$max_lines" -v max_params="$max_params" '
    {
      line = 0; end = 0; signature = ""
      for (i = 4; i <= NF; ++i) {
        if ($i ~ /^line:/) line = substr($i, 6)
        else if ($i ~ /^end:/) end = substr($i, 5)
        else if ($i ~ /^signature:/) signature = substr($i, 11)
      }
      params = 0
      inner = signature; sub(/^\(/, "", inner); sub(/\)[^)]*$/, "", inner)
      if (inner != "" && inner != "void") {
        depth = 0; params = 1
        for (c = 1; c <= length(inner); ++c) {
          ch = substr(inner, c, 1)
          if (ch == "(" || ch == "<" || ch == "[") ++depth
          else if (ch == ")" || ch == ">" || ch == "]") --depth
          else if (ch == "," && depth == 0) ++params
        }
      }
      lines = end ? end - line + 1 : 0
      if (lines > max_lines || params > max_params) {
        printf "%s:%d: %s: %d lines, %d parameters\n", $2, line, $1, lines, params
        found = 1
      }
    }
    END { exit found ? 1 : 0 }'
