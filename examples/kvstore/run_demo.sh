#!/bin/sh
# Runs the key-value example end to end: starts kv_server in the
# background, makes a few kv_client calls, stops the server.
#     examples/kvstore/run_demo.sh BUILD_EXAMPLES_DIR
set -e
bin=${1:-build/examples}
"$bin/kv_server" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
# Wait (at most 5 s) until the server answers on its fixed port.
tries=0
until "$bin/kv_client" -p 20611 localhost list >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ $tries -lt 50 ] || { echo "kv_server did not start" >&2; exit 1; }
  sleep 0.1
done
"$bin/kv_client" localhost put colour blue
"$bin/kv_client" localhost put shape circle
"$bin/kv_client" localhost get colour
"$bin/kv_client" localhost delete shape
"$bin/kv_client" localhost list
if "$bin/kv_client" localhost get shape; then
  echo "a deleted key is still there" >&2
  exit 1
fi
