#!/usr/bin/env bash
# Life on a desktop, under Wine against our own server (fakepop3.py): a
# server that answers the first login with "-ERR [IN-USE]" is tried again
# after a minute, long before the interval (five minutes here), without
# the error icon; the check that then finds new mail also shows a
# notification balloon; a sleep and a wake broadcast to the hidden window
# bring one check at once. Each step is judged by the server's log.
source "$(dirname "$0")/lib.sh"
e2e_setup wake

PROBE="$KIVVET_ROOT/build/win64/kivvetprobe.exe"
LOG="$E2E_DIR/server.log"
start_fakepop3 "$E2E_DIR/port" "$LOG" --mode in-use --messages 2 || fail "the server did not start"
configure_at "$E2E_DIR" "$(cat "$E2E_DIR/port")" accountName=ねこ \
  intervalMinutes=5 soundNotify=0 blinkNewOnly=1 notifyBalloon=1

connected() { server_connected "$LOG" "$1"; }
ended() { [ -n "$(server_ending "$LOG" "$1")" ]; }
# Seconds since the epoch at which the server saw connection N.
connected_at() { date -d "$(server_connected_at "$LOG" "$1")" +%s.%N; }
seconds_between() { python3 -c "import sys; print(int(float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }

echo "-- a mailbox in use elsewhere"
start_program wake -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 connected 1 || fail "the program never connected"
if wait_for 30 ended 1; then
  grep -q "#1 QUIT$" "$LOG" && pass "the refused login is followed by QUIT" || fail "no QUIT after the refusal"
  wait_for 10 tray_shows_normal && pass "no error icon for the first refusal" || fail "the error icon shows"
else
  fail "the first session did not end"
fi
if wait_for 200 connected 2; then
  gap=$(seconds_between "$(connected_at 1)" "$(connected_at 2)")
  [ "$gap" -ge 59 ] && [ "$gap" -lt 300 ] && pass "tried again after $gap s, sooner than the interval" ||
    fail "tried again after $gap s"
else
  fail "no retry within 200 s"
fi

echo "-- new mail, told in a balloon"
if wait_for 30 balloon_shown; then
  pass "the balloon shows"
  screenshot balloon >/dev/null
else
  fail "no balloon"
fi
wait_for 30 ended 2 || fail "the second session did not end"

echo "-- sleep and wake"
wine "$PROBE" suspend >/dev/null || fail "the probe found no window for the sleep"
woke=$(date +%s.%N)
wine "$PROBE" resume >/dev/null || fail "the probe found no window for the wake"
if wait_for 120 connected 3; then
  after=$(seconds_between "$woke" "$(connected_at 3)")
  [ "$after" -lt 240 ] && pass "a check $after s after the wake" || fail "the check came $after s after the wake"
else
  fail "no check after the wake"
fi
wait_for 30 ended 3 || fail "the wake's session did not end"
close_program wake || fail "the program did not end"
e2e_finish
