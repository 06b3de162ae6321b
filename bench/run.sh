#!/usr/bin/env bash
# Runs bench_segmentation on photos converted to binary PPM first when ImageMagick's convert is
# present (the benchmark reads other formats itself too, as Dornick does).
#
#   bench/run.sh [--sizes WxH,...|none] [--counts N,...] [--runs N] [photo ...]
#
# Photos may be in any format convert reads; .ppm files are passed on as they are.
# BENCH names the program (default: build-bench/bench/bench_segmentation under the repository).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bench="${BENCH:-$root/build-bench/bench/bench_segmentation}"
if [[ ! -x "$bench" ]]; then
  echo "run.sh: no benchmark program at $bench; build it with -DVESKAR_BUILD_BENCH=ON or set BENCH" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

args=()
while (($#)); do
  case "$1" in
    --sizes | --counts | --runs)
      args+=("$1" "${2:?$1 needs a value}")
      shift 2
      ;;
    --*)
      args+=("$1")
      shift
      ;;
    *.ppm | *.PPM)
      args+=("$1")
      shift
      ;;
    *)
      if command -v convert >/dev/null 2>&1; then
        name="$(basename "${1%.*}")"
        convert "$1" -alpha off -depth 8 "ppm:$work/$name.ppm"
        args+=("$work/$name.ppm")
      else
        echo "run.sh: convert (ImageMagick) not found, skipping $1" >&2
      fi
      shift
      ;;
  esac
done

"$bench" "${args[@]}"
