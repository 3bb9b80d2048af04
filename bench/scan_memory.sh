#!/usr/bin/env bash
# Memory of KivvetLE.exe while fast scan takes a listing of 10 and of
# 50 000 UIDs (about 1.3 MB) from tests/e2e/fakepop3.py: the largest
# working set seen (kivvetprobe, every 0.2 s) from the start of the check
# to the server's QUIT. (Wine reports no private bytes.)
#
#   bench/scan_memory.sh          (needs script/build win64 first)
#   COUNTS="10 50000" bench/scan_memory.sh
source "$(dirname "$0")/../tests/e2e/lib.sh"
e2e_setup bench-scan-memory
COUNTS=${COUNTS:-10 50000}
PROBE="$KIVVET_ROOT/build/win64/kivvetprobe.exe"

figure() { sed -nE "s/.* $1=([0-9]+).*/\1/p"; }

printf '%-9s %16s %8s\n' messages "working set (KB)" seconds
for n in $COUNTS; do
  rm -f "$E2E_DIR/server.port" "$E2E_DIR/server.log" "$E2E_DIR/KivvetLE.log"
  start_fakepop3 "$E2E_DIR/server.port" "$E2E_DIR/server.log" --messages "$n"
  server=$FAKEPOP3_PID
  configure_at "$E2E_DIR" "$(cat "$E2E_DIR/server.port")" checkAtStartup=0 soundNewOnly=1 fastScan=1
  start_program memory -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 60 bash -c "wine '$PROBE' stats >/dev/null 2>&1"
  started=$SECONDS
  wine "$PROBE" check >/dev/null
  peak_set=0
  sample() {
    local stats set_now
    stats=$(wine "$PROBE" stats 2>/dev/null | tr -d '\r' || true)
    set_now=$(figure workingset <<<"$stats")
    if [ "${set_now:-0}" -gt "$peak_set" ]; then peak_set=$set_now; fi
  }
  while ! grep -q ' QUIT$' "$E2E_DIR/server.log" 2>/dev/null && [ $((SECONDS - started)) -lt 300 ]; do
    sample
    sleep 0.2
  done
  sample
  grep -q ' UIDL$' "$E2E_DIR/server.log" || echo "no bare UIDL for $n" >&2
  printf '%-9s %16s %8s\n' "$n" $((peak_set / 1024)) $((SECONDS - started))
  close_program memory >/dev/null
  rm -f "$E2E_DIR/memory.exit"
  kill "$server" 2>/dev/null || true
done
e2e_finish >/dev/null
