# Helpers of the end-to-end tests: the program under Wine in a virtual
# desktop on Xvfb, observed through screenshots and files. What the demo
# and the benchmarks share with the tests lives in script/lib/ and is
# sourced here: desktop.sh (the session, waits, the program, the tray, the
# sheet, the title, write_settings), dovecot.sh (a private Dovecot),
# version.sh (kivvet_version) and netns.sh (a network namespace of the
# test's own). Every wait has a deadline; nothing sleeps a
# fixed time to let things settle.

set -euo pipefail
: "${KIVVET_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
source "$KIVVET_ROOT/script/lib/desktop.sh"
source "$KIVVET_ROOT/script/lib/dovecot.sh"
source "$KIVVET_ROOT/script/lib/version.sh"
source "$KIVVET_ROOT/script/lib/netns.sh"

E2E_FAILURES=0

e2e_setup() {
  E2E_NAME="$1"
  desktop_start "$E2E_NAME"
  trap e2e_teardown EXIT
  echo "== $E2E_NAME (work folder $E2E_DIR)"
}

e2e_teardown() {
  desktop_stop
  if [ "$E2E_FAILURES" -eq 0 ] && [ "${KIVVET_E2E_KEEP:-0}" != 1 ]; then rm -rf "$E2E_DIR"; fi
}

pass() { echo "  ok: $*"; }
fail() {
  echo "  FAILED: $*" >&2
  E2E_FAILURES=$((E2E_FAILURES + 1))
}
e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "== $E2E_NAME: $E2E_FAILURES failure(s); screenshots in $E2E_SHOTS, files in $E2E_DIR" >&2
    exit 1
  fi
  echo "== $E2E_NAME: passed"
}

# The balloon: a white box above the notification area, on the blue desktop.
balloon_shown() {
  local shot
  shot=$(screenshot balloon-now)
  [ "$(colour_count "$shot" '#FFFFFF' 500x200+524+540)" -gt 2000 ]
}

# ---- the settings and the known UIDs ----

# configure_at DIR PORT [key=value...]: DIR/KivvetLE.cfg for the tests'
# account (user cat, password nyan) on 127.0.0.1:PORT, checking at
# start-up, then the test's own values (E2E_SETTINGS, an array a test may
# set once), then the arguments; a later value wins.
E2E_SETTINGS=()
configure_at() {
  local dir=$1 port=$2
  shift 2
  write_settings "$dir/KivvetLE.cfg" serverHost=127.0.0.1 "port=$port" userId=cat password=nyan \
    checkAtStartup=1 "${E2E_SETTINGS[@]}" "$@"
}
# configure [key=value...]: the same in the test's folder, for Dovecot.
configure() { configure_at "$E2E_DIR" "$DOVECOT_PORT" "$@"; }

# file_uids [DIR]: the known UIDs in DIR/KivvetLE.log (default the test's
# folder), one a line, in message order; fails on a file that is not whole.
file_uids() { python3 "$KIVVET_ROOT/tests/e2e/uidfile.py" "${1:-$E2E_DIR}/KivvetLE.log"; }
# file_has N [DIR]: true when the file holds N UIDs.
file_has() { [ "$(file_uids "${2:-}" 2>/dev/null | wc -l)" -eq "$1" ]; }

# ---- our own POP3 server (fakepop3.py) and the program's sockets ----

# start_fakepop3 PORTFILE LOG ARGS...: tests/e2e/fakepop3.py with ARGS in
# the background, its port written to PORTFILE, its log to LOG; its
# process id in FAKEPOP3_PID. False when it has not started in 20 s.
start_fakepop3() {
  local port_file=$1 log=$2
  shift 2
  python3 "$KIVVET_ROOT/tests/e2e/fakepop3.py" "$@" --port-file "$port_file" --log "$log" >/dev/null 2>&1 &
  FAKEPOP3_PID=$!
  E2E_PIDS+=($FAKEPOP3_PID)
  wait_for 20 test -s "$port_file"
}

# True when the server's log (FILE) shows connection N.
server_connected() { grep -q "^[^ ]* #$2 -- connected" "$1" 2>/dev/null; }

# How the server saw connection N end: "closed by client", "reset by server"...
server_ending() {
  sed -nE "s/^[^ ]* #$2 -- ((closed|reset) by (client|server))$/\1/p" "$1" 2>/dev/null | head -1
}

# The server's stamps (its log, FILE) of connection N's start and end;
# empty until then.
server_connected_at() { sed -nE "/^([^ ]*) #$2 -- connected$/{s//\1/p;q}" "$1" 2>/dev/null || true; }
server_ended_at() {
  sed -nE "/^([^ ]*) #$2 -- (closed|reset) by (client|server)$/{s//\1/p;q}" "$1" 2>/dev/null || true
}

# How many QUITs the server's log (FILE) shows; true once there are N.
server_quits() { grep -c "QUIT" "$1" 2>/dev/null || true; }
server_quit_seen() { [ "$(server_quits "$1")" -ge "$2" ]; }

# The Linux process of the copy of the program started with -W for the folder.
program_pid() {
  { grep -lzxF -e "-W$(winpath "$1")" /proc/[0-9]*/cmdline 2>/dev/null || true; } | awk -F/ 'NR == 1 { print $3 }'
}

# Network sockets a process holds: its socket descriptors that are not
# Unix-domain or netlink ones (those are Wine's own). Every socket of a
# Windows program is held by the wineserver of its prefix; the program's
# own process holds a copy only once it has used the socket itself. A
# socket reset by the peer is in no table of connections, but its
# descriptor stays until the program closes it.
network_sockets() {
  { awk 'NR > 1 { print $7 }' /proc/net/unix; awk 'NR > 1 { print $NF }' /proc/net/netlink; } \
    >"$E2E_DIR/local-sockets"
  ls -l "/proc/$1/fd" 2>/dev/null | sed -nE 's/.*socket:\[([0-9]+)\]$/\1/p' |
    grep -cvxFf "$E2E_DIR/local-sockets" || true
}

# The wineserver of our prefix.
wineserver_pid() {
  local pid
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    if tr '\0' '\n' 2>/dev/null </proc/$pid/environ | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
}

# Connections to the port still held by a client: in any state but
# TIME-WAIT, which belongs to no process.
client_connections() {
  ss -Htan state all "( dport = :$1 )" 2>/dev/null | grep -cv '^TIME-WAIT' || true
}
