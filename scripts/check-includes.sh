#!/usr/bin/env bash
# Fails when a library folder (or its test folder) includes a header of a folder above it.
# The layering is read from the kv_library lines of the top CMakeLists.txt, so the order
# is written down once: a folder may include itself and the folders its library links.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A folder_of deps allowed
order=()
while read -r lib folder rest; do
  folder_of[$lib]=$folder
  order+=("$folder")
  deps[$folder]=""
  for d in $rest; do
    [ -n "${folder_of[$d]:-}" ] && deps[$folder]+=" ${folder_of[$d]}"
  done
done < <(sed -n 's/^kv_library(\([^)]*\)).*/\1/p' CMakeLists.txt)

# A library links only folders listed before it, so one pass in order closes the set.
for f in "${order[@]}"; do
  set_="$f"
  for d in ${deps[$f]}; do set_+=" ${allowed[$d]}"; done
  allowed[$f]=" $(tr ' ' '\n' <<<"$set_" | sort -u | tr '\n' ' ')"
done

# The folder a quoted include names (a test folder's helper headers go by the same names).
target_folder() {
  local top=${1%%/*}
  if [ -n "${allowed[$top]:-}" ]; then echo "$top"; fi
}

status=0
for f in "${order[@]}"; do
  for dir in "$f" "tests/$f"; do
    [ -d "$dir" ] || continue
    while IFS=: read -r file line text; do
      inc=$(sed -n 's/.*#include "\([^"]*\)".*/\1/p' <<<"$text")
      to=$(target_folder "$inc")
      [ -n "$to" ] || continue
      case "${allowed[$f]}" in
        *" $to "*) ;;
        *) echo "$file:$line: $f may not include $inc ($to lies above it)"; status=1 ;;
      esac
    done < <(grep -rn --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include "' "$dir" || true)
  done
done
[ $status -eq 0 ] && echo "includes: every folder includes only itself and the folders below it"
exit $status
