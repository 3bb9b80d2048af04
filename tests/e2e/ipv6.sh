#!/usr/bin/env bash
# IPv6 and dual stack under Wine, inside a network namespace of the test's
# own (its loopback only, and a hosts file of its own):
#  - Dovecot on ::1 only: the server box "::1", and "[::1]", log in;
#  - Dovecot on ::1 and 127.0.0.1: "localhost", a name with both
#    addresses here, logs in;
#  - a name whose IPv6 address never answers (a listener on ::1 whose
#    backlog is full) and whose IPv4 address is Dovecot's: the check begins
#    on IPv6, tries IPv4 beside it and logs in over IPv4.
# Each case is judged by Dovecot's log and the program's trace (-V).
source "$(dirname "$0")/lib.sh"
netns_reexec "127.0.0.1 localhost
::1 localhost
::1 silentsix.test
127.0.0.1 silentsix.test" "$0" "$@"
e2e_setup ipv6

trace="$E2E_DIR/KivvetLE-trace.txt"
# check_with LABEL BOX: one copy checking at start-up against BOX, with
# the trace; returns once Dovecot has seen its QUIT, or has given up.
check_with() {
  local label=$1 box=$2
  rm -f "$trace"
  configure "serverHost=$box"
  start_program "$label" -TOFF -V "-W$(winpath "$E2E_DIR")"
}
logged_in_from() { dovecot_log_since "$mark" | grep -qE "Login: user=<cat>.*rip=$1,"; }
# The trace's lines end as Windows ends them.
attempts_traced() { grep -oE 'connecting to [^ ]+|connected to [^ ]+' "$trace" | tr -d '\r' | tr '\n' '|'; }

echo "-- Dovecot on ::1 only"
dovecot_start "$E2E_DIR" --listen "::1"
for box in "::1" "[::1]"; do
  mark=$(dovecot_log_mark)
  check_with only6 "$box"
  if wait_for 60 logged_in_from '::1'; then
    pass "\"$box\" logs in over IPv6"
  else
    fail "\"$box\" did not log in: $(grep -E 'connect|check ends' "$trace" 2>/dev/null | tr '\n' '|')"
  fi
  grep -q "looking up" "$trace" 2>/dev/null && fail "\"$box\" was looked up" ||
    pass "\"$box\" is taken as an address"
  close_program only6 || fail "the copy for \"$box\" did not end"
done
dovecot_stop

echo "-- Dovecot on ::1 and 127.0.0.1"
dovecot_start "$E2E_DIR" --listen "127.0.0.1, ::1"
mark=$(dovecot_log_mark)
check_with both localhost
if wait_for 60 logged_in_from '(::1|127\.0\.0\.1)'; then
  pass "\"localhost\" logs in"
else
  fail "\"localhost\" did not log in"
fi
grep -q "lookup: error 0, 2 addresses" "$trace" && pass "the lookup found both addresses" ||
  fail "the lookup found: $(grep 'lookup:' "$trace")"
[ "$(grep -c 'connecting to' "$trace")" = 1 ] && pass "the first address connected alone" ||
  fail "attempts: $(grep 'connecting to' "$trace" | tr '\n' '|')"
close_program both || fail "the copy for localhost did not end"
dovecot_stop

echo "-- a name whose IPv6 address never answers"
dovecot_start "$E2E_DIR"
python3 "$KIVVET_ROOT/script/lib/fullbacklog.py" "$DOVECOT_PORT" >"$E2E_DIR/silent.out" 2>&1 &
E2E_PIDS+=($!)
wait_for 30 grep -q ready "$E2E_DIR/silent.out" || fail "no silent listener on ::1"
mark=$(dovecot_log_mark)
check_with silent silentsix.test
if wait_for 60 logged_in_from '127\.0\.0\.1'; then
  pass "it logs in over IPv4"
else
  fail "no login over IPv4: $(grep -E 'connect|check ends' "$trace" 2>/dev/null | tr '\n' '|')"
fi
attempts=$(attempts_traced)
[ "$attempts" = "connecting to [::1]|connecting to 127.0.0.1|connected to 127.0.0.1|" ] &&
  pass "IPv6 first, then IPv4 beside it, and IPv4 kept" || fail "the attempts were: $attempts"
# For the record only (timing is the benchmark's): the trace's stamps.
awk '/connecting to \[::1\]/ { s = $1 } /connected to 127.0.0.1/ { printf "  (connected %.3f s after the first attempt)\n", $1 - s }' "$trace"
close_program silent || fail "the copy for silentsix.test did not end"
dovecot_stop

e2e_finish
