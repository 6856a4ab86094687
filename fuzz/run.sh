#!/usr/bin/env bash
# Runs every fuzz target (or those named) for SECONDS (default 60) each from fuzz/corpus/<target>/;
# new inputs go to build/fuzz/corpus/<target>/, findings to build/fuzz/artifacts/<target>/.
# Usage: fuzz/run.sh [SECONDS] [TARGET…]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60} && shift || true
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz --target fuzzers || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Two targets write a scratch file per input; a memory file system keeps fsync from setting the pace.
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi

targets=("$@") failed=()
((${#targets[@]})) || mapfile -t targets < <(find build/fuzz/fuzz -maxdepth 1 -name 'fuzz_*' -type f -executable -printf '%f\n')
for target in "${targets[@]}"; do
  log=build/fuzz/$target.log artifacts=build/fuzz/artifacts/$target
  mkdir -p "build/fuzz/corpus/$target" "$artifacts" "fuzz/corpus/$target"
  if ! build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "build/fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz: $target FAILED; see $log and $artifacts/" >&2
    grep -E 'ERROR|invariant broken|SUMMARY' "$log" | head -5 >&2
    failed+=("$target")
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$log" | sed "s/^/  $target /"
done
((${#failed[@]} == 0)) || { echo "fuzz: failed: ${failed[*]}" >&2; exit 1; }
echo "fuzz: all ${#targets[@]} targets ran clean for ${seconds}s each"
