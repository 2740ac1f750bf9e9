#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer/UBSan build, the ThreadSanitizer
# build of the concurrency tests, then a short fixed run of each fuzz target. The cluster runner's tests
# run against a one-node Slurm cluster that this script starts for the run (as root, or through sudo)
# and stops at its end. Run from anywhere; needs nothing but a Debian 12 machine. KX_SKIP_SANITIZE=1,
# KX_SKIP_TSAN=1, KX_SKIP_FUZZ=1 and KX_SKIP_SLURM=1 leave a stage or the cluster out (its tests then
# skip); KX_JOBS sets the build parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KX_JOBS:-2}
started=$SECONDS
# Line tables only: sanitizer reports and backtraces keep file and line, while the full debug information
# of the networking templates took a quarter of the compile time.
flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
# The instrumented builds at -O1, as the sanitizers advise: their reports stay exact and their compile
# takes less of the run than -O2's.
san_flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

bash scripts/install-deps.sh

if [ "${KX_SKIP_SLURM:-0}" != 1 ] && [ -z "${SLURM_CONF:-}" ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  cluster=$(mktemp -d /tmp/kx-slurm.XXXXXX)
  if "${as_root[@]}" bash scripts/slurm-test-cluster.sh start "$cluster"; then
    trap '"${as_root[@]}" bash scripts/slurm-test-cluster.sh stop "$cluster"' EXIT
    export SLURM_CONF="$cluster/slurm.conf"
  else
    echo "== no Slurm test cluster: the cluster runner's tests skip"
  fi
fi

run_ctest() {
  # One X server for the whole run: GL tests use it, widget tests run offscreen. Sanitizer options
  # travel with each test (cmake/KxHelpers.cmake).
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$1" --output-on-failure --no-tests=error -j"$jobs" --timeout 600
}

stage() {
  echo "== $1 ($((SECONDS - started)) s so far)"
}

stage "build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
run_ctest build

if [ "${KX_SKIP_SANITIZE:-0}" != 1 ]; then
  stage "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${san_flags[@]}" -DKX_SANITIZE=ON -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j"$jobs"
  run_ctest build-asan
fi

if [ "${KX_SKIP_TSAN:-0}" != 1 ]; then
  stage "build (ThreadSanitizer, concurrency tests only)"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${san_flags[@]}" -DKX_TSAN=ON -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-tsan -j"$jobs" --target kx_tsan_tests
  run_ctest build-tsan
fi

if [ "${KX_SKIP_FUZZ:-0}" != 1 ] && [ -f fuzz/CMakeLists.txt ]; then
  stage "fuzz targets (short fixed run)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${san_flags[@]}" -DKX_FUZZ=ON \
    -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs" --target kx_fuzzers
  # Each fuzzer runs on one core: two at a time halve the stage.
  ctest --test-dir build-fuzz --output-on-failure -L fuzz -j"$jobs"
fi

stage "all tests passed"
