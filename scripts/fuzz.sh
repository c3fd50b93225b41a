#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (coverage, ASan, UBSan) and runs each for a bounded time
# from the corpus kept in fuzz/corpus. New inputs go to a scratch folder, so the repository stays
# as it is; a crash input lands in build-fuzz/crashes/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${PYRELINK_FUZZ_SECONDS:-10}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPYRELINK_FUZZ=ON \
  -DPYRELINK_GUI=OFF -DPYRELINK_TESTS=OFF -DPYRELINK_BENCH=OFF -DPYRELINK_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build-fuzz/crashes
run_target() {
  local name=$1
  mkdir -p "$scratch/$name"
  if build-fuzz/fuzz/"$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix=build-fuzz/crashes/"$name"- "$scratch/$name" fuzz/corpus/"$name" \
      >build-fuzz/"$name".log 2>&1; then
    echo "$name: $(grep -E '^Done' build-fuzz/"$name".log)"
  else
    echo "$name: FAILED"
    tail -40 build-fuzz/"$name".log
    return 1
  fi
}
status=0
pids=()
for target in fuzz/corpus/*/; do
  name=$(basename "$target")
  run_target "$name" &
  pids+=($!)
  # Two at a time: one per core.
  if ((${#pids[@]} == 2)); then
    wait "${pids[0]}" || status=1
    pids=("${pids[1]}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit "$status"
