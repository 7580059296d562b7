#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one.
#   bash scripts/fuzz.sh               each target for 20 s
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh
#   FUZZ_RUNS=10000000 bash scripts/fuzz.sh fuzz_engine
# The committed seed corpora in fuzz/corpus/<target>/ are read, never written:
# new inputs go to a scratch directory.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null || [ ! -e /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-14-dev
fi
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_FUZZ=ON \
  -DTESSALY_BUILD_UI=OFF -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  mkdir -p "$scratch/$name"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  limit=(-max_total_time="${FUZZ_SECONDS:-20}")
  [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
  echo "== $t"
  if ! "build-fuzz/fuzz/$t" "${limit[@]}" -print_final_stats=1 -artifact_prefix="$scratch/" \
      "$scratch/$name" "${seeds[@]}" > "$scratch/$name.log" 2>&1; then
    status=1
    tail -40 "$scratch/$name.log"
    cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* . 2>/dev/null || true
  fi
  grep -E 'stat::number_of_executed_units' "$scratch/$name.log" || true
done
exit $status
