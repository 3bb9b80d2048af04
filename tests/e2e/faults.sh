#!/usr/bin/env bash
# Misbehaving servers under Wine (our own scriptable server on 127.0.0.1):
# for each, the right icon, and the program checks again at the next
# interval (one minute here), so no fault leaves it busy.
source "$(dirname "$0")/lib.sh"
e2e_setup faults

connections() { grep -c -- "-- connected" "$E2E_DIR/$1.log" 2>/dev/null || true; }
connected_times() { [ "$(connections "$1")" -ge "$2" ]; }

# run_case MODE ICON(error|normal) RECHECK(yes|no) [settings...]
run_case() {
  local mode=$1 icon=$2 recheck=$3
  shift 3
  echo "-- $mode"
  python3 "$KIVVET_ROOT/tests/e2e/fakepop3.py" --mode "$mode" --messages 3 \
    --port-file "$E2E_DIR/$mode.port" --log "$E2E_DIR/$mode.log" >/dev/null 2>&1 &
  local server=$!
  E2E_PIDS+=($server)
  wait_for 20 test -s "$E2E_DIR/$mode.port" || { fail "$mode: server did not start"; return; }
  python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" write "$E2E_DIR/KivvetLE.cfg" \
    serverHost=127.0.0.1 "port=$(cat "$E2E_DIR/$mode.port")" userId=cat password=nyan \
    checkAtStartup=1 intervalMinutes=1 soundNotify=0 blinkNewOnly=1 soundNewOnly=1 "$@"
  rm -f "$E2E_DIR/KivvetLE.log"
  start_program "$mode" -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 60 connected_times "$mode" 1 || fail "$mode: the program never connected"
  if [ "$icon" = error ]; then
    # Under Wine a reset reaches the program as a close without an error
    # (or not at all), and the check ends by the time-out.
    wait_for 75 tray_shows_error && pass "$mode: the error icon" || fail "$mode: no error icon"
  else
    sleep 2
    tray_shows_normal && pass "$mode: the normal icon" || fail "$mode: not the normal icon"
  fi
  screenshot "$mode" >/dev/null
  if [ "$recheck" = yes ]; then
    wait_for 150 connected_times "$mode" 2 && pass "$mode: the next check still comes" ||
      fail "$mode: no further check: the program stays busy"
  fi
  close_program "$mode" || fail "$mode: did not end"
  kill "$server" 2>/dev/null || true
}

run_case long-greeting normal no useApop=1
run_case no-apop error no useApop=1
run_case deny error no
run_case reset-after-greeting error yes
run_case close-on-quit normal yes
run_case silent-on-quit normal yes

e2e_finish
