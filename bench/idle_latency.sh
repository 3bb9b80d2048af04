#!/usr/bin/env bash
# Mail told while the program waits in IDLE, and what the waiting costs:
# KivvetLE.exe under Wine with IMAP against a private Dovecot on
# 127.0.0.1, the interval an hour long, so that only the push can tell.
#
# First IDLE_SECONDS (default 300) of waiting, the mailbox empty, so that
# nothing is announced: the context switches of the program's process
# (every thread), of a bare message loop under the same Wine and of the
# prefix's wineserver, beside Dovecot's keep-alives ("* OK Still here",
# every imap_idle_notify_interval), the commands sent meanwhile and the
# connections held. Then DELIVERIES messages (default 10), one at a
# time, each once the session is back in IDLE; from the stamp taken just
# before the delivery (the delivery itself takes "deliver" of it),
# Dovecot's raw log of the session gives: its "* N EXISTS" (the server's
# part), the program's DONE (its wake), the answer to its header FETCH
# and its next IDLE, which it sends as it announces; with the program's
# Wine trace on (WINEDEBUG=+timestamp,+winsock,+winmm), its first sound;
# medians. Last, the
# same deliveries to bench/idle_client.py, the same dialogue in Python
# with nothing around it.
#
#   bench/idle_latency.sh          plain IMAP
#   bench/idle_latency.sh tls      TLS from the first byte (a test CA
#                                  trusted in the Wine prefix only)
#   bench/idle_latency.sh multi    no deliveries: the waiting alone, with
#                                  one IMAP mailbox and then with eight
#                                  in one copy (a Dovecot user each, all
#                                  on the one Maildir), each IDLE_SECONDS:
#                                  the same counts, the process's CPU time
#                                  and its VmRSS and VmHWM at the end
#   (needs script/build win64 first)
#   DELIVERIES=20 IDLE_SECONDS=600 bench/idle_latency.sh
source "$(dirname "$0")/../tests/e2e/lib.sh"
source "$KIVVET_ROOT/tests/e2e/certs.sh"
MODE=${1:-plain}
e2e_setup "bench-idle-$MODE"
DELIVERIES=${DELIVERIES:-10}
IDLE_SECONDS=${IDLE_SECONDS:-300}
BUILD="$KIVVET_ROOT/build/win64"

if [ "$MODE" = tls ]; then
  CERTS="$E2E_DIR/certs"
  trustca() { wine "$BUILD/trustca.exe" "$1" "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1; }
  trap 'trustca remove; e2e_teardown' EXIT
  certs_make "$CERTS" ec
  trustca add
  dovecot_start "$E2E_DIR" --tls "$CERTS/localhost.pem" "$CERTS/localhost.key" --imap
  HOST=localhost PORT=$DOVECOT_IMAPS_PORT SECURITY=2
else
  dovecot_start "$E2E_DIR" --imap
  HOST=127.0.0.1 PORT=$DOVECOT_IMAP_PORT SECURITY=0
fi

# The mailbox process's raw log, both ways, stamp first, tags kept; the
# session is the only one.
session_mpid() { sed -n 's/.*imap-login: Info: Login: user=<cat>.*mpid=\([0-9]*\),.*/\1/p' "$DOVECOT_LOG" | tail -1; }
session_lines() {
  local mpid
  mpid=$(session_mpid)
  [ -n "$mpid" ] || return 0
  find "$DOVECOT_RAWLOG" -name "*.$mpid.*.$1" -exec awk 1 {} + | sort -s -n -k1,1 | tr -d '\r'
}
idles() { session_lines in | grep -cE '^[0-9.]+ [^ ]+ IDLE$' || true; }
idling() { session_lines in | tail -1 | grep -qE '^[0-9.]+ [^ ]+ IDLE$' && [ "$(idles)" -ge "$1" ]; }
# stamp_after AFTER PATTERN: the stamp of the first line from AFTER on
# whose text (after its stamp) matches the extended regex.
stamp_after() {
  awk -v after="$1" -v pattern="$2" \
    '$1 >= after { line = $0; sub(/^[0-9.]+ /, "", line); if (line ~ pattern) { print $1; exit } }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", (b - a) * 1000 }'; }
cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat 2>/dev/null || echo 0; }
memory() { awk '/^Vm(RSS|HWM):/ { printf "%s %s kB  ", $1, $2 }' /proc/"$1"/status 2>/dev/null; }
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}

# The program's first sound, where it runs with
# WINEDEBUG=+timestamp,+winsock,+winmm: its own clock from its first send
# after the trace's line FROM (DONE, which Dovecot's log stamps) to
# winmm's PlaySound, added to DONE's stamp. Nothing without the trace.
TRACE="$E2E_DIR/bench.out"
trace_from() { [ -f "$TRACE" ] && wc -l <"$TRACE" || echo 0; }
send_to_sound() {
  tail -n +$(($1 + 1)) "$TRACE" | grep -E "WS2_sendto socket|MULTIMEDIA_PlaySound" |
    awk '{ split($1, a, ":") } /sendto/ && !s { s = a[1] } /PlaySound/ && s { print a[1] - s; exit }'
}
sound_heard() { [ -n "$(send_to_sound "$1")" ]; }
sound_stamp() {
  grep -q MULTIMEDIA_PlaySound "$TRACE" 2>/dev/null || return 0
  wait_for 10 sound_heard "$1" || return 0
  awk -v a="$2" -v b="$(send_to_sound "$1")" 'BEGIN { printf "%.6f", a + b }'
}

# deliveries LABEL: DELIVERIES messages, one at a time, each once the
# session (the last login's) is back in IDLE; a row each in LABEL.times.
MESSAGES=0
deliveries() {
  local k before delivered out sent exists done_at fetch_tag fetch_at idle_at sound_at from
  : >"$E2E_DIR/$1.times"
  for k in $(seq 1 "$DELIVERIES"); do
    local idles_before
    idles_before=$(idles)
    from=$(trace_from)
    before=$(date +%s.%N)
    dovecot_deliver 1
    delivered=$(date +%s.%N)
    MESSAGES=$((MESSAGES + 1))
    if ! wait_for 120 idling $((idles_before + 1)); then
      echo "$1, delivery $k: the session did not come back to IDLE" >&2
      return 1
    fi
    out=$(session_lines out)
    sent=$(session_lines in)
    exists=$(stamp_after "$before" "^[*] $MESSAGES EXISTS\$" <<<"$out")
    done_at=$(stamp_after "$exists" '^DONE$' <<<"$sent")
    # The header FETCH: its tag, then the server's tagged answer.
    fetch_tag=$(awk -v after="$done_at" '$1 >= after && /BODY\.PEEK\[HEADER/ { print $2; exit }' <<<"$sent")
    fetch_at=$(stamp_after "$done_at" "^$fetch_tag OK" <<<"$out")
    idle_at=$(stamp_after "$fetch_at" '^[^ ]+ IDLE$' <<<"$sent")
    sound_at=
    [ "$1" != program ] || sound_at=$(sound_stamp "$from" "$done_at")
    printf '%-9s %8d  %7s  %6s  %4s  %7s  %4s  %5s\n' "$1" "$k" "$(ms "$before" "$delivered")" \
      "$(ms "$before" "$exists")" "$(ms "$before" "$done_at")" "$(ms "$before" "$fetch_at")" \
      "$(ms "$before" "$idle_at")" "${sound_at:+$(ms "$before" "$sound_at")}" |
      tee -a "$E2E_DIR/$1.times"
  done
}
col() { awk -v c="$2" '{ print $c }' "$E2E_DIR/$1.times" | median; }
medians() {
  printf '%-9s %8s  %7s  %6s  %4s  %7s  %4s  %5s\n' "$1" median "$(col "$1" 3)" "$(col "$1" 4)" \
    "$(col "$1" 5)" "$(col "$1" 6)" "$(col "$1" 7)" "$(col "$1" 8)"
}

# apart COUNT START BEFORE: the context switches sampled once a second (in
# switches.COUNT; BEFORE of them at START) in the seconds that saw no keep-alive (in
# keepalives.COUNT) within a second of them, then how many such seconds
# had any.
apart() {
  awk 'FILENAME == ARGV[1] { alive[++n] = $1; next }
    !started { last = $1; previous = $2; started = 1; next }
    { near = 0
      for (k = 1; k <= n; k++) if (alive[k] >= last - 1 && alive[k] <= $1 + 1) near = 1
      if (!near && $2 > previous) { sum += $2 - previous; seconds++ }
      last = $1; previous = $2 }
    END { printf "%d in %d seconds", sum, seconds }' "$E2E_DIR/keepalives.$1" \
    <(echo "$2 $3"; cat "$E2E_DIR/switches.$1")
}
# waiting COUNT: COUNT IMAP mailboxes in one copy, user mN for slot N,
# slot 0 in KivvetLE.cfg and the others in KivvetLE.mbx; once each
# session waits in IDLE, IDLE_SECONDS of nothing.
all_idling() { [ "$(find "$DOVECOT_RAWLOG" -name '*.in' -exec grep -hE '^[0-9.]+ [^ ]+ IDLE' {} + | wc -l)" -ge "$1" ]; }
waiting() {
  local count=$1 slot accounts=() program holder start before after ticks held_before sent
  for slot in $(seq 0 $((count - 1))); do
    grep -q "^m$slot:" "$DOVECOT_DIR/passwd" || dovecot_add_user "m$slot" nyan
    accounts+=("serverHost=$HOST;port=$PORT;userId=m$slot;password=nyan;mailProtocol=1;connectionSecurity=$SECURITY;intervalMinutes=60;accountName=m$slot")
  done
  # shellcheck disable=SC2046 # one argument a field
  write_settings "$E2E_DIR/KivvetLE.cfg" $(tr ';' ' ' <<<"${accounts[0]}") checkAtStartup=1 \
    soundNewOnly=1 notifyBalloon=1
  rm -f "$E2E_DIR"/KivvetLE*.log "$E2E_DIR/KivvetLE.mbx"
  [ "$count" -gt 1 ] &&
    python3 "$KIVVET_ROOT/script/lib/kivvetcfg.py" mailboxes "$E2E_DIR/KivvetLE.mbx" "${accounts[@]:1}"
  find "$DOVECOT_RAWLOG" -type f -delete
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 all_idling "$count" || { echo "not every mailbox waited in IDLE" >&2; return 1; }
  sleep 2
  program=$(program_pid "$E2E_DIR")
  holder=$WINE_HOLD_PID
  sent=$(find "$DOVECOT_RAWLOG" -name '*.in' -exec cat {} + | wc -l)
  start=$(date +%s.%N)
  before=$(switches "$program") held_before=$(switches "$holder") ticks=$(cpu_ticks "$program")
  for _ in $(seq "$IDLE_SECONDS"); do
    sleep 1
    echo "$(date +%s.%N) $(switches "$program")"
  done >"$E2E_DIR/switches.$count"
  after=$(switches "$program")
  find "$DOVECOT_RAWLOG" -name '*.out' -exec awk -v after="$start" '$1 >= after && / OK Still here/ { print $1 }' {} + |
    sort -n >"$E2E_DIR/keepalives.$count"
  echo "$count mailbox(es), $IDLE_SECONDS s in IDLE:" \
    "keep-alives $(wc -l <"$E2E_DIR/keepalives.$count")," \
    "context switches $((after - before)) (the bare loop $(($(switches "$holder") - held_before)))," \
    "of them in seconds with no keep-alive $(apart "$count" "$start" "$before")," \
    "CPU $(($(cpu_ticks "$program") - ticks)) ticks of $(getconf CLK_TCK)/s," \
    "lines sent $(($(find "$DOVECOT_RAWLOG" -name '*.in' -exec cat {} + | wc -l) - sent))," \
    "connections $(client_connections "$PORT"), $(memory "$program")"
  close_program bench >/dev/null || true
  rm -f "$E2E_DIR/bench.exit"
}
if [ "$MODE" = multi ]; then
  waiting 1
  waiting 8
  dovecot_stop
  e2e_finish >/dev/null
  exit 0
fi

write_settings "$E2E_DIR/KivvetLE.cfg" "serverHost=$HOST" "port=$PORT" userId=cat password=nyan \
  checkAtStartup=1 mailProtocol=1 "connectionSecurity=$SECURITY" intervalMinutes=60 soundNewOnly=1 \
  notifyBalloon=1 showPreviews=1
start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 300 idling 1 || { echo "the program never waited in IDLE" >&2; exit 1; }

# Nothing new yet: no announcement, no blink, the program only waits.
echo "== $IDLE_SECONDS s of waiting in IDLE, the mailbox empty"
program=$(program_pid "$E2E_DIR")
server=$(wineserver_pid)
# A bare message loop under the same Wine: the probe that holds the desktop.
holder=$WINE_HOLD_PID
interval=$(doveconf -c "$DOVECOT_CONF" -h imap_idle_notify_interval 2>/dev/null || echo "?")
sent_before=$(session_lines in | wc -l)
start=$(date +%s.%N)
program_before=$(switches "$program")
server_before=$(switches "$server")
holder_before=$(switches "$holder")
sleep "$IDLE_SECONDS"
program_after=$(switches "$program")
server_after=$(switches "$server")
holder_after=$(switches "$holder")
keepalives=$(session_lines out | awk -v after="$start" '$1 >= after && / OK Still here/' | wc -l)
echo "keep-alives from Dovecot: $keepalives (imap_idle_notify_interval $interval)"
echo "context switches, the program's process (pid $program, $(ls /proc/"$program"/task | wc -l) threads):" \
  "$((program_after - program_before))"
echo "context switches, a bare message loop (the desktop's holder, pid $holder):" \
  "$((holder_after - holder_before))"
echo "context switches, the wineserver (pid $server): $((server_after - server_before))"
echo "commands sent meanwhile: $(session_lines in | tail -n +$((sent_before + 1)) | tr -d '\r' | sed -E 's/^[0-9.]+ //' | tr '\n' '|')"
echo "connections to the port: $(client_connections "$PORT"); held by:"
ss -Htanp state established "( dport = :$PORT )" 2>/dev/null | sed -E 's/.*users:/  /'

echo "client    delivery  deliver  exists  done  fetched  idle  sound  (ms from the stamp before the delivery)"
deliveries program
medians program
logins=$(grep -c 'imap-login: Info: Login: user=<cat>' "$DOVECOT_LOG" || true)
echo "logins of the program: $logins; connections to the port: $(client_connections "$PORT")"

close_program bench >/dev/null || true

echo "== the reference client (bench/idle_client.py), the same deliveries"
python3 "$KIVVET_ROOT/bench/idle_client.py" "$PORT" cat nyan ${CERTS:+--tls "$CERTS/ca.pem"} \
  >"$E2E_DIR/reference.out" 2>&1 &
E2E_PIDS+=($!)
logins_before=$logins
reference_in() { [ "$(grep -c 'imap-login: Info: Login: user=<cat>' "$DOVECOT_LOG")" -gt "$logins_before" ]; }
wait_for 60 reference_in && wait_for 60 idling 1 || { echo "the reference client never waited in IDLE" >&2; exit 1; }
deliveries reference
medians program
medians reference
dovecot_stop
e2e_finish >/dev/null
