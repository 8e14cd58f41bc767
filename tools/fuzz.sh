#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, seeded from a copy
# of its corpus (tests/fuzz/corpus/<target>/), so that the tree is not changed.
#   BUILD_DIR      build folder (default: build-fuzz/ at the top of the tree)
#   FUZZ_SECONDS   time per target (default: 60)
#   FUZZ_JOBS      targets run at the same time (default: the number of cores)
#   FUZZ_FINDINGS  folder that keeps the failing inputs, in a folder per target (default: none)
#   arguments      the targets to run (default: every target that has a corpus)
# Exits non-zero when a target fails to build or run, crashes, leaks, times out, reports
# undefined behaviour or finds a mismatch; the failing check and input are printed.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$top/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
jobs="${FUZZ_JOBS:-$(nproc)}"

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPELLUCOR_FUZZ=ON -DPELLUCOR_GUI=OFF -DPELLUCOR_BENCH=OFF -DPELLUCOR_WERROR=ON >/dev/null
cmake --build "$build" --target fuzz_targets -j"$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for folder in "$top"/tests/fuzz/corpus/*/; do
    targets+=("$(basename "$folder")")
  done
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Limits: a forged size that makes the library allocate a lot is a finding of its own (malloc
# limit); one input may take 30 s under the sanitizers before it counts as a hang.
run_target() {
  local name="$1" program="$build/tests/fuzz/$1_fuzz" dir="$work/$1"
  mkdir -p "$dir/corpus" "$dir/findings"
  cp -R "$top/tests/fuzz/corpus/$name/." "$dir/corpus/"
  local status=0
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=30 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

for name in "${targets[@]}"; do
  if [ ! -x "$build/tests/fuzz/${name}_fuzz" ]; then
    echo "fuzz: no program for target $name in $build/tests/fuzz" >&2
    exit 1
  fi
done

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, ${jobs} at a time"
running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
wait || true

failed=0
for name in "${targets[@]}"; do
  dir="$work/$name"
  status="$(cat "$dir/status" 2>/dev/null || echo "no status")"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)"
  if [ "$status" = "0" ]; then
    echo "fuzz: $name passed (${runs:-?} inputs)"
    continue
  fi
  failed=1
  echo "fuzz: $name FAILED (exit status $status, ${runs:-?} inputs)"
  # The target's own report names the check and the entry; a sanitizer report names the fault
  # and where it happened; anything else (a timeout, running out of memory) shows at the end.
  if grep -qE "check '" "$dir/log"; then
    grep -E "check '" "$dir/log" | head -n 5 | sed 's/^/    /'
  elif grep -qE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error" "$dir/log"; then
    grep -m 1 -A 30 -E "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error" "$dir/log" | sed 's/^/    /'
  else
    tail -n 30 "$dir/log" | sed 's/^/    /'
  fi
  for finding in "$dir"/findings/*; do
    [ -f "$finding" ] || continue
    echo "    failing input $(basename "$finding") ($(wc -c <"$finding") bytes), base64:"
    head -c 4096 "$finding" | base64 | sed 's/^/      /'
    if [ -n "${FUZZ_FINDINGS:-}" ]; then
      mkdir -p "$FUZZ_FINDINGS/$name"
      cp "$finding" "$FUZZ_FINDINGS/$name/"
    fi
  done
done
exit "$failed"
