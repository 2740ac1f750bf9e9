#!/usr/bin/env bash
# Builds and starts the client (under a virtual X server when there is no display).
#   run-client.sh [--service ADDRESS [--service-ca FILE]] [--engine NAME]
# Without --service it also builds and starts the local service on a free loopback port, points the
# client at it (address and CA certificate) and stops the service when the client exits. With --service
# it starts no service and passes both options to the client.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: run-client.sh [--service ADDRESS [--service-ca FILE]] [--engine NAME]" >&2
  exit 2
}
service="" ca="" engine=""
while [ $# -gt 0 ]; do
  case "$1" in
    --service) [ $# -ge 2 ] || usage; service=$2; shift 2 ;;
    --service-ca) [ $# -ge 2 ] || usage; ca=$2; shift 2 ;;
    --engine) [ $# -ge 2 ] || usage; engine=$2; shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$ca" ] && [ -z "$service" ]; then
  echo "run-client: --service-ca goes with --service" >&2
  exit 2
fi
if [ -n "$engine" ] && [ -n "$service" ]; then
  echo "run-client: --engine applies to the local service, not to --service" >&2
  exit 2
fi

bash scripts/install-deps.sh
# The same build directory as the tests: only the programs are built here.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(kestrix-client)
[ -n "$service" ] || targets+=(kestrix-service)
cmake --build build -j"${KX_JOBS:-2}" --target "${targets[@]}"

run_client() {
  if [ -n "${DISPLAY:-}" ]; then
    build/app/kestrix-client "$@"
  else
    xvfb-run -a -s "-screen 0 1280x1024x24" build/app/kestrix-client "$@"
  fi
}

if [ -n "$service" ]; then
  args=(--service "$service")
  [ -z "$ca" ] || args+=(--service-ca "$ca")
  run_client "${args[@]}"
  exit
fi

# The local service on the default data directory; its first line on standard output names the
# address it listens on and the CA certificate the client must trust.
started=$(mktemp)
service_args=(--listen 127.0.0.1:0)
[ -z "$engine" ] || service_args+=(--engine "$engine")
build/service/kestrix-service "${service_args[@]}" >"$started" &
service_pid=$!
stop_service() {
  kill -TERM "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  rm -f "$started"
}
trap stop_service EXIT

line=""
for _ in $(seq 300); do
  line=$(head -n 1 "$started")
  [ -z "$line" ] || break
  if ! kill -0 "$service_pid" 2>/dev/null; then
    echo "run-client: the local service did not start (see its messages above)" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$line" ]; then
  echo "run-client: the local service did not report its address within 30 s" >&2
  exit 1
fi
echo "$line"
address=$(sed -n 's#^kestrix-service listening on wss://\([^/]*\)/client CA .*$#\1#p' <<<"$line")
ca=$(sed -n 's#^kestrix-service listening on wss://[^ ]* CA \(.*\)$#\1#p' <<<"$line")
if [ -z "$address" ] || [ -z "$ca" ]; then
  echo "run-client: cannot read the service's start line: $line" >&2
  exit 1
fi
run_client --service "$address" --service-ca "$ca"
