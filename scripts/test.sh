#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the AddressSanitizer/UBSan build, then a short
# fixed run of each fuzz target. Run from anywhere; needs nothing but a Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${KX_JOBS:-2}

bash scripts/install-deps.sh

run_ctest() {
  # One X server for the whole run: GL tests use it, widget tests run offscreen.
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$1" --output-on-failure -j"$jobs" --timeout 600
}

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
run_ctest build

if [ "${KX_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  run_ctest build-asan
fi

if [ "${KX_SKIP_FUZZ:-0}" != 1 ] && [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets (short fixed run)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON \
    -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs"
  ctest --test-dir build-fuzz --output-on-failure -L fuzz
fi
