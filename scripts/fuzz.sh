#!/usr/bin/env bash
# libFuzzer runs of the fuzz targets in fuzz/ (clang build in its own folder).
#   scripts/fuzz.sh smoke [SECONDS]              every target for SECONDS (default 10) from its seeds
#   scripts/fuzz.sh campaign TARGET RUNS [LEN]   one target for RUNS executions, inputs of at most LEN bytes
# Targets: engine, loader, labelmap. Each run reports executions, coverage and crashes;
# the status is 1 when anything crashed. Crash inputs are left in the run's folder
# (printed); copy them into fuzz/regressions/TARGET/ to make them regression tests.
# FUZZ_BUILD_DIR (default build-fuzz) and FUZZ_SANITIZE (ON: ASan+UBSan, default; OFF: faster)
# choose the build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
sanitize=${FUZZ_SANITIZE:-ON}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(engine loader labelmap)

build_targets() {
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESKAR_FUZZ=ON \
    -DVESKAR_FUZZ_SANITIZE="$sanitize" -DVESKAR_BUILD_TESTS=OFF -DVESKAR_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" >/dev/null
}

# run TARGET WORKDIR LIBFUZZER-OPTIONS...: fuzzes from the seeds into WORKDIR/corpus and reports.
run() {
  local target=$1 work=$2
  shift 2
  mkdir -p "$work/corpus" "$work/crashes"
  local log="$work/fuzz.log"
  local status=0
  local inputs=("$work/corpus")
  for folder in "$root/fuzz/seeds/$target" "$root/fuzz/regressions/$target"; do
    if [ -d "$folder" ]; then inputs+=("$folder"); fi
  done
  # ImageMagick's own leaks on refused images are known (see the suppressions);
  # the test suite skips them the same way.
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0} \
    "$build/fuzz/fuzz_$target" -print_final_stats=1 -artifact_prefix="$work/crashes/" "$@" \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  local runs cov crashes
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -o 'cov: [0-9]* ft: [0-9]*' || echo "cov: ? ft: ?")
  crashes=$(find "$work/crashes" -type f | wc -l)
  echo "fuzz_$target: ${runs:-0} executions, $cov, corpus $(find "$work/corpus" -type f | wc -l) inputs, $crashes crashes (exit $status)"
  if [ "$crashes" -gt 0 ] || [ "$status" -ne 0 ]; then
    find "$work/crashes" -type f | sed 's/^/  crash input: /'
    grep -m1 -A12 -E 'ERROR: |invariant broken|deadly signal' "$log" | sed 's/^/  /' || true
    return 1
  fi
}

case "${1:-}" in
  smoke)
    seconds=${2:-10}
    build_targets
    work=$(mktemp -d)
    failed=0
    for target in "${targets[@]}"; do
      run "$target" "$work/$target" -max_total_time="$seconds" -max_len=4096 -timeout=20 || failed=1
    done
    rm -rf "$work"
    exit $failed
    ;;
  campaign)
    target=${2:?target}
    runs=${3:?number of executions}
    length=${4:-64}
    build_targets
    work="$build/campaign-$target"
    start=$(date +%s)
    run "$target" "$work" -runs="$runs" -max_len="$length" -timeout=20 || { echo "after $(( $(date +%s) - start )) s"; exit 1; }
    echo "after $(( $(date +%s) - start )) s, max_len $length, sanitizers $sanitize; corpus in $work/corpus"
    ;;
  *)
    sed -n '2,10p' "$0"
    exit 2
    ;;
esac
