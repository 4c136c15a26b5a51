#!/usr/bin/env bash
# Measures the test suite by the faults it catches: puts each fault of the
# list (scripts/seeded-faults.txt) into the product code in turn, rebuilds
# incrementally, runs the whole suite until its first failure, and puts the
# file back from a saved copy (also on Ctrl-C or an error).
#   scripts/seeded-faults.sh [--build DIR] [--only ID...] [--list FILE]
# Writes the table to DIR/seeded-faults.txt and each fault's log to
# DIR/seeded-faults/ID.log. The suite must pass without a fault first.
# Results: KILLED (first failing test named), SURVIVED, BUILD-FAILED,
# NOT-APPLICABLE (old text not exactly once in its file), UNCONFIRMED (only
# failures that did not repeat when the failing test ran alone). An --only ID
# that the list does not hold is refused before anything is built or run.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
list=$here/scripts/seeded-faults.txt
only=()
usage_error() { echo "seeded-faults: error: $* (usage: $0 [--build DIR] [--only ID...] [--list FILE])" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --build|--list) [ $# -ge 2 ] || usage_error "$1 needs a value" ;;&
    --build) build=$(realpath -m -- "$2"); shift 2 ;;
    --list) list=$(realpath -m -- "$2"); shift 2 ;;
    --only)
      shift
      while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do only+=("$1"); shift; done
      [ ${#only[@]} -gt 0 ] || usage_error "--only needs at least one fault id" ;;
    *) usage_error "unknown argument '$1'" ;;
  esac
done
[ -f "$list" ] || usage_error "$list: no such list"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
saved=$work/saved
current=""  # the file that holds a fault right now
restore() { if [ -n "$current" ]; then cat "$saved" > "$current" && current=""; fi; }

# Exact replacement: "apply ID" exits 3 when the fault's old text does not
# occur exactly once in its file; "list" prints "id file" per fault.
cat > "$work/faults.py" <<'EOF'
import sys
def faults(path):
    out, f = [], None
    for line in open(path, encoding="utf-8").read().split("\n"):
        if line.startswith("## "):
            f = {"id": line[3:].split(":", 1)[0].strip(), "file": "", "old": [], "new": []}
            out.append(f)
        elif f is not None and line.split(":", 1)[0] in ("file", "old", "new") and ":" in line:
            key, text = line.split(":", 1)
            text = text[1:] if text.startswith(" ") else text
            if key == "file": f["file"] = text.strip()
            else: f[key].append(text)
    return out
mode, path = sys.argv[1], sys.argv[2]
all_faults = faults(path)
if mode == "list":
    for f in all_faults: print(f["id"], f["file"])
    sys.exit(0)
f = next(f for f in all_faults if f["id"] == sys.argv[3])
target = sys.argv[4]
old, new = "\n".join(f["old"]), "\n".join(f["new"])
try:
    text = open(target, encoding="utf-8", newline="").read()
except OSError as e:
    print(e); sys.exit(3)
count = text.count(old) if old else 0
if count != 1:
    print("old text occurs %d times" % count); sys.exit(3)
open(target, "w", encoding="utf-8", newline="").write(text.replace(old, new))
EOF
# A typo in --only would silently run fewer faults than asked.
for id in "${only[@]}"; do
  python3 "$work/faults.py" list "$list" | cut -d' ' -f1 | grep -qxF -- "$id" ||
    { echo "seeded-faults: error: unknown fault id '$id' (not in $list)" >&2; exit 2; }
done

# One virtual display for the window tests, as scripts/test.sh does.
source "$here/scripts/display.sh"
start_display
finish() {
  restore
  stop_wine_and_display "$build"
  rm -rf "$work"
}
trap finish EXIT

# Each long step runs in a process group of its own (set -m) and is waited
# for with wait, which an interrupt cuts short: the trap ends the step's
# whole group at once (the suite, the tests' Wine processes, builds) and the
# exit puts the file back.
set -m
exec 9>&2  # the terminal, for the trap, which may run while a step's output goes to a log
step_pid=""
step() { "$@" < /dev/null & step_pid=$!; wait "$step_pid"; local rc=$?; step_pid=""; return $rc; }
interrupted() {
  [ -n "$step_pid" ] && kill -TERM -- "-$step_pid" 2>/dev/null
  echo "interrupted: file restored" >&9
  exit 130
}
trap interrupted INT TERM

build_tree() { step nice -n 10 cmake --build "$build"; }
# Runs the suite, appending to log $1; sets first to the first failing
# test's name, or empty when all passed.
run_suite() {
  # A fault can leave an installer waiting in a prefix (a test that timed
  # out, or that ctest stopped, never ends what it started): each run starts
  # with none.
  stop_wine "$build"
  # The layout check is left out: a fault's own layout is no catch.
  step nice -n 10 ctest --test-dir "$build" -j2 --stop-on-failure --timeout 300 --output-on-failure \
    -E '^host\.sources_are_formatted$' > "$work/ctest.log" 2>&1
  local rc=$?
  cat "$work/ctest.log" >> "$1"
  first=$(grep -m1 '\*\*\*' "$work/ctest.log" | sed -n 's/.*Test *#[0-9]*: *\([^ ]*\) .*/\1/p')
  [ $rc -eq 0 ] && first="" || first=${first:-ctest-exit-$rc}
}
# Sets result and detail for the fault in place. A failure counts only when
# the failing test fails again on its own; a test that fails once but passes
# alone (a flaky test under load) earns the suite one more full run.
judge() {
  local note=""
  for _ in 1 2; do
    run_suite "$1"
    if [ -z "$first" ]; then result=SURVIVED detail=$note; return; fi
    stop_wine "$build"
    if step nice -n 10 ctest --test-dir "$build" -R "^$first\$" --timeout 300 --output-on-failure >> "$1" 2>&1; then
      note+="$first failed, then passed alone; "
    else
      result=KILLED detail=$first; return
    fi
  done
  result=UNCONFIRMED detail=$note
}

cd "$here"
step nice -n 10 cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
mkdir -p "$build/seeded-faults"
echo "baseline: building and running the suite without a fault"
build_tree > "$build/seeded-faults/baseline.log" 2>&1 || { echo "baseline build failed" >&2; exit 1; }
judge "$build/seeded-faults/baseline.log"
[ "$result" != KILLED ] || { echo "the suite fails without a fault ($detail): fix that first" >&2; exit 1; }
[ -z "$detail" ] || echo "baseline: $detail"

table=$build/seeded-faults.txt
: > "$table"
total=0 killed=0 survived=0 broken=0 skipped=0 unconfirmed=0 survivors=()
start_all=$SECONDS
while read -r id file; do
  if [ ${#only[@]} -gt 0 ] && ! printf '%s\n' "${only[@]}" | grep -qxF -- "$id"; then continue; fi
  total=$((total + 1))
  log=$build/seeded-faults/$id.log
  start=$SECONDS
  if [ -f "$here/$file" ]; then cp -p "$here/$file" "$saved"; current=$here/$file; fi
  if ! python3 "$work/faults.py" apply "$list" "$id" "$here/$file" > "$log" 2>&1; then
    result="NOT-APPLICABLE" detail=$(cat "$log"); skipped=$((skipped + 1))
  elif ! build_tree >> "$log" 2>&1; then
    result="BUILD-FAILED" detail=""; broken=$((broken + 1))
  else
    judge "$log"
    case $result in
      KILLED) killed=$((killed + 1)) ;;
      SURVIVED) survived=$((survived + 1)) survivors+=("$id") ;;
      *) unconfirmed=$((unconfirmed + 1)) ;;
    esac
  fi
  restore
  line=$(printf '%-32s %-15s %-45s %4ds' "$id" "$result" "$detail" $((SECONDS - start)))
  echo "$line" | tee -a "$table"
done < <(python3 "$work/faults.py" list "$list")

echo "rebuilding without faults"
build_tree > "$build/seeded-faults/final.log" 2>&1 || echo "final rebuild failed: see $build/seeded-faults/final.log" >&2
summary="$total faults: $killed killed, $survived survived (${survivors[*]:-none}), $broken broken, $skipped not applicable"
[ $unconfirmed -eq 0 ] || summary+=", $unconfirmed unconfirmed"
summary+=" [$((SECONDS - start_all))s]"
echo "$summary" | tee -a "$table"
echo "table: $table"
