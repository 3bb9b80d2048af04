#!/usr/bin/env bash
# Time of one check (the server's greeting to the client's QUIT, read from
# the server's own raw log) for 10, 100 and 1000 messages: KivvetLE.exe
# under Wine beside Python's poplib sending the same commands, against the
# same private Dovecot on 127.0.0.1. Prints a table; median of three runs.
# With "tls", both talk TLS from the first byte to Dovecot's TLS port (a
# test CA trusted only in the Wine prefix, and by poplib's context), and
# the time runs from the server's first bytes, its part of the handshake.
#
#   bench/check_time.sh [tls]      (needs script/build win64 first)
#   RUNS=5 COUNTS="10 100" bench/check_time.sh
source "$(dirname "$0")/../tests/e2e/lib.sh"
source "$KIVVET_ROOT/tests/e2e/dovecot.sh"
source "$KIVVET_ROOT/tests/e2e/certs.sh"
MODE=${1:-plain}
e2e_setup "bench-check-$MODE"
RUNS=${RUNS:-3}
COUNTS=${COUNTS:-10 100 1000}

if [ "$MODE" = tls ]; then
  CERTS="$E2E_DIR/certs"
  trustca() { wine "$KIVVET_ROOT/build/win64/trustca.exe" "$1" "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1; }
  trap 'trustca remove; e2e_teardown' EXIT
  certs_make "$CERTS" ec
  trustca add
  dovecot_start "$E2E_DIR" --tls "$CERTS/localhost.pem" "$CERTS/localhost.key"
  HOST=localhost PORT=$DOVECOT_TLS_PORT SECURITY=connectionSecurity=2
  REFERENCE_ARGS=(--tls "$CERTS/ca.pem")
else
  dovecot_start "$E2E_DIR"
  HOST=127.0.0.1 PORT=$DOVECOT_PORT SECURITY=""
  REFERENCE_ARGS=()
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

# The program's time is that of its second check, asked for from the menu
# while it runs: a check of the program's ordinary life, after the first
# one has loaded what a process loads once (for TLS, the root store).
program_check() {
  python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" write "$E2E_DIR/KivvetLE.cfg" \
    "serverHost=$HOST" "port=$PORT" userId=cat password=nyan checkAtStartup=1 soundNewOnly=1 $SECURITY
  rm -f "$E2E_DIR/KivvetLE.log"
  clear_rawlog
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 quit_seen || { echo "no QUIT" >&2; return 1; }
  sleep 1
  clear_rawlog
  wine "$KIVVET_ROOT/build/win64/kivvetprobe.exe" check >/dev/null
  wait_for 300 quit_seen || { echo "no QUIT" >&2; return 1; }
  sleep 0.5
  session_seconds
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

reference_check() {
  clear_rawlog
  python3 "$KIVVET_ROOT/bench/reference_client.py" "$PORT" "${REFERENCE_ARGS[@]}"
  sleep 0.5
  session_seconds
}

printf '%-9s %12s %12s %7s\n' messages "program (s)" "poplib (s)" ratio
delivered=0
for n in $COUNTS; do
  dovecot_deliver $((n - delivered))
  delivered=$n
  program=$(for i in $(seq "$RUNS"); do program_check; echo; done | median)
  reference=$(for i in $(seq "$RUNS"); do reference_check; echo; done | median)
  ratio=$(awk -v a="$program" -v b="$reference" 'BEGIN { printf "%.2f", a / b }')
  printf '%-9s %12s %12s %7s\n' "$n" "$program" "$reference" "$ratio"
done

dovecot_stop
e2e_finish >/dev/null
