#!/usr/bin/env bash
# `make bench-peers`: the end-to-end conversion against two peers on the same generated scripts.
#
#   tessara   `tessara generate`: every subpicture's bitmap (4-bit RLE BMP or TIFF), the
#             authoring script and the palette file
#   libass    bench/peers/libass_bmp.c on Debian's libass: every event rendered at its start
#             time and written as one cropped 4-bit BMP
#             and the same as spumux XML with PNGs (SPU) and as a VobSub pair (VOBSUB), compared
#             with the 4-bit RLE BMP run; `tessara verify` reading each of those two back
#   spumux    dvdauthor's spumux rendering the same subtitles (a SubRip file made by
#             `tessara export srt`) into DVD subpictures multiplexed into an MPEG stream
#
# The runs alternate (tessara BMP, tessara TIFF, libass, spumux, the starting tool rotating from
# one round to the next), each into a fresh folder, with everything synced to disk before the
# next run starts. The folders are removed only at the end: on ext4, creating files right after
# thousands were deleted costs several times more than the writing itself, and that would
# measure the previous run's deletion rather than the tool. Wall time, CPU time (user + system) and peak memory (maximum resident set) come from
# /usr/bin/time; the table shows the median of RUNS rounds and the ratios Tessara / peer.
#
# Environment: BUILD (build folder, default build), RUNS (default 5), EVENTS (default
# "500 2000"), SEED (default 7), BENCH_DIR (the folder the runs write under, default
# BUILD/bench/peers; it decides the file system measured). The harness, the scripts and the MPEG streams are kept in
# BUILD/bench/peers between invocations; a stream takes a minute or two to make the first time.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
RUNS=${RUNS:-5}
EVENTS=${EVENTS:-"500 2000"}
SEED=${SEED:-7}
CACHE="$BUILD/bench/peers"
RUNS_IN=${BENCH_DIR:-$CACHE}
TESSARA="$BUILD/tessara"
GEN="$BUILD/bench/gen_script"
HARNESS="$CACHE/libass_bmp"

for tool in "$TESSARA" "$GEN"; do
  [ -x "$tool" ] || { echo "bench-peers: $tool is missing; run make build first" >&2; exit 1; }
done
for tool in spumux ffmpeg pkg-config /usr/bin/time; do
  command -v "$tool" > /dev/null || {
    echo "bench-peers: $tool is missing; run scripts/install-bench-peers" >&2
    exit 1
  }
done
mkdir -p "$CACHE" "$RUNS_IN"
WORK=$(mktemp -d "$RUNS_IN/runs.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Our libass harness, rebuilt when its source changes.
if [ ! -x "$HARNESS" ] || [ bench/peers/libass_bmp.c -nt "$HARNESS" ]; then
  # shellcheck disable=SC2046
  cc -O2 -Wall -Wextra -o "$HARNESS" bench/peers/libass_bmp.c $(pkg-config --cflags --libs libass)
fi

# The last end time of a script's dialogue, in whole seconds, rounded up.
last_end() {
  awk -F, '/^Dialogue:/ { split($3, t, /[:.]/); s = t[1] * 3600 + t[2] * 60 + t[3] + 1;
           if (s > m) m = s } END { print m }' "$1"
}

# Inputs per event count: the scripts (one per image type; the events are the same), the
# SubRip file and spumux's control file, and a black MPEG-2 program stream covering the script.
prepare() {
  local n=$1 base="$CACHE/events_$1_seed$SEED"
  for img in bmp4rle tif; do
    "$GEN" "$n" "$SEED" "$img" > "${base}_$img.ssa"
  done
  "$TESSARA" --quiet export srt "${base}_bmp4rle.ssa" -o "$base.srt" > /dev/null
  local seconds
  seconds=$(( $(last_end "${base}_bmp4rle.ssa") + 2 ))
  local mpeg="$CACHE/black_${seconds}s.mpg"
  if [ ! -s "$mpeg" ]; then
    echo "bench-peers: making a ${seconds} s MPEG stream for spumux (once)" >&2
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "color=c=black:s=720x480:r=30000/1001" \
      -t "$seconds" -c:v mpeg2video -g 300 -bf 0 -b:v 40k -maxrate 9000k -bufsize 1835k \
      -f dvd "$mpeg.part"
    mv "$mpeg.part" "$mpeg"
  fi
  ln -sf "$(basename "$mpeg")" "$base.mpg"
  # The outputs `tessara verify` reads back, written once.
  for type in SPU:xml VOBSUB:idx; do
    mkdir -p "$base.${type%%:*}"
    "$TESSARA" --quiet --set "ScrType=${type%%:*}" generate "${base}_bmp4rle.ssa" \
      -o "$base.${type%%:*}/film.${type#*:}" > /dev/null
  done
  # The Default style of the generated scripts: 24 px sans, centred at the bottom.
  cat > "$base.xml" << XML
<subpictures format="NTSC">
  <stream>
    <textsub filename="$(realpath "$base.srt")" characterset="ISO8859-1" fontsize="24.0"
      font="DejaVu Sans" horizontal-alignment="center" vertical-alignment="bottom"
      left-margin="30" right-margin="30" bottom-margin="24" subtitle-fps="29.97"
      movie-fps="29.97" movie-width="720" movie-height="480"/>
  </stream>
</subpictures>
XML
}

# One line per run: tool, events, wall, CPU (user + system), peak kB, user, system.
results="$CACHE/results.txt"
: > "$results"

# Runs one measured command in a fresh folder: measure NAME EVENTS COMMAND... ({} is the folder).
measure() {
  local name=$1 n=$2
  shift 2
  local dir
  dir=$(mktemp -d "$WORK/run.XXXXXX")
  local args=()
  for a in "$@"; do args+=("${a//\{\}/$dir}"); done
  if ! /usr/bin/time -f '%e %U %S %M' -o "$dir.time" "${args[@]}" > "$dir.log" 2>&1; then
    echo "bench-peers: $name failed on $n events:" >&2
    tail -5 "$dir.log" >&2
    exit 1
  fi
  local wall user sys kb
  read -r wall user sys kb < "$dir.time"
  echo "$name $n $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $kb $user $sys" \
    >> "$results"
  rm -f "$dir.time" "$dir.log"
  sync
}

tools=(tessara_bmp4rle tessara_tif tessara_spu tessara_vobsub verify_spu verify_vobsub libass spumux)
run_tool() {
  local tool=$1 n=$2 base="$CACHE/events_$2_seed$SEED"
  case $tool in
    tessara_bmp4rle | tessara_tif)
      measure "$tool" "$n" "$TESSARA" --quiet generate "${base}_${tool#tessara_}.ssa" \
        -o "{}/film.son" ;;
    tessara_spu)
      measure "$tool" "$n" "$TESSARA" --quiet --set ScrType=SPU generate "${base}_bmp4rle.ssa" \
        -o "{}/film.xml" ;;
    tessara_vobsub)
      measure "$tool" "$n" "$TESSARA" --quiet --set ScrType=VOBSUB generate \
        "${base}_bmp4rle.ssa" -o "{}/film.idx" ;;
    verify_spu)
      measure "$tool" "$n" "$TESSARA" --quiet --set ScrType=SPU verify "$base.SPU/film.xml" \
        --script "${base}_bmp4rle.ssa" ;;
    verify_vobsub)
      measure "$tool" "$n" "$TESSARA" --quiet --set ScrType=VOBSUB verify "$base.VOBSUB/film.idx" \
        --script "${base}_bmp4rle.ssa" ;;
    libass) measure libass "$n" "$HARNESS" "${base}_bmp4rle.ssa" "{}" ;;
    spumux)
      measure spumux "$n" sh -c "spumux -m dvd '$base.xml' < '$base.mpg' > '{}/film.mpg'" ;;
  esac
}

for n in $EVENTS; do prepare "$n"; done
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq "$RUNS"); do
  echo "bench-peers: round $round of $RUNS" >&2
  for n in $EVENTS; do
    for k in "${!tools[@]}"; do
      run_tool "${tools[$(( (k + round - 1) % ${#tools[@]} ))]}" "$n"
    done
  done
done

# Medians and ratios.
awk -v runs="$RUNS" -v load="$load_before / $(cut -d' ' -f1-3 /proc/loadavg)" '
  function median(key, col,   list, count, i, j, t) {
    count = 0
    for (i = 1; i <= n[key]; i++) list[++count] = v[key, i, col]
    for (i = 2; i <= count; i++) for (j = i; j > 1 && list[j - 1] > list[j]; j--) {
      t = list[j]; list[j] = list[j - 1]; list[j - 1] = t
    }
    return count % 2 ? list[(count + 1) / 2] : (list[count / 2] + list[count / 2 + 1]) / 2
  }
  {
    key = $1 " " $2; i = ++n[key]
    v[key, i, 1] = $3; v[key, i, 2] = $4; v[key, i, 3] = $5 / 1024
    if (!($2 in seen)) { seen[$2] = 1; order[++events] = $2 }
  }
  END {
    printf "Medians of %d runs; times in seconds, memory in MB (peak resident set).\n", runs
    printf "Load average (1, 5, 15 min) before / after: %s (other work on the machine\n", load
    printf "slows every tool; the runs alternate so that it falls on all of them alike).\n\n"
    printf "| events | output | Tessara wall / CPU / MB | libass wall / CPU / MB |"
    printf " spumux wall / CPU / MB | Tessara/libass wall, CPU, mem | Tessara/spumux wall, CPU, mem |\n"
    printf "|---|---|---|---|---|---|---|\n"
    for (e = 1; e <= events; e++) {
      ev = order[e]
      for (l = 1; l <= 3; l++) { la[l] = median("libass " ev, l); sp[l] = median("spumux " ev, l) }
      split("bmp4rle tif", types, " ")
      for (t = 1; t <= 2; t++) {
        key = "tessara_" types[t] " " ev
        for (l = 1; l <= 3; l++) ts[l] = median(key, l)
        printf "| %s | %s | %.2f / %.2f / %.0f | %.2f / %.2f / %.0f | %.2f / %.2f / %.0f |",
          ev, (types[t] == "tif" ? "TIFF" : "4-bit RLE BMP"), ts[1], ts[2], ts[3],
          la[1], la[2], la[3], sp[1], sp[2], sp[3]
        printf " %.2f, %.2f, %.2f | %.2f, %.2f, %.2f |\n",
          ts[1] / la[1], ts[2] / la[2], ts[3] / la[3], ts[1] / sp[1], ts[2] / sp[2], ts[3] / sp[3]
      }
    }
    printf "\nThe DVD subpicture targets against the 4-bit RLE BMP run, and verify reading them back:\n\n"
    printf "| events | BMP wall | SPU wall / CPU / MB | VOBSUB wall / CPU / MB | SPU/BMP, VOBSUB/BMP wall |"
    printf " verify SPU wall / MB | verify VOBSUB wall / MB |\n|---|---|---|---|---|---|---|\n"
    for (e = 1; e <= events; e++) {
      ev = order[e]
      bmp = median("tessara_bmp4rle " ev, 1)
      for (l = 1; l <= 3; l++) {
        su[l] = median("tessara_spu " ev, l); vo[l] = median("tessara_vobsub " ev, l)
        vs[l] = median("verify_spu " ev, l); vv[l] = median("verify_vobsub " ev, l)
      }
      printf "| %s | %.2f | %.2f / %.2f / %.0f | %.2f / %.2f / %.0f | %.2f, %.2f | %.2f / %.0f | %.2f / %.0f |\n",
        ev, bmp, su[1], su[2], su[3], vo[1], vo[2], vo[3], su[1] / bmp, vo[1] / bmp,
        vs[1], vs[3], vv[1], vv[3]
    }
  }' "$results"
