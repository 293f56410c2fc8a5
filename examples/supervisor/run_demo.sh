#!/bin/sh
# Runs the supervisor example twice: once until its commands have used up
# their restarts, once stopped by SIGINT while its command sleeps.
#     examples/supervisor/run_demo.sh BUILD_EXAMPLES_DIR
set -e
bin=${1:-build/examples}
out=$("$bin/supervisor" -r 1 'exit 3' 'kill -9 $$')
echo "$out"
[ "$(echo "$out" | grep -c 'ended with exit code 3$')" -eq 2 ] ||
  { echo "exit 3 was not reported twice" >&2; exit 1; }
[ "$(echo "$out" | grep -c 'ended with exit code 137$')" -eq 2 ] ||
  { echo "the killed command was not reported twice with 137" >&2; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$bin/supervisor" 'exec sleep 30' >"$log" &
sv=$!
# Interrupt it once its child runs (at most 5 s).
tries=0
until grep -q started "$log"; do
  tries=$((tries + 1))
  [ $tries -lt 50 ] || { echo "supervisor did not start" >&2; exit 1; }
  sleep 0.1
done
kill -INT $sv
wait $sv
cat "$log"
grep -q 'exec sleep 30.*ended with exit code 137$' "$log" ||
  { echo "the interrupted supervisor did not stop its child" >&2; exit 1; }
