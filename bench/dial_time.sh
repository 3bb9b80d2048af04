#!/usr/bin/env bash
# How soon a check connects to a name whose IPv6 address never answers and
# whose IPv4 address does: KivvetLE.exe under Wine, in a network namespace
# of the benchmark's own (script/lib/netns.sh) where "silentsix.test" is
# ::1 (a listener whose backlog is full: its SYNs are dropped) and then
# 127.0.0.1 (Dovecot). RUNS starts of the program (default 5), each
# checking once with the trace on; from the trace's millisecond stamps,
# the time from the start of the lookup, and from the first attempt, to
# the connection, and their medians. The goal: at most 0.4 s, where a
# client that tries the addresses one after another waits out the
# system's connect time-out (about 21 s on Windows).
#
#   (needs script/build win64 first)
#   RUNS=9 bench/dial_time.sh
source "$(dirname "$0")/../tests/e2e/lib.sh"
netns_reexec "::1 silentsix.test
127.0.0.1 silentsix.test" "$0" "$@"
e2e_setup bench-dial
RUNS=${RUNS:-5}

dovecot_start "$E2E_DIR"
python3 "$KIVVET_ROOT/script/lib/fullbacklog.py" "$DOVECOT_PORT" >"$E2E_DIR/silent.out" 2>&1 &
E2E_PIDS+=($!)
wait_for 30 grep -q ready "$E2E_DIR/silent.out" || { echo "no silent listener" >&2; exit 1; }
trace="$E2E_DIR/KivvetLE-trace.txt"
connected() { grep -q "connected to" "$trace" 2>/dev/null; }

echo "run  lookup-to-connected  first-attempt-to-connected  winner"
: >"$E2E_DIR/times"
for run in $(seq 1 "$RUNS"); do
  rm -f "$trace"
  configure serverHost=silentsix.test
  start_program "dial$run" -TOFF -V "-W$(winpath "$E2E_DIR")"
  wait_for 60 connected || echo "run $run: no connection" >&2
  awk -v run="$run" '
    /looking up/ { l = $1 }
    /connecting to/ && !a { a = $1 }
    /connected to/ { printf "%3d  %19.3f  %26.3f  %s\n", run, $1 - l, $1 - a, $NF; exit }' \
    "$trace" | tee -a "$E2E_DIR/times"
  close_program "dial$run" >/dev/null || true
done
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "median: lookup-to-connected $(awk '{ print $2 }' "$E2E_DIR/times" | median) s," \
  "first-attempt-to-connected $(awk '{ print $3 }' "$E2E_DIR/times" | median) s"
dovecot_stop
e2e_finish
