#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang (ASan + UBSan) in their own build
# directory and runs each in turn.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]   SECONDS per harness (default 10); all harnesses
#                                            unless some are named (e.g. rx_params fir_map)
#   FUZZ_RUNS=N scripts/fuzz.sh              stop each harness after N runs instead of a time
#   FUZZ_DIR=dir                             build directory (default build-fuzz)
#   TMPDIR=dir                               scratch files (default /dev/shm when writable)
#   FUZZ_TIMEOUT=S                           a unit slower than S seconds fails (default 60;
#                                            raise it on a loaded machine, where a receiver
#                                            unit with adaptation can take minutes)
#
# New inputs go to $FUZZ_DIR/corpus/<harness>; the checked-in seeds in tests/fuzz/corpus are
# only read. A crash leaves its input in $FUZZ_DIR/artifacts/<harness>/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-10}
shift || true
dir=${FUZZ_DIR:-build-fuzz}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
bash scripts/deps.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAMI_FUZZ=ON \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" -j "${JOBS:-2}" --target fuzz_targets

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for exe in "$dir"/tests/fuzz/*_fuzz; do
    name=$(basename "$exe")
    harnesses+=("${name%_fuzz}")
  done
fi

limit=(-max_total_time="$seconds")
[ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
# The readers' harnesses write every input to a scratch file before reading it back; on tmpfs a
# run costs 4 to 20 times less than on disk, so the same seconds reach that much deeper.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
passed=0
failed=0
for name in "${harnesses[@]}"; do
  corpus="$dir/corpus/$name"
  artifacts="$dir/artifacts/$name"
  log="$dir/logs/$name.log"
  work="$dir/work/$name"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$work"
  # The models' debug and dump files land in the working directory: one of the harness's own.
  # Standard output is closed for the harness: the models' console lines would drown the report.
  if (cd "$work" && "$dir/tests/fuzz/${name}_fuzz" "${limit[@]}" -rss_limit_mb=2048 \
      -timeout="${FUZZ_TIMEOUT:-60}" -close_fd_mask=1 -artifact_prefix="$artifacts/" -print_final_stats=1 \
      "$corpus" "$root/tests/fuzz/corpus/$name") >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "$name: $(grep -E '^#[0-9]+.*DONE' "$log" | tail -1)"
  else
    failed=$((failed + 1))
    echo "$name: FAILED, see $log"
    grep -E 'ERROR|SUMMARY' "$log" | head -5 || true
  fi
done
echo "fuzz smoke: $passed harnesses clean, $failed failing"
[ "$failed" -eq 0 ]
