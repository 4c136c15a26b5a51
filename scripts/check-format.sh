#!/usr/bin/env bash
# Fails when a C or C++ source is not laid out as .clang-format says.
# Changes nothing; names each file that differs and how many lines would change.
#   scripts/check-format.sh [FILE|FOLDER...]   (default: every .c, .cpp and .h of the repository)
# Uses clang-format (Debian 12: version 14, installed by scripts/bootstrap.sh);
# another major version may lay some lines out differently.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "check-format: error: $*" >&2; exit 2; }

command -v clang-format >/dev/null || fail "clang-format is not installed (run scripts/bootstrap.sh)"
[ -f "$root/.clang-format" ] || fail "$root/.clang-format is missing"
[ $# -gt 0 ] || set -- "$root"

files=()
for arg in "$@"; do
  [ -e "$arg" ] || fail "$arg: no such file or folder"
  if [ -d "$arg" ]; then
    while IFS= read -r -d '' f; do files+=("$f"); done < <(
      find "$arg" \( -name '.*' -o -name 'build*' \) -prune -o -type f \
        \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
  else
    case "$arg" in *.c|*.cpp|*.h) files+=("$arg") ;; *) fail "$arg: not a .c, .cpp or .h file" ;; esac
  fi
done
[ ${#files[@]} -gt 0 ] || fail "no C or C++ sources in $*"

formatted=$(mktemp)
trap 'rm -f "$formatted"' EXIT
differ=0
for f in "${files[@]}"; do
  # The file's own folder decides which .clang-format applies.
  clang-format --style=file "$f" >"$formatted" || fail "clang-format could not format $f"
  lines=$(diff "$f" "$formatted" | grep -c '^[<>]' || true)
  if [ "$lines" -gt 0 ]; then
    echo "check-format: $f: $lines lines would change (clang-format -i $f)"
    differ=$((differ + 1))
  fi
done
echo "check-format: ${#files[@]} files, $differ not formatted"
[ $differ -eq 0 ]
