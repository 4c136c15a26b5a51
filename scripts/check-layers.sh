#!/usr/bin/env bash
# Fails when an include of the installer's sources runs back up the floors
# platform -> package -> setup -> app: each folder may include its own
# headers and those of the floors below it, never one above.
#   scripts/check-layers.sh [ROOT]     (default: the repository)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
floors=(platform package setup app)
rank() { local i; for i in "${!floors[@]}"; do [ "${floors[$i]}" = "$1" ] && echo "$i" && return; done; echo -1; }

found=0
for floor in "${floors[@]}"; do
  [ -d "$root/$floor" ] || continue
  own=$(rank "$floor")
  while IFS=: read -r file line text; do
    target=$(sed -E 's|.*#include[[:space:]]+"([a-z_]+)/.*|\1|' <<<"$text")
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "check-layers: ${file#"$root"/}:$line includes $target/ from $floor/ (above it)"
      found=1
    fi
  done < <(grep -rnE '^[[:space:]]*#include[[:space:]]+"[a-z_]+/' "$root/$floor" || true)
done
exit $found
