#!/usr/bin/env bash
# Builds and runs every test twice: a normal build, then an AddressSanitizer +
# UndefinedBehaviorSanitizer build that stops on the first error. Then a clang build of the
# libFuzzer harnesses runs each for a short smoke time (FUZZ_SECONDS, default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=${JOBS:-2}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DAMI_TESTS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure --timeout 600 -j "$jobs")
}

echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan) =="
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DAMI_SANITIZE=ON
echo "== fuzz harnesses (clang libFuzzer, ASan + UBSan), ${FUZZ_SECONDS:-10} s each =="
bash scripts/fuzz.sh "${FUZZ_SECONDS:-10}"
