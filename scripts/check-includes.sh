#!/usr/bin/env bash
# Fails when a library folder (or its test folder) includes a header of a folder above it.
# The layering is read from the kv_library lines of the top CMakeLists.txt, so the order
# is written down once: a folder may include itself and the folders its library links.
# One grep lists every include of the tree and one awk judges them all, so the check
# takes well under a second; quoted, angled and "../"-relative spellings are all judged.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=$(sed -n 's/^kv_library(\([^)]*\)).*/\1/p' CMakeLists.txt)
folders=$(awk '{ print $2 }' <<<"$layers" | tr '\n' ' ')
dirs=()
for f in $folders; do
  [ -d "$f" ] && dirs+=("$f")
  [ -d "tests/$f" ] && dirs+=("tests/$f")
done

grep -rnH --include='*.cpp' --include='*.h' -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "${dirs[@]}" |
  awk -v layers="$layers" '
    BEGIN {
      # A library links only folders listed before it, so one pass in order closes the set.
      n = split(layers, lines, "\n")
      for (i = 1; i <= n; i++) {
        k = split(lines[i], w, " ")
        lib = w[1]; folder = w[2]; folder_of[lib] = folder
        allowed[folder, folder] = 1
        for (j = 3; j <= k; j++) {
          if (!(w[j] in folder_of)) continue
          d = folder_of[w[j]]
          for (key in allowed) {
            split(key, pair, SUBSEP)
            if (pair[1] == d) allowed[folder, pair[2]] = 1
          }
        }
        known[folder] = 1
      }
      status = 0
    }
    {
      file = $0; sub(/:.*/, "", file)
      rest = substr($0, length(file) + 2); line = rest; sub(/:.*/, "", line)
      text = substr(rest, length(line) + 2)
      if (!match(text, /include[[:space:]]*["<][^">]*[">]/)) next
      inc = substr(text, RSTART, RLENGTH); sub(/^include[[:space:]]*["<]/, "", inc); sub(/[">]$/, "", inc)
      while (inc ~ /^(\.\.?\/)+/) sub(/^\.\.?\//, "", inc)
      to = inc; sub(/\/.*/, "", to)
      if (to == inc || !(to in known)) next
      from = file; sub(/^tests\//, "", from); sub(/\/.*/, "", from)
      if (!((from, to) in allowed)) {
        printf "%s:%s: %s may not include %s (%s lies above it)\n", file, line, from, inc, to
        status = 1
      }
    }
    END {
      if (status == 0) print "includes: every folder includes only itself and the folders below it"
      exit status
    }'
