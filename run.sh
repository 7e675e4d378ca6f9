#!/usr/bin/env bash
# Installs what is missing, builds, and serves the demo project from the PLC
# simulator: plcsim on 127.0.0.1:8442 with the demo PLCs (NADs 1-4), the
# server beside it with its own registry, data and runtime folders under
# build/demo/. Extra arguments go to the server (for example --headless or
# -DEBUGLOG). Ctrl+C or SIGTERM ends both.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"

root=$(pwd)
demo=$root/build/demo
export NORVOOPC_REGISTRY_DIR=$demo/registry
export NORVOOPC_DATA_DIR=$demo/data
# A runtime folder of its own: never meets a real installation's lock.
export XDG_RUNTIME_DIR=$demo/runtime
mkdir -p "$NORVOOPC_REGISTRY_DIR" "$NORVOOPC_DATA_DIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Only a registry without a configuration is written: the operator's
# changes survive between runs (delete build/demo to start afresh).
./build/bin/norvoopc-demo-config --project "$root/examples/demo/demo.alc" --port 8442

./build/bin/plcsim --project examples/demo/demo.alc --udp 127.0.0.1:8442 --nad 1,2,3,4 </dev/null &
sim=$!
server=
stop() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null || true
  kill -TERM "$sim" 2>/dev/null || true
}
trap stop INT TERM
trap 'stop; wait 2>/dev/null || true' EXIT

args=()
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  args+=(--headless)
fi
echo "NorvoOPC demo: session log in $NORVOOPC_DATA_DIR/NorvoOPC.log"
./build/bin/norvoopc "${args[@]}" "$@" &
server=$!
status=0
wait "$server" || status=$?
server=
exit "$status"
