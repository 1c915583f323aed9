#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or $BUILD_DIR)
# and runs each for SECONDS (default 60) from its seed corpus, one line per
# target. What a run learns stays in the build folder, never in the
# repository; a failing input is kept there too, and the exit status is
# non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${BUILD_DIR:-build-fuzz}
bash scripts/setup.sh --checks >/dev/null

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_WERROR=ON \
  -DTALVOR_FUZZ=ON -DTALVOR_BUILD_GUI=OFF >/dev/null
mapfile -t entries <"$build_dir/fuzz_targets.txt"
names=()
for e in "${entries[@]}"; do [ -n "$e" ] && names+=("${e%%=*}"); done
targets=()
for n in "${names[@]}"; do targets+=(--target "$n"); done
cmake --build "$build_dir" -j "$(nproc)" "${targets[@]}" >"$build_dir/fuzz-build.log" 2>&1 ||
  { tail -40 "$build_dir/fuzz-build.log"; echo "fuzz: build failed"; exit 1; }

failed=0
for e in "${entries[@]}"; do
  [ -n "$e" ] || continue
  name=${e%%=*}
  seeds=${e#*=}
  work="$build_dir/fuzz-corpus/$name"
  found="$build_dir/fuzz-found/$name"
  log="$build_dir/fuzz-logs/$name.log"
  mkdir -p "$work" "$found" "$(dirname "$log")"
  # A dictionary beside the corpus (CORPUS.dict) names the format's words.
  dict=()
  [ -f "$seeds.dict" ] && dict=(-dict="$seeds.dict")
  if "$build_dir/fuzz/$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$found/" "${dict[@]}" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf 'fuzz %-28s ok      %s inputs in %s s\n' "$name" "${runs:-?}" "$seconds"
  else
    input=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    printf 'fuzz %-28s FAILED  input %s, log %s\n' "$name" "${input:-?}" "$log"
    failed=1
  fi
done
exit "$failed"
