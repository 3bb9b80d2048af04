#!/usr/bin/env bash
# Time of one check (the server's greeting to the client's QUIT, read from
# the server's own raw log) for 10, 100 and 1000 messages, against the
# same private Dovecot on 127.0.0.1; median of RUNS runs (default 3).
# Every table is measured in one run, so its ratios hold even on a busy
# machine whose absolute times wander.
#
#   bench/check_time.sh          loopback: KivvetLE.exe under Wine walking
#                                UIDL, the floor client (bench/floor/) under
#                                the same Wine with WSAAsyncSelect and with
#                                blocking sockets, and Python's poplib
#   bench/check_time.sh tls      TLS from the first byte: the program beside
#                                poplib's POP3_SSL (a test CA trusted only in
#                                the Wine prefix, and by poplib's context);
#                                timed from the server's first handshake bytes
#   bench/check_time.sh link     through bench/delayproxy.py, DELAY ms each
#                                way (default 10: a 20 ms round trip): the
#                                program's walk and fast scan, poplib's walk
#                                and its one listing
#   bench/check_time.sh pipe     through the same proxy: the program with a
#                                first start's record (fast scan, nothing
#                                counted), walking, and with fast scan
#                                pipelined; poplib's one listing, a
#                                pipelined Python client that asks CAPA,
#                                and one that sends its flight right
#                                after the greeting (py-flight)
#   bench/check_time.sh tlspipe  the same proxy, TLS from the first byte,
#                                fast scan: the program's first and second
#                                check (the second resumes the session)
#                                beside POP3_SSL's listing and the two
#                                pipelined Python clients over TLS
#   bench/check_time.sh profile  loopback: the floor client with one of the
#                                program's habits put back at a time (tray
#                                updates, a timer restarted per chunk)
#
#   (needs script/build win64 first)
#   RUNS=5 COUNTS="10 100" DELAY=25 bench/check_time.sh link
#   LINK_WALKS=0 bench/check_time.sh link    (the two listings only)
source "$(dirname "$0")/../tests/e2e/lib.sh"
source "$KIVVET_ROOT/tests/e2e/certs.sh"
MODE=${1:-plain}
TLS_MODE=0
case "$MODE" in tls | tlspipe) TLS_MODE=1 ;; esac
e2e_setup "bench-check-$MODE"
RUNS=${RUNS:-3}
COUNTS=${COUNTS:-10 100 1000}
DELAY=${DELAY:-10}
BUILD="$KIVVET_ROOT/build/win64"

SECURITY=""
REFERENCE_ARGS=()
if [ "$TLS_MODE" = 1 ]; then
  CERTS="$E2E_DIR/certs"
  trustca() { wine "$BUILD/trustca.exe" "$1" "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1; }
  trap 'trustca remove; e2e_teardown' EXIT
  certs_make "$CERTS" ec
  trustca add
  dovecot_start "$E2E_DIR" --tls "$CERTS/localhost.pem" "$CERTS/localhost.key"
  HOST=localhost PORT=$DOVECOT_TLS_PORT SECURITY=connectionSecurity=2
  REFERENCE_ARGS=(--tls "$CERTS/ca.pem")
else
  dovecot_start "$E2E_DIR"
  HOST=127.0.0.1 PORT=$DOVECOT_PORT
fi
if [ "$MODE" = link ] || [ "$MODE" = pipe ] || [ "$MODE" = tlspipe ]; then
  python3 "$KIVVET_ROOT/bench/delayproxy.py" --target "$PORT" --delay "$DELAY" \
    --port-file "$E2E_DIR/proxy.port" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  wait_for 20 test -s "$E2E_DIR/proxy.port" || { echo "no proxy" >&2; exit 1; }
  PORT=$(cat "$E2E_DIR/proxy.port")
fi

# Seconds from the first line the server wrote (its greeting) to QUIT.
session_seconds() {
  local first quit
  first=$(find "$DOVECOT_RAWLOG" -name '*.out' -exec awk '{ print $1; exit }' {} \; | sort -n | head -1)
  quit=$(find "$DOVECOT_RAWLOG" -name '*.in' -exec grep -h ' QUIT' {} + | awk '{ print $1 }' | sort -n | tail -1)
  [ -n "${BENCH_DEBUG:-}" ] && echo "greeting $first quit $quit" >&2
  awk -v a="$first" -v b="$quit" 'BEGIN { printf "%.3f", b - a }'
}
quit_seen() { grep -rqs --include='*.in' ' QUIT' "$DOVECOT_RAWLOG"; }
clear_rawlog() { find "$DOVECOT_RAWLOG" -type f -delete; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
runs() { for i in $(seq "$RUNS"); do "$@"; echo; done | median; }

# The program's time is that of its second check, asked for from the menu
# while it runs: a check of the program's ordinary life, after the first
# one has loaded what a process loads once (for TLS, the root store).
# Arguments: more settings (fastScan=1).
program_check() {
  write_settings "$E2E_DIR/KivvetLE.cfg" \
    "serverHost=$HOST" "port=$PORT" userId=cat password=nyan checkAtStartup=1 soundNewOnly=1 $SECURITY "$@"
  rm -f "$E2E_DIR/KivvetLE.log"
  clear_rawlog
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 quit_seen || { echo "no QUIT" >&2; return 1; }
  sleep 1
  session_seconds >>"$E2E_DIR/first.times"
  echo >>"$E2E_DIR/first.times"
  clear_rawlog
  wine "$BUILD/kivvetprobe.exe" check >/dev/null
  wait_for 300 quit_seen || { echo "no QUIT" >&2; return 1; }
  sleep 0.5
  session_seconds
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

# The floor client's second check, like the program's. Arguments:
# async|blocking, then listing, tray, timer as wanted.
floor_check() {
  local go pid
  clear_rawlog
  rm -f "$E2E_DIR/go"
  mkfifo "$E2E_DIR/go"
  wine "$BUILD/floorclient.exe" "$1" "$PORT" "${@:2}" second <"$E2E_DIR/go" >/dev/null 2>&1 &
  pid=$!
  exec {go}>"$E2E_DIR/go"
  wait_for 300 quit_seen || echo "no QUIT" >&2
  sleep 0.5
  clear_rawlog
  echo go >&"$go"
  exec {go}>&-
  wait "$pid" || { echo "floor failed" >&2; return 1; }
  sleep 0.5
  session_seconds
}

# Arguments: --listing for the one listing instead of the walk.
reference_check() {
  clear_rawlog
  python3 "$KIVVET_ROOT/bench/reference_client.py" "$PORT" "${REFERENCE_ARGS[@]}" "$@"
  sleep 0.5
  session_seconds
}

case "$MODE" in
  plain)
    printf '%-9s %10s %10s %10s %10s %10s %10s\n' messages program "floor-as" "floor-bl" poplib \
      "prog/as" "prog/pop" ;;
  tls) printf '%-9s %12s %12s %7s\n' messages "program (s)" "poplib (s)" ratio ;;
  link)
    printf '%-9s %10s %10s %10s %10s %10s %10s %10s\n' messages "prog-walk" "prog-fast" "pop-walk" \
      "pop-list" "walk/fast" "fast/list" "pwalk/walk" ;;
  pipe)
    printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' messages "prog-new" "prog-walk" \
      "prog-pipe" "pop-list" "py-pipe" "py-flight" "new/list" "pipe/list" "pipe/py" "pipe/fl" ;;
  tlspipe)
    printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s\n' messages "prog-1st" "prog-2nd" "pop-list" \
      "py-pipe" "py-flight" "2nd/list" "1st/list" "2nd/fl" ;;
  profile)
    printf '%-9s %10s %10s %10s %10s %10s\n' messages async "+tray" "+timer" "+both" program ;;
esac

delivered=0
for n in $COUNTS; do
  dovecot_deliver $((n - delivered))
  delivered=$n
  case "$MODE" in
    plain)
      program=$(runs program_check)
      async=$(runs floor_check async)
      blocking=$(runs floor_check blocking)
      reference=$(runs reference_check)
      printf '%-9s %10s %10s %10s %10s %10s %10s\n' "$n" "$program" "$async" "$blocking" "$reference" \
        "$(ratio "$program" "$async")" "$(ratio "$program" "$reference")" ;;
    tls)
      program=$(runs program_check)
      reference=$(runs reference_check)
      printf '%-9s %12s %12s %7s\n' "$n" "$program" "$reference" "$(ratio "$program" "$reference")" ;;
    link)
      walk=1
      [ "${LINK_WALKS:-1}" = 1 ] && walk=$(runs program_check)
      fast=$(runs program_check fastScan=1)
      popwalk=1
      [ "${LINK_WALKS:-1}" = 1 ] && popwalk=$(runs reference_check)
      poplist=$(runs reference_check --listing)
      printf '%-9s %10s %10s %10s %10s %10s %10s %10s\n' "$n" "$walk" "$fast" "$popwalk" "$poplist" \
        "$(ratio "$walk" "$fast")" "$(ratio "$fast" "$poplist")" "$(ratio "$popwalk" "$walk")" ;;
    pipe)
      rm -f "$E2E_DIR/first.times"
      new=$(runs program_check fastScan=1 soundNewOnly=0)
      walk=1
      [ "${LINK_WALKS:-1}" = 1 ] && walk=$(runs program_check fastScan=0)
      piped=$(runs program_check fastScan=1)
      poplist=$(runs reference_check --listing)
      pypipe=$(runs reference_check --pipelined)
      pyflight=$(runs reference_check --flight)
      printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' "$n" "$new" "$walk" "$piped" \
        "$poplist" "$pypipe" "$pyflight" "$(ratio "$new" "$poplist")" \
        "$(ratio "$piped" "$poplist")" "$(ratio "$piped" "$pypipe")" "$(ratio "$piped" "$pyflight")" ;;
    tlspipe)
      rm -f "$E2E_DIR/first.times"
      second=$(runs program_check fastScan=1)
      first=$(grep . "$E2E_DIR/first.times" | median)
      poplist=$(runs reference_check --listing)
      pypipe=$(runs reference_check --pipelined)
      pyflight=$(runs reference_check --flight)
      printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s\n' "$n" "$first" "$second" "$poplist" "$pypipe" \
        "$pyflight" "$(ratio "$second" "$poplist")" "$(ratio "$first" "$poplist")" \
        "$(ratio "$second" "$pyflight")" ;;
    profile)
      async=$(runs floor_check async)
      tray=$(runs floor_check async tray)
      timer=$(runs floor_check async timer)
      both=$(runs floor_check async tray timer)
      program=$(runs program_check)
      printf '%-9s %10s %10s %10s %10s %10s\n' "$n" "$async" "$tray" "$timer" "$both" "$program" ;;
  esac
done

dovecot_stop
e2e_finish >/dev/null
