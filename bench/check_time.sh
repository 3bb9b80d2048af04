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
#   bench/check_time.sh imap     through two such proxies to the same
#                                Dovecot (POP3 and IMAP): the program's
#                                POP3 second check (fast scan, flight after
#                                the greeting) beside its IMAP second check
#                                on a new connection (mark known, no new
#                                mail: LOGIN, EXAMINE and UID FETCH in one
#                                send, then IDLE), timed to the client's
#                                QUIT and IDLE, and to the server's answer
#                                that holds the result; the check in the
#                                held session (DONE to IDLE); imaplib
#                                (bench/imap_reference.py) to its LOGOUT
#   bench/check_time.sh imapstatus
#                                the same proxies, a Dovecot offering no
#                                IDLE: the program's POP3 second check
#                                beside its IMAP second check (mark known,
#                                no new mail: LOGIN, CAPABILITY and STATUS
#                                in one send, then LOGOUT, no EXAMINE),
#                                timed to the client's QUIT and LOGOUT, and
#                                to the server's answer that holds the
#                                result (the listing; STATUS's answer);
#                                beside imaplib's lean STATUS
#                                (imap_reference.py --status: LOGIN,
#                                STATUS, LOGOUT) to its LOGOUT and to
#                                STATUS's answer
#   bench/check_time.sh bigfetch loopback, COUNTS default 30000 messages of
#                                which 10 unread, put into the Maildir at
#                                once: the program's first check (no mark:
#                                LOGIN, EXAMINE, UID FETCH 1:* (UID FLAGS))
#                                from the greeting to its IDLE, beside
#                                imaplib asking the same fetch
#                                (bench/imap_reference.py --all) to its
#                                LOGOUT, and to the fetch's end for both
#   bench/check_time.sh multi    through the imap mode's two proxies, COUNTS
#                                default 1000, every message read: eight
#                                mailboxes in one copy (four POP3 with fast
#                                scan, four IMAP; a Dovecot user each, all
#                                on the one Maildir) checked from one menu
#                                check, each IMAP one on a new connection
#                                (the first sessions ended by a suspend):
#                                the first greeting to the last QUIT or
#                                IDLE; beside one POP3 and one IMAP mailbox
#                                alone, the same way; the first check at
#                                start-up too (multi.first); BENCH_TRACE=1
#                                runs the program with -V
#   bench/check_time.sh bigsearch
#                                the same mailbox through one such proxy
#                                (DELAY=0: none): the program's first
#                                check (LOGIN, EXAMINE, UID FETCH * (UID),
#                                UID SEARCH UNSEEN) to its IDLE, beside
#                                imaplib asking UID SEARCH UNSEEN
#                                (imap_reference.py --unseen) to its
#                                LOGOUT, and to the search's end for both;
#                                the program's peak memory (VmHWM of its
#                                Wine process) at its IDLE, beside that of
#                                the program left idle 5 s, no check
#   bench/check_time.sh profile  loopback: the floor client with one of the
#                                program's habits put back at a time (tray
#                                updates, a timer restarted per chunk)
#
#   (needs script/build win64 first)
#   RUNS=5 COUNTS="10 100" DELAY=25 bench/check_time.sh link
#   LINK_WALKS=0 bench/check_time.sh link    (the two listings only)
#   BENCH_DEBUG=DIR bench/check_time.sh imap  (keeps each check's raw logs)
#   KIVVET_EXE=DIR/KivvetLE.exe bench/check_time.sh bigfetch  (another build;
#                                the file keeps its name, which ends it)
source "$(dirname "$0")/../tests/e2e/lib.sh"
source "$KIVVET_ROOT/tests/e2e/certs.sh"
MODE=${1:-plain}
TLS_MODE=0
case "$MODE" in tls | tlspipe) TLS_MODE=1 ;; esac
e2e_setup "bench-check-$MODE"
RUNS=${RUNS:-3}
COUNTS=${COUNTS:-10 100 1000}
case "$MODE" in bigfetch | bigsearch) COUNTS=${COUNTS_BIG:-30000} ;; multi) COUNTS=${COUNTS_MULTI:-1000} ;; esac
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
elif [ "$MODE" = imap ] || [ "$MODE" = bigfetch ] || [ "$MODE" = bigsearch ] || [ "$MODE" = multi ]; then
  dovecot_start "$E2E_DIR" --imap
  HOST=127.0.0.1 PORT=$DOVECOT_PORT IMAP_PORT=$DOVECOT_IMAP_PORT
elif [ "$MODE" = imapstatus ]; then
  dovecot_start "$E2E_DIR" --imap --imap-no-idle
  HOST=127.0.0.1 PORT=$DOVECOT_PORT IMAP_PORT=$DOVECOT_IMAP_PORT
else
  dovecot_start "$E2E_DIR"
  HOST=127.0.0.1 PORT=$DOVECOT_PORT
fi

# delay_port NAME TARGET: a delayproxy.py to TARGET; sets PROXY_PORT.
delay_port() {
  python3 "$KIVVET_ROOT/bench/delayproxy.py" --target "$2" --delay "$DELAY" \
    --port-file "$E2E_DIR/$1.port" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  wait_for 20 test -s "$E2E_DIR/$1.port" || { echo "no proxy" >&2; exit 1; }
  PROXY_PORT=$(cat "$E2E_DIR/$1.port")
}
case "$MODE" in
  link | pipe | tlspipe) delay_port proxy "$PORT" && PORT=$PROXY_PORT ;;
  imap | imapstatus | multi)
    delay_port proxy "$PORT" && PORT=$PROXY_PORT
    delay_port imapproxy "$IMAP_PORT" && IMAP_PORT=$PROXY_PORT
    ;;
  bigsearch) [ "$DELAY" = 0 ] || { delay_port imapproxy "$IMAP_PORT" && IMAP_PORT=$PROXY_PORT; } ;;
esac
# The server's line that ends the answer holding the result.
case "$MODE" in
  bigsearch) ANSWER=' OK Search completed' ;;
  imapstatus) ANSWER=' OK Status completed' ;;
  *) ANSWER=' OK Fetch completed' ;;
esac

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

# Stamps of the raw logs: the first line the server wrote (its greeting),
# the last line a client sent that matches the extended regex, the last
# line the server wrote that matches it; from-to in seconds.
first_out() { find "$DOVECOT_RAWLOG" -name '*.out' -exec awk '{ print $1; exit }' {} \; | sort -n | head -1; }
last_in() { find "$DOVECOT_RAWLOG" -name '*.in' -exec grep -hE "$1" {} + | awk '{ print $1 }' | sort -n | tail -1; }
last_out() { find "$DOVECOT_RAWLOG" -name '*.out' -exec grep -hE "$1" {} + | awk '{ print $1 }' | sort -n | tail -1; }
span() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
idles() { find "$DOVECOT_RAWLOG" -name '*.in' -exec grep -hE '^[0-9.]+ a[0-9]+ IDLE' {} + | wc -l; }
idles_seen() { [ "$(idles)" -ge "$1" ]; }
imap_closed() { [ "$(dovecot_log_since "$1" | grep -c 'imap(cat).*Disconnected')" -ge 1 ]; }

# Every message read (\Seen, "S" in Maildir's name), so that the IMAP
# program's first check announces nothing: its second check runs, as the
# POP3 one, in a program at rest. POP3 does not look at the flags.
mark_all_seen() {
  local file
  for file in "$DOVECOT_MAILDIR"/new/*; do
    [ -e "$file" ] && mv "$file" "$DOVECOT_MAILDIR/cur/${file##*/}:2,S"
  done
  for file in "$DOVECOT_MAILDIR"/cur/*; do
    case "$file" in *:2,*S*) ;; *:2,*) mv "$file" "${file}S" ;; *) mv "$file" "$file:2,S" ;; esac
  done
}

# The program's POP3 second check, as in pipe mode (fast scan, flight
# right after the greeting), to the client's QUIT; the server's last line
# (the listing and QUIT's answer, written together) goes to pop.answer.
pop_check() {
  program_check fastScan=1
  span "$(first_out)" "$(last_out .)" >>"$E2E_DIR/pop.answer"
  [ -n "${BENCH_DEBUG:-}" ] && cp -r "$DOVECOT_RAWLOG" "$BENCH_DEBUG/pop.$(date +%s%N)"
  echo >>"$E2E_DIR/pop.answer"
}

# The program's IMAP checks. The first (no mark) ends in IDLE; a suspend
# ends that session without a word, and the menu's check then opens a new
# one with the mark known: greeting to IDLE, printed, and greeting to the
# fetch's end (imap.answer). The menu's check again, in the held session:
# DONE, NOOP and UID FETCH, IDLE (held.idle: DONE to IDLE).
imap_check() {
  local mark
  write_settings "$E2E_DIR/KivvetLE.cfg" serverHost=127.0.0.1 "port=$IMAP_PORT" userId=cat \
    password=nyan checkAtStartup=1 soundNewOnly=1 mailProtocol=1
  rm -f "$E2E_DIR/KivvetLE.log"
  clear_rawlog
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 idles_seen 1 || { echo "no IDLE" >&2; return 1; }
  mark=$(dovecot_log_mark)
  wine "$BUILD/kivvetprobe.exe" suspend >/dev/null
  wait_for 60 imap_closed "$mark" || { echo "session not closed" >&2; return 1; }
  clear_rawlog
  wine "$BUILD/kivvetprobe.exe" check >/dev/null
  wait_for 300 idles_seen 1 || { echo "no IDLE" >&2; return 1; }
  sleep 0.5
  local greeting
  greeting=$(first_out)
  span "$greeting" "$(last_out ' OK Fetch completed')" >>"$E2E_DIR/imap.answer"
  echo >>"$E2E_DIR/imap.answer"
  span "$greeting" "$(last_in '^[0-9.]+ a[0-9]+ (IDLE|LOGOUT)')"
  wine "$BUILD/kivvetprobe.exe" check >/dev/null
  wait_for 300 idles_seen 2 || { echo "no second IDLE" >&2; return 1; }
  sleep 0.5
  span "$(last_in '^[0-9.]+ DONE')" "$(last_in '^[0-9.]+ a[0-9]+ IDLE')" >>"$E2E_DIR/held.idle"
  [ -n "${BENCH_DEBUG:-}" ] && cp -r "$DOVECOT_RAWLOG" "$BENCH_DEBUG/imap.$(date +%s%N)"
  echo >>"$E2E_DIR/held.idle"
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

# The program's IMAP checks against the server without IDLE. The first
# (no mark) examines and fetches, then ends with LOGOUT; the menu's check
# then opens a new session with the mark known: greeting to LOGOUT,
# printed, and greeting to STATUS's answer (status.answer). A list of
# capabilities that names IDLE, or an EXAMINE in the second session, ends
# the run: it would time another path.
logout_done() { grep -rqs --include='*.out' ' OK Logout completed' "$DOVECOT_RAWLOG"; }
imap_status_check() {
  write_settings "$E2E_DIR/KivvetLE.cfg" serverHost=127.0.0.1 "port=$IMAP_PORT" userId=cat \
    password=nyan checkAtStartup=1 soundNewOnly=1 mailProtocol=1
  rm -f "$E2E_DIR/KivvetLE.log"
  clear_rawlog
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 logout_done || { echo "no LOGOUT" >&2; return 1; }
  sleep 1
  clear_rawlog
  wine "$BUILD/kivvetprobe.exe" check >/dev/null
  wait_for 300 logout_done || { echo "no second LOGOUT" >&2; return 1; }
  sleep 0.5
  [ -n "${BENCH_DEBUG:-}" ] && cp -r "$DOVECOT_RAWLOG" "$BENCH_DEBUG/imapstatus.$(date +%s%N)"
  if find "$DOVECOT_RAWLOG" -name '*.out' -exec grep -h 'CAPABILITY' {} + | grep -qw IDLE; then
    echo "the server offered IDLE" >&2
    return 1
  fi
  if find "$DOVECOT_RAWLOG" -name '*.in' -exec grep -hE '^[0-9.]+ a[0-9]+ EXAMINE' {} + | grep -q .; then
    echo "the second check examined the inbox" >&2
    return 1
  fi
  local greeting
  greeting=$(first_out)
  span "$greeting" "$(last_out ' OK Status completed')" >>"$E2E_DIR/status.answer"
  echo >>"$E2E_DIR/status.answer"
  span "$greeting" "$(last_in '^[0-9.]+ a[0-9]+ LOGOUT')"
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

# N messages more in the Maildir at once, every one read but the last
# UNSEEN of them: dovecot_deliver takes minutes for tens of thousands.
fill_maildir() {
  python3 - "$DOVECOT_MAILDIR" "$(cat "$DOVECOT_DIR/delivered")" "$1" "$2" <<'PY'
import os, sys, time
maildir, first, count, unseen = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
now = int(time.time())
for n in range(first + 1, first + count + 1):
    name = f"{now}.M{n}P{os.getpid()}.kivvet"
    flags = "" if n > first + count - unseen else "S"
    with open(os.path.join(maildir, "cur", f"{name}:2,{flags}"), "w", newline="") as f:
        f.write(f"From: Sender {n} <sender{n}@example.invalid>\r\nSubject: Test message {n}\r\n"
                f"Message-ID: <{name}@example.invalid>\r\n\r\nMessage {n}.\r\n")
PY
  echo $(($(cat "$DOVECOT_DIR/delivered") + $1)) >"$DOVECOT_DIR/delivered"
  chown -R "$_DOVECOT_UID:$_DOVECOT_GID" "$DOVECOT_MAILDIR"
}

# The peak memory (KB) of the program's Wine process so far.
vm_hwm() { awk '/^VmHWM:/ { print $2 }' "/proc/$(program_pid "$E2E_DIR")/status"; }

# The program's first check of the inbox (no mark), greeting to IDLE,
# printed; greeting to the answer that holds the result (big.answer); its
# peak memory then (big.hwm).
big_check() {
  write_settings "$E2E_DIR/KivvetLE.cfg" serverHost=127.0.0.1 "port=$IMAP_PORT" userId=cat \
    password=nyan checkAtStartup=1 soundNewOnly=1 mailProtocol=1 "$@"
  rm -f "$E2E_DIR/KivvetLE.log"
  clear_rawlog
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 300 idles_seen 1 || { echo "no IDLE" >&2; return 1; }
  sleep 0.5
  local greeting
  greeting=$(first_out)
  span "$greeting" "$(last_out "$ANSWER")" >>"$E2E_DIR/big.answer"
  echo >>"$E2E_DIR/big.answer"
  vm_hwm >>"$E2E_DIR/big.hwm"
  span "$greeting" "$(last_in '^[0-9.]+ a[0-9]+ IDLE')"
  [ -n "${BENCH_DEBUG:-}" ] && cp -r "$DOVECOT_RAWLOG" "$BENCH_DEBUG/big.$(date +%s%N)"
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

# Mailboxes in one copy, POPS POP3 ones then IMAPS IMAP ones, slot 0 in
# KivvetLE.cfg and the others in KivvetLE.mbx, user mN for slot N. Both
# checks (the first at start-up, then the menu's, which the suspend makes
# open a new IMAP session) are timed from the first greeting to the last
# QUIT or IDLE; the menu's check is printed, the first goes to
# multi.first, the last QUIT and the last IDLE to multi.pop and
# multi.imap.
ended() { [ "$(dovecot_log_since "$1" | grep -c 'pop3(m[0-9]*).*Logged out')" -ge "$2" ] && idles_seen "$3"; }
imap_gone() { [ "$(dovecot_log_since "$1" | grep -c 'imap(m[0-9]*).*Disconnected')" -ge "$2" ]; }
to_last() { span "$(first_out)" "$(last_in '^[0-9.]+ (QUIT|a[0-9]+ IDLE)')"; }
multi_check() {
  local pops=$1 imaps=$2 slot account mark accounts=()
  for slot in $(seq 0 $((pops + imaps - 1))); do
    account="serverHost=127.0.0.1;userId=m$slot;password=nyan;intervalMinutes=60;accountName=m$slot"
    if [ "$slot" -lt "$pops" ]; then
      account="$account;port=$PORT;fastScan=1"
    else
      account="$account;port=$IMAP_PORT;mailProtocol=1"
    fi
    accounts+=("$account")
  done
  # shellcheck disable=SC2046 # one argument a field
  write_settings "$E2E_DIR/KivvetLE.cfg" $(tr ';' ' ' <<<"${accounts[0]}") checkAtStartup=1 soundNewOnly=1
  rm -f "$E2E_DIR"/KivvetLE*.log "$E2E_DIR/KivvetLE.mbx"
  [ ${#accounts[@]} -gt 1 ] &&
    python3 "$KIVVET_ROOT/script/lib/kivvetcfg.py" mailboxes "$E2E_DIR/KivvetLE.mbx" "${accounts[@]:1}"
  clear_rawlog
  mark=$(dovecot_log_mark)
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")" ${BENCH_TRACE:+-V}
  wait_for 300 ended "$mark" "$pops" "$imaps" || { echo "first check: not all ended" >&2; return 1; }
  sleep 1
  to_last >>"$E2E_DIR/multi.first"
  echo >>"$E2E_DIR/multi.first"
  mark=$(dovecot_log_mark)
  wine "$BUILD/kivvetprobe.exe" suspend >/dev/null
  wait_for 60 imap_gone "$mark" "$imaps" || { echo "sessions not closed" >&2; return 1; }
  clear_rawlog
  mark=$(dovecot_log_mark)
  wine "$BUILD/kivvetprobe.exe" check >/dev/null
  wait_for 300 ended "$mark" "$pops" "$imaps" || { echo "menu's check: not all ended" >&2; return 1; }
  sleep 0.5
  [ -n "${BENCH_DEBUG:-}" ] && cp -r "$DOVECOT_RAWLOG" "$BENCH_DEBUG/multi$pops$imaps.$(date +%s%N)"
  echo "$(span "$(first_out)" "$(last_in '^[0-9.]+ QUIT')")" \
    "$(span "$(first_out)" "$(last_in '^[0-9.]+ a[0-9]+ IDLE')")" \
    "$(span "$(first_out)" "$(last_out ' ready\.')")" >>"$E2E_DIR/multi.last"
  to_last
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}
# Python's clients side by side, four POP3 (reference_client.py --flight)
# and four IMAP (imap_reference.py, each command awaited, to LOGOUT), each
# in a process of its own that has loaded its modules and waits for one
# moment a second ahead: the first greeting to the last QUIT or LOGOUT;
# the greetings' spread to python.spread.
at_once() {
  python3 -c 'import imaplib, poplib, runpy, socket, ssl, sys, time
time.sleep(max(0, float(sys.argv[1]) - time.time()))
sys.argv = sys.argv[2:]
runpy.run_path(sys.argv[0], run_name="__main__")' "$@"
}
python_eight() {
  local pids=() start
  clear_rawlog
  start=$(($(date +%s) + 2))
  for _ in 1 2 3 4; do
    at_once "$start" "$KIVVET_ROOT/bench/reference_client.py" "$PORT" --flight >/dev/null &
    pids+=($!)
    at_once "$start" "$KIVVET_ROOT/bench/imap_reference.py" "$IMAP_PORT" >/dev/null &
    pids+=($!)
  done
  wait "${pids[@]}" || { echo "a Python client failed" >&2; return 1; }
  sleep 0.5
  span "$(first_out)" "$(last_out ' ready\.')" >>"$E2E_DIR/python.spread"
  echo >>"$E2E_DIR/python.spread"
  span "$(first_out)" "$(last_in '^[0-9.]+ ([^ ]+ LOGOUT|QUIT)')"
}
# The median of one configuration's figures in FILE, the runs' last ones.
last_median() { tail -n "$RUNS" "$E2E_DIR/$1" | awk -v c="$2" '$c != "" { print $c }' | median; }

# imaplib's check, greeting to LOGOUT. Arguments: --all for the fetch of
# every message; the greeting to the fetch's end goes to lib.answer.
# The program at rest, no check, 5 s after its window came: its peak
# memory, printed.
idle_hwm() {
  write_settings "$E2E_DIR/KivvetLE.cfg" serverHost=127.0.0.1 "port=$IMAP_PORT" userId=cat \
    password=nyan checkAtStartup=0 soundNewOnly=1 mailProtocol=1
  start_program bench -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 60 bash -c "wine '$BUILD/kivvetprobe.exe' stats >/dev/null 2>&1"
  sleep 5
  printf '%s' "$(vm_hwm)"
  close_program bench >/dev/null
  rm -f "$E2E_DIR/bench.exit"
}

# imaplib's check, greeting to LOGOUT. Arguments: imap_reference.py's
# (--all, --unseen, --status); the greeting to the answer that holds the
# result goes to lib.answer.
imaplib_check() {
  clear_rawlog
  python3 "$KIVVET_ROOT/bench/imap_reference.py" "$IMAP_PORT" "$@"
  sleep 0.5
  span "$(first_out)" "$(last_out "$ANSWER")" >>"$E2E_DIR/lib.answer"
  echo >>"$E2E_DIR/lib.answer"
  span "$(first_out)" "$(last_in '^[0-9.]+ [^ ]+ LOGOUT')"
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
  imap)
    printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' messages "pop-quit" "imap-idle" "pop-ans" \
      "imap-ans" "imap-held" imaplib "idle/quit" "ans/ans" "lib/quit" ;;
  imapstatus)
    printf '%-9s %10s %10s %10s %10s %10s %10s %10s %10s %10s %10s\n' messages "pop-quit" \
      "imap-lgout" "pop-ans" "status-ans" "lib-lgout" "lib-ans" "lgout/quit" "ans/ans" \
      "lgout/lib" "ans/lib" ;;
  bigfetch)
    printf '%-9s %9s %9s %9s %9s %9s %9s\n' messages "prog-idle" "prog-ans" "lib-lgout" \
      "lib-ans" "idle/lib" "ans/ans" ;;
  multi) echo "medians of $RUNS, seconds from the first greeting" ;;
  bigsearch)
    printf '%-9s %9s %9s %9s %9s %9s %9s %12s %12s\n' messages "prog-idle" "prog-ans" "lib-lgout" \
      "lib-ans" "idle/lib" "ans/ans" "hwm-KB" "idle-hwm-KB" ;;
  profile)
    printf '%-9s %10s %10s %10s %10s %10s\n' messages async "+tray" "+timer" "+both" program ;;
esac

delivered=0
for n in $COUNTS; do
  if [ "$MODE" = bigfetch ] || [ "$MODE" = bigsearch ]; then
    fill_maildir $((n - delivered)) 10
  else
    dovecot_deliver $((n - delivered))
  fi
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
    imap)
      mark_all_seen
      rm -f "$E2E_DIR"/{pop.answer,imap.answer,held.idle}
      pop=$(runs pop_check)
      imap=$(runs imap_check)
      imaplib=$(runs imaplib_check)
      popans=$(grep . "$E2E_DIR/pop.answer" | median)
      imapans=$(grep . "$E2E_DIR/imap.answer" | median)
      held=$(grep . "$E2E_DIR/held.idle" | median)
      printf '%-9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n' "$n" "$pop" "$imap" "$popans" "$imapans" \
        "$held" "$imaplib" "$(ratio "$imap" "$pop")" "$(ratio "$imapans" "$popans")" \
        "$(ratio "$imaplib" "$pop")" ;;
    imapstatus)
      mark_all_seen
      rm -f "$E2E_DIR"/{pop.answer,status.answer,lib.answer}
      pop=$(runs pop_check)
      imap=$(runs imap_status_check)
      imaplib=$(runs imaplib_check --status)
      popans=$(grep . "$E2E_DIR/pop.answer" | median)
      statusans=$(grep . "$E2E_DIR/status.answer" | median)
      libans=$(grep . "$E2E_DIR/lib.answer" | median)
      printf '%-9s %10s %10s %10s %10s %10s %10s %10s %10s %10s %10s\n' "$n" "$pop" "$imap" \
        "$popans" "$statusans" "$imaplib" "$libans" "$(ratio "$imap" "$pop")" \
        "$(ratio "$statusans" "$popans")" "$(ratio "$imap" "$imaplib")" \
        "$(ratio "$statusans" "$libans")" ;;
    bigfetch)
      # Dovecot indexes the new messages at the first session's EXAMINE.
      imaplib_check --all >/dev/null
      rm -f "$E2E_DIR"/{big.answer,lib.answer}
      program=$(runs big_check)
      imaplib=$(runs imaplib_check --all)
      progans=$(grep . "$E2E_DIR/big.answer" | median)
      libans=$(grep . "$E2E_DIR/lib.answer" | median)
      printf '%-9s %9s %9s %9s %9s %9s %9s\n' "$n" "$program" "$progans" "$imaplib" "$libans" \
        "$(ratio "$program" "$imaplib")" "$(ratio "$progans" "$libans")" ;;
    multi)
      mark_all_seen
      for slot in 1 2 3 4 5 6 7; do grep -q "^m$slot:" "$DOVECOT_DIR/passwd" || dovecot_add_user "m$slot" nyan; done
      grep -q '^m0:' "$DOVECOT_DIR/passwd" || dovecot_add_user m0 nyan
      rm -f "$E2E_DIR"/multi.{first,last}
      pop=$(runs multi_check 1 0)
      firstpop=$(last_median multi.first 1)
      imap=$(runs multi_check 0 1)
      firstimap=$(last_median multi.first 1)
      eight=$(runs multi_check 4 4)
      firsteight=$(last_median multi.first 1)
      slowest=$(printf '%s\n' "$pop" "$imap" | sort -n | tail -1)
      rm -f "$E2E_DIR/python.spread"
      pypop=$(runs reference_check --flight)
      pyimap=$(runs imaplib_check)
      pyeight=$(runs python_eight)
      pyslowest=$(printf '%s\n' "$pypop" "$pyimap" | sort -n | tail -1)
      echo "$n messages, the menu's check: POP3 alone $pop, IMAP alone $imap;" \
        "eight $eight (last QUIT $(last_median multi.last 1), last IDLE $(last_median multi.last 2)," \
        "last greeting $(last_median multi.last 3)); eight/slowest $(ratio "$eight" "$slowest")"
      echo "$n messages, the first check at start-up: POP3 alone $firstpop, IMAP alone $firstimap;" \
        "eight $firsteight; eight/slowest" \
        "$(ratio "$firsteight" "$(printf '%s\n' "$firstpop" "$firstimap" | sort -n | tail -1)")"
      echo "$n messages, Python: POP3 alone $pypop, IMAP alone $pyimap (to LOGOUT); eight $pyeight" \
        "(last greeting $(grep . "$E2E_DIR/python.spread" | median)); eight/slowest" \
        "$(ratio "$pyeight" "$pyslowest")" ;;
    bigsearch)
      imaplib_check --all >/dev/null
      rm -f "$E2E_DIR"/{big.answer,lib.answer,big.hwm}
      program=$(runs big_check)
      imaplib=$(runs imaplib_check --unseen)
      progans=$(grep . "$E2E_DIR/big.answer" | median)
      libans=$(grep . "$E2E_DIR/lib.answer" | median)
      hwm=$(grep . "$E2E_DIR/big.hwm" | sort -n | tail -1)
      idle=$(runs idle_hwm)
      printf '%-9s %9s %9s %9s %9s %9s %9s %12s %12s\n' "$n" "$program" "$progans" "$imaplib" \
        "$libans" "$(ratio "$program" "$imaplib")" "$(ratio "$progans" "$libans")" "$hwm" "$idle" ;;
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
