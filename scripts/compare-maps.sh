#!/usr/bin/env bash
# Segments photos and synthetic slow-input images with two Dornick builds and
# compares every label map byte for byte. Exit status 1 on any difference.
#
#   scripts/compare-maps.sh [--quick] REFERENCE_DORNICK [CANDIDATE_DORNICK]
#
# The candidate defaults to build/app/Dornick of this checkout. Photos come
# from $IMAGES (default ../shared/images next to the checkout's parent);
# --quick keeps only the small inputs. REF_CACHE names a directory that keeps
# the reference maps between runs (the reference build must not change).
# Needs ImageMagick's convert.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
quick=0
if [[ "${1:-}" == "--quick" ]]; then quick=1; shift; fi
ref="${1:?usage: compare-maps.sh [--quick] REFERENCE_DORNICK [CANDIDATE_DORNICK]}"
cand="${2:-$root/build/app/Dornick}"
images="${IMAGES:-/work/shared/images}"
counts=(none 2 10 40 300)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
in="$work/in"; mkdir -p "$in"

# Synthetic inputs: the kinds that make a region merger slow or hit ties.
synth() {  # name size drawing...
  local name=$1 size=$2; shift 2
  convert -size "$size" "$@" -depth 8 "ppm:$in/$name.ppm"
}
synth black_96 96x96 xc:black
synth black_301x203 301x203 xc:black
synth white_120 120x120 xc:white
synth nearflat_128 128x128 xc:'rgb(1,1,1)' -fill 'rgb(2,2,2)' -draw 'point 10,10' -draw 'rectangle 40,40 70,90'
synth stripes_160x120 160x120 pattern:verticalsaw xc:black -delete 1
synth hstripes_150 150x150 -define gradient:direction=east gradient:black-white -fx 'floor(j/4)%2'
synth checker_128 128x128 pattern:checkerboard
synth checker1_100 100x100 xc: -fx '(i+j)%2'
synth noise_128 128x128 -seed 7 xc: +noise Random
convert -seed 3 -size 140x100 xc: +noise Random -depth 8 "ppm:$in/noise_140x100.ppm"
if [[ $quick -eq 0 ]]; then
  synth black_500 500x500 xc:black
  synth stripes_400 400x400 pattern:vertical2
  synth checker_300 300x300 pattern:checkerboard
  convert -seed 5 -size 300x300 xc: +noise Random -depth 8 "ppm:$in/noise_300.ppm"
fi

for photo in "$images"/*.png "$images"/*.jpg; do
  [[ -f "$photo" ]] || continue
  base="$(basename "${photo%.*}")"
  convert "$photo" -resize 96x96 -depth 8 "ppm:$in/${base}_small.ppm"
  convert "$photo" -gravity center -crop 123x77+0+0 +repage -depth 8 "ppm:$in/${base}_crop.ppm"
  convert "$photo" -resize 200x200 -bordercolor black -border 40 -depth 8 "ppm:$in/${base}_framed.ppm"
  if [[ $quick -eq 0 ]]; then
    convert "$photo" -resize 481x321 -depth 8 "ppm:$in/${base}_481.ppm"
    case "$base" in
      *2560x1600*) ;;  # full size only in the benchmark: minutes per count at the baseline
      *) cp "$photo" "$in/${base}.png" ;;
    esac
  fi
done

total=0; diffs=0
for img in "$in"/*; do
  name="$(basename "$img")"
  for c in "${counts[@]}"; do
    args=(); [[ "$c" != none ]] && args=("$c")
    key="$(md5sum <"$img" | cut -c1-16)_$c"
    if [[ -n "${REF_CACHE:-}" && -f "$REF_CACHE/$key.pgm" ]]; then
      cp "$REF_CACHE/$key.pgm" "$work/ref.pgm"; cp "$REF_CACHE/$key.txt" "$work/ref.txt"
    else
      "$ref" AS "$img" "$work/ref.pgm" "${args[@]}" >"$work/ref.txt" 2>&1
      if [[ -n "${REF_CACHE:-}" ]]; then
        mkdir -p "$REF_CACHE"; cp "$work/ref.pgm" "$REF_CACHE/$key.pgm"; cp "$work/ref.txt" "$REF_CACHE/$key.txt"
      fi
    fi
    "$cand" AS "$img" "$work/cand.pgm" "${args[@]}" >"$work/cand.txt" 2>&1
    total=$((total + 1))
    if ! cmp -s "$work/ref.pgm" "$work/cand.pgm" || ! cmp -s "$work/ref.txt" "$work/cand.txt"; then
      diffs=$((diffs + 1))
      echo "DIFFERENT: $name count $c"
    fi
  done
done
echo "compared $total label maps: $diffs different"
[[ $diffs -eq 0 ]]
