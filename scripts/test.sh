#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the whole suite on a normal build;
#   2. the whole suite again with AddressSanitizer, UndefinedBehaviorSanitizer and
#      LeakSanitizer;
#   3. the Debian package: built from build/, unpacked and checked
#      (scripts/check-package.sh);
#   4. each libFuzzer target briefly (FUZZ_SECONDS, default 15).
# Tests only ever talk to 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

echo "== build"
bash scripts/build.sh
echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600 | tee -a "$log"

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 | tee -a "$log"

echo "== package"
bash scripts/check-package.sh | tee -a "$log"

echo "== fuzzing (${FUZZ_SECONDS:-15} s a target)"
FUZZ_SECONDS=${FUZZ_SECONDS:-15} bash scripts/fuzz.sh

# One closing line over both ctest runs and the package checks.
passed=0 failed=0
while read -r p f; do passed=$((passed + p)); failed=$((failed + f)); done < <(
  sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | awk '{print $1-$2, $2}')
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
