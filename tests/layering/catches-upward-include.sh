#!/usr/bin/env bash
# The layering check fails on an include that runs upwards: a copy of the tree where the
# timeline includes the generation run must be refused, naming the file.
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/src" "$work/src"
printf '#include "output/generation.h"\n' >> "$work/src/timeline/timeline.cpp"
if out=$("$root/scripts/check-layers" "$work"); then
  echo "an upward include was not caught"; exit 1
fi
grep -q "src/timeline/timeline.cpp:.*timeline includes output/" <<<"$out" || { echo "$out"; exit 1; }
echo "the upward include was caught"

# A Qt header below the desktop program is refused too.
cp -r "$root/src/." "$work/src/"
printf '#include <QString>\n' >> "$work/src/document/summary.cpp"
if out=$("$root/scripts/check-layers" "$work"); then
  echo "a Qt include in the document layer was not caught"; exit 1
fi
grep -q "src/document/summary.cpp:.*includes Qt <QString>" <<<"$out" || { echo "$out"; exit 1; }
echo "the Qt include was caught"
