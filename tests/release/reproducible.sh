#!/usr/bin/env bash
# Two clean builds from copies of the sources in folders of different names,
# into build folders of different names, a second apart, must give the same
# installer, package and product program, naming none of those folders.
#   reproducible.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source=$1
rm -rf "$2" && mkdir -p "$2/a" && cd "$2"
scratch=$(pwd -P)
# One snapshot of the sources (no build trees, no history), copied once more.
tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C a -xf -
cp -a a b-with-a-longer-name
for tree in a b-with-a-longer-name; do
  sleep 1  # the PE header's time stamp counts seconds
  { cmake -S "$tree" --preset release -B "build-$tree" -DORLO_PACKAGE= &&
    cmake --build "build-$tree" -j2 --target windows-configure &&
    cmake --build "build-$tree/windows" -j2 --target OrloCastSetup; } >"build-$tree.log" 2>&1 ||
    { cat "build-$tree.log"; echo "build in $scratch/build-$tree failed"; exit 1; }
done
status=0
for file in app/OrloCastSetup.exe package/orlocast.pkg product/Orlocast.exe; do
  one=build-a/windows/$file other=build-b-with-a-longer-name/windows/$file
  cmp "$one" "$other" && echo "same: $file" || status=1
  for folder in "$scratch"/{a,b-with-a-longer-name,build-a,build-b-with-a-longer-name} "$source"; do
    # (a name too short to be told from chance bytes is not searched for)
    if [ ${#folder} -ge 8 ] && grep -qaF "$folder" "$one" "$other"; then echo "DIFFERENT: $file names $folder"; status=1; fi
  done
done
exit $status
