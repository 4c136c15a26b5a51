#!/usr/bin/env bash
# Fails when the installer's sources call a string function that does not
# take the destination's size (or does not always terminate). The installer
# fills its fixed buffers only through platform/bounded_text.h.
#   scripts/check-banned.sh [ROOT]     (default: the repository)
# Looks at app/, package/, setup/ and platform/ under ROOT; text after //
# is not code and is not looked at.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

banned=(
  strcpy strcat sprintf vsprintf gets strncpy strncat
  wcscpy wcscat swprintf vswprintf _snprintf _snwprintf
  lstrcpy lstrcpyA lstrcpyW lstrcat lstrcatA lstrcatW lstrcpyn lstrcpynA lstrcpynW
  wsprintf wsprintfA wsprintfW wvsprintf wvsprintfA wvsprintfW
  StrCpy StrCpyA StrCpyW StrCpyN StrCpyNA StrCpyNW StrCat StrCatA StrCatW StrCatBuff StrCatBuffA StrCatBuffW
  StrNCat StrNCatA StrNCatW
  _tcscpy _tcscat _tcsncpy _tcsncat _stprintf _mbscpy _mbscat _mbsncpy
)
pattern="(^|[^A-Za-z0-9_])($(IFS='|'; echo "${banned[*]}"))[[:space:]]*\\("

folders=()
for f in app package setup platform; do [ -d "$root/$f" ] && folders+=("$root/$f"); done
if [ ${#folders[@]} -eq 0 ]; then
  echo "check-banned: no source folders under $root" >&2
  exit 2
fi

found=0
while IFS= read -r -d '' file; do
  # Line numbers stay; only the comment part of each line is blanked.
  hits=$(sed -e 's://.*$::' "$file" | grep -nE "$pattern" || true)
  if [ -n "$hits" ]; then
    while IFS= read -r hit; do echo "${file#"$root"/}:$hit"; done <<<"$hits"
    found=1
  fi
done < <(find "${folders[@]}" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.inc' -o -name '*.rc' \) -print0)

if [ $found -ne 0 ]; then
  echo "check-banned: unbounded string functions found (use platform/bounded_text.h)" >&2
  exit 1
fi
echo "check-banned: none of ${#banned[@]} unbounded string functions in ${folders[*]#"$root"/}"
