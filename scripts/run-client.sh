#!/usr/bin/env bash
# Builds the client and starts it (under a virtual X server when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The same build directory as the tests: only the client target is built here.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${KX_JOBS:-2}" --target kestrix-client
if [ -n "${DISPLAY:-}" ]; then
  exec build/app/kestrix-client "$@"
else
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/app/kestrix-client "$@"
fi
