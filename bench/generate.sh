#!/usr/bin/env bash
# End-to-end timing of `tessara generate` on generated scripts: 500 and 2,000 events at
# 720x480, with 4-bit RLE BMP and with TIFF bitmaps, and as spumux XML with PNGs and as a
# VobSub pair (both against the 4-bit RLE BMP run). Prints wall time, subpictures per second
# and peak memory (maximum resident set size) for each, the median of RUNS runs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
RUNS=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-8s %-14s %10s %14s %12s\n' events output wall_s subpictures/s peak_MB
for events in 500 2000; do
  for target in bmp4rle:SON:son tif:SON:son bmp4rle:SPU:xml bmp4rle:VOBSUB:idx; do
    IFS=: read -r img type ext <<<"$target"
    "$BUILD/bench/gen_script" "$events" 7 "$img" > "$work/in.ssa"
    walls=() ; mems=() ; subs=0
    for run in $(seq "$RUNS"); do
      # A fresh folder per run, removed only at the end: creating files where thousands were
      # just deleted costs ext4 more than the writing, and would be measured instead.
      out="$work/out.$events.$img.$type.$run"
      mkdir -p "$out"
      sync
      /usr/bin/time -f '%e %M' -o "$work/time" \
        "$BUILD/tessara" --quiet --set "ScrType=$type" generate "$work/in.ssa" \
        -o "$out/film.$ext" > "$work/summary"
      read -r wall kb < "$work/time"
      walls+=("$wall") ; mems+=("$kb")
      subs=$(sed -n 's/^wrote \([0-9]*\) subpictures.*/\1/p' "$work/summary")
    done
    wall=$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(( (RUNS + 1) / 2 ))p")
    kb=$(printf '%s\n' "${mems[@]}" | sort -n | sed -n "$(( (RUNS + 1) / 2 ))p")
    awk -v e="$events" -v i="$type/$img" -v w="$wall" -v s="$subs" -v k="$kb" \
      'BEGIN { printf "%-8s %-14s %10.2f %14.0f %12.1f\n", e, i, w, (w > 0 ? s / w : 0), k / 1024 }'
  done
done
