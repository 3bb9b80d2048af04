#!/usr/bin/env bash
# Many checks in a row under Wine against our server misbehaving at random
# (a fixed seed: refusals in any state, a close, reset or refusal instead
# of QUIT's answer, now and then a reset or close earlier, replies in
# pieces, bytes outside ASCII, new and deleted mail). Each check is asked
# for at once through the menu's command (tests/e2e/probe), not after the
# interval. After every check the server saw the connection end, the
# program holds no socket, and the UID file is whole; every request
# starts a check, so the program is never left busy. The program's memory
# and descriptors are measured after a warm-up and at the end and must
# not grow beyond a small allowance.
source "$(dirname "$0")/lib.sh"
e2e_setup soak

CHECKS=${KIVVET_SOAK_CHECKS:-50}
WARMUP=10
SEED=${KIVVET_SOAK_SEED:-kivvet-soak-1}
PROBE="$KIVVET_ROOT/build/win64/kivvetprobe.exe"
# Allowances: the program allocates nothing per check, but Wine's own heap
# and caches settle slowly.
RSS_ALLOWANCE_KB=3072
FD_ALLOWANCE=0

LOG="$E2E_DIR/server.log"
start_fakepop3 "$E2E_DIR/port" "$LOG" --random "$SEED" --messages 5 || { fail "server did not start"; e2e_finish; }
# The interval is long: every check here is one we asked for.
configure_at "$E2E_DIR" "$(cat "$E2E_DIR/port")" \
  checkAtStartup=0 intervalMinutes=60 soundNotify=0 blinkNewOnly=1 soundNewOnly=1

start_program soak -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 tray_shows 1 || fail "no icon"
PID=$(program_pid "$E2E_DIR")
[ -n "$PID" ] || { fail "the program's process is not found"; e2e_finish; }

# Figures of the running program: the Windows side through the probe
# (Wine reports the working set; its handle and GUI object counts are 0),
# the Linux side from /proc.
figures() {
  local windows rss fds
  windows=$(wine "$PROBE" stats 2>/dev/null | tr -d '\r')
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$PID/status")
  fds=$(ls "/proc/$PID/fd" | wc -l)
  echo "$windows rss_kb=$rss fds=$fds"
}
field() { sed -nE "s/.*\\b$2=([0-9]+).*/\\1/p" <<<"$1"; }

# The program is alone in its prefix: every network socket its wineserver
# holds is the program's.
WINESERVER=$(wineserver_pid)
[ -n "$WINESERVER" ] || { fail "our wineserver is not found"; e2e_finish; }
check_ended() {
  [ -n "$(server_ending "$LOG" "$1")" ] && [ "$(network_sockets "$WINESERVER")" -eq 0 ] &&
    [ "$(network_sockets "$PID")" -eq 0 ] && [ "$(client_connections "$(cat "$E2E_DIR/port")")" -eq 0 ]
}

started=$SECONDS
slow=0
for n in $(seq 1 "$CHECKS"); do
  if [ "$n" -eq $((WARMUP + 1)) ]; then
    before=$(figures)
    echo "-- after $WARMUP checks: $before"
  fi
  wine "$PROBE" check >/dev/null 2>&1 || { fail "check $n: the probe found no program"; break; }
  if ! wait_for 60 server_connected "$LOG" "$n"; then
    fail "check $n: asked for, but it never connected: the program stays busy"
    break
  fi
  t0=$SECONDS
  if ! wait_for 130 check_ended "$n"; then
    fail "check $n: did not end: the server saw '$(server_ending "$LOG" "$n")', the program holds $(network_sockets "$WINESERVER") socket(s)"
    break
  fi
  [ $((SECONDS - t0)) -ge 30 ] && slow=$((slow + 1))
  if [ -e "$E2E_DIR/KivvetLE.log" ] && ! file_uids >/dev/null; then
    fail "check $n: the UID file is $(stat -c %s "$E2E_DIR/KivvetLE.log") bytes"
  fi
done
after=$(figures)
elapsed=$((SECONDS - started))
done_checks=$(grep -c -- "-- connected" "$LOG" || true)
echo "-- after $done_checks checks: $after"
echo "-- $done_checks checks in ${elapsed}s ($slow ended by a time-out); the server's plans:"
sed -nE 's/^[^ ]* #[0-9]+ -- plan: [0-9]+ messages, pieces of [^,]*, //p' "$LOG" | sed 's/, foreign bytes//' |
  sort | uniq -c | sort -rn | sed 's/^/     /'

[ "$done_checks" -ge "$CHECKS" ] && pass "$done_checks checks, each connected when asked for and ended with no socket held" ||
  fail "only $done_checks of $CHECKS checks"
test -s "$E2E_DIR/KivvetLE.log" && file_uids >/dev/null &&
  pass "the UID file is 32768 bytes after every check" || fail "the UID file is missing or not whole"

if [ -z "$(field "$after" rss_kb)" ]; then
  fail "the program is gone: no figures at the end"
elif [ -n "${before:-}" ]; then
  rss_growth=$(($(field "$after" rss_kb) - $(field "$before" rss_kb)))
  fd_growth=$(($(field "$after" fds) - $(field "$before" fds)))
  handle_growth=$(($(field "$after" handles) - $(field "$before" handles)))
  [ "$rss_growth" -le "$RSS_ALLOWANCE_KB" ] && pass "resident memory grew by ${rss_growth} kB (allowed $RSS_ALLOWANCE_KB)" ||
    fail "resident memory grew by ${rss_growth} kB (allowed $RSS_ALLOWANCE_KB)"
  [ "$fd_growth" -le "$FD_ALLOWANCE" ] && pass "descriptors grew by $fd_growth (allowed $FD_ALLOWANCE)" ||
    fail "descriptors grew by $fd_growth (allowed $FD_ALLOWANCE)"
  [ "$handle_growth" -le 0 ] && pass "handles grew by $handle_growth" || fail "handles grew by $handle_growth"
fi

screenshot soak-end >/dev/null
close_program soak || fail "did not end"
e2e_finish
