#!/usr/bin/env bash
# The checks before a stop: the whole suite under AddressSanitizer with
# UndefinedBehaviorSanitizer (build-asan/), the whole suite under
# ThreadSanitizer (build-tsan/), every fuzz target for 30 s (build-fuzz/),
# the short form of the fault soak in the sanitizer builds, and the Windows
# build with its tests under Wine (scripts/windows.sh, build-win/), and the
# Ansible collection's linters (scripts/ansible_lint.sh). One
# summary line per stage, logs in the build folders; the
# exit status is non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."

summary=()
failed=0
stage() {
  local name=$1 log=$2
  shift 2
  mkdir -p "$(dirname "$log")"
  echo "check: $name ..."
  local start=$SECONDS
  if "$@" >"$log" 2>&1; then
    summary+=("$(printf 'check %-14s passed  (%d s)' "$name" $((SECONDS - start)))")
  else
    summary+=("$(printf 'check %-14s FAILED  (%d s), log %s' "$name" $((SECONDS - start)) "$log")")
    failed=1
  fi
}

bash scripts/setup.sh --checks
stage asan+ubsan build-asan/check.log env BUILD_DIR=build-asan bash scripts/test.sh -DTALVOR_SANITIZE=ON
stage tsan build-tsan/check.log env BUILD_DIR=build-tsan bash scripts/test.sh -DTALVOR_TSAN=ON
stage fuzz build-fuzz/check.log bash scripts/fuzz.sh 30
# The soak's short form, under both sanitizers (their builds exist by now).
for b in build-asan build-tsan; do
  stage "soak ${b#build-}" "$b/soak.log" env TSAN_OPTIONS=halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
    nice -n 19 "$b/bench/soak/soak" --units 32 --rounds 2 --verify-timeout 30
done
stage windows build-win/check.log bash scripts/windows.sh
stage "ansible lint" build/ansible_lint.log \
  bash -c 'bash scripts/setup.sh pylint pycodestyle yamllint && bash scripts/ansible_lint.sh'
# The fuzz lines name each target's outcome.
grep '^fuzz ' build-fuzz/check.log 2>/dev/null
grep '^windows ' build-win/check.log 2>/dev/null
grep '^ansible lint ' build/ansible_lint.log 2>/dev/null

printf '%s\n' "${summary[@]}"
exit "$failed"
