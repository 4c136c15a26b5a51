#!/usr/bin/env bash
# Two clean builds of the installer, from copies of the sources in folders
# of different names, into build folders of different names, at different
# times, must give the same bytes: the installer, its package and the
# product program inside it. Neither may name a folder it was built from or
# in.
#   reproducible.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")

# One snapshot of the sources (build trees and history left out), copied
# once more, so that both builds see the same files.
mkdir "$scratch/src-a"
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$scratch/src-a" -xf -
cp -a "$scratch/src-a" "$scratch/src-b-with-a-longer-name"

build() {  # build SOURCES TREE
  local tree=$2
  cmake -S "$1" --preset release -B "$tree" -DORLO_PACKAGE= >"$tree.log" 2>&1 &&
    cmake --build "$tree" -j2 --target windows-configure >>"$tree.log" 2>&1 &&
    cmake --build "$tree/windows" -j2 --target OrloCastSetup >>"$tree.log" 2>&1 ||
    { cat "$tree.log"; echo "build in $tree failed"; exit 1; }
}

first=$scratch/build-a
second=$scratch/build-b-with-a-longer-name
build "$scratch/src-a" "$first"
# The PE header's time stamp counts seconds: make sure the clock moved on.
sleep 1
build "$scratch/src-b-with-a-longer-name" "$second"

status=0
for file in app/OrloCastSetup.exe package/orlocast.pkg product/Orlocast.exe; do
  a=$first/windows/$file
  b=$second/windows/$file
  if cmp -s "$a" "$b"; then
    echo "same: $file $(sha256sum <"$a" | cut -d' ' -f1)"
  else
    echo "DIFFERENT: $file ($(cmp -l "$a" "$b" | wc -l) bytes differ; first at byte $(cmp "$a" "$b" | awk '{print $5}' | tr -d ,))"
    status=1
  fi
  for folder in "$first" "$second" "$scratch/src-a" "$scratch/src-b-with-a-longer-name" "$source"; do
    # (a name too short to be told from chance bytes is not searched for)
    if [ ${#folder} -ge 8 ] && grep -qaF "$folder" "$a" "$b"; then
      echo "DIFFERENT: $file names the folder $folder"
      status=1
    fi
  done
done
exit $status
