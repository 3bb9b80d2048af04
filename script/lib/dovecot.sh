# A private Dovecot POP3 server on 127.0.0.1 (or ::1, or both) for one
# end-to-end test, the demo or a benchmark, offering USER/PASS and APOP,
# without TLS unless asked, and IMAP beside it when asked. Source it; it
# defines functions only.
#
#   dovecot_start DIR [--tls CERT KEY] [--listen ADDRESSES] [--imap]
#                     [--imap-no-idle]
#                                  starts a server keeping its files in DIR/dovecot
#                                  on a free port from 21100 on; sets DOVECOT_PORT,
#                                  DOVECOT_LOG, DOVECOT_MAILDIR and DOVECOT_RAWLOG.
#                                  User "cat", password "nyan".
#                                  With --tls (CERT: PEM, the server's certificate
#                                  then its CA's) the plain port also offers STLS,
#                                  and a second port, DOVECOT_TLS_PORT, speaks TLS
#                                  from the first byte. Without it there is no TLS
#                                  at all (no STLS; DOVECOT_TLS_PORT is empty).
#                                  --listen: where it listens instead of
#                                  127.0.0.1, e.g. "::1" or "127.0.0.1, ::1"
#                                  (loopback only).
#                                  With --imap the same mailbox is also served
#                                  over IMAP on DOVECOT_IMAP_PORT (STARTTLS
#                                  with --tls) and, with --tls, over IMAP in
#                                  TLS from the first byte on DOVECOT_IMAPS_PORT.
#                                  --imap-no-idle (with --imap): an IMAP server
#                                  without IDLE, before and after the login
#                                  (its login mechanisms still told).
#   dovecot_use_cert CERT KEY      another certificate for the sessions to come,
#                                  same ports (a server started with --tls)
#   dovecot_log_mark               the log's length now, for dovecot_log_since
#   dovecot_log_since MARK         the log lines written after the mark
#   dovecot_auth_attempts MARK     how many logins were tried since the mark,
#                                  by any user, successful or not
#   dovecot_password_seen PASS     true when PASS appears in any raw log
#   dovecot_add_user NAME PASS     one more user, any time after the start
#   dovecot_deliver N [SUBJECT] [FROM]
#                                  N small messages into the mailbox
#   dovecot_wait_log PATTERN SECS  true as soon as a log line matches the
#                                  extended regex
#   dovecot_sent                   every line clients sent, oldest first
#   dovecot_logins [METHOD]        how many logins of user cat the log shows
#                                  (by METHOD only: PLAIN or APOP)
#   dovecot_logged_in N [METHOD]   true once there have been N of them
#   dovecot_quits                  how many QUITs clients have sent
#   dovecot_quit_seen N            true once there have been N
#   dovecot_flags                  each message's Maildir flags (S: seen),
#                                  one line per message, by its name
#   dovecot_add_flag FLAG QUERY... FLAG (e.g. '\Seen') set on the messages a
#                                  doveadm search QUERY finds (e.g. subject
#                                  TEXT), as another client would set it,
#                                  without a login in the log
#   dovecot_stop                   ends the server; harmless when none runs
#
# All users share the one mailbox. In a session of script/lib/desktop.sh
# the server is also ended with the session's other processes
# (E2E_PIDS), but a test should stop it itself.
#
# The log names the method of every login attempt, e.g.
#   pop3-login: Info: Login: user=<cat>, method=APOP, rip=127.0.0.1, lip=127.0.0.1, mpid=16451, secured, session=<...>
#   pop3-login: Info: Login: user=<cat>, method=PLAIN, ... (USER/PASS)
#   pop3-login: Info: Disconnected: Connection closed (auth failed, 1 attempts in 0 secs): user=<cat>, method=APOP, ...
#   auth: Info: passwd-file(cat,127.0.0.1,<...>): Password mismatch (given password: wrong)
# "secured" there means a local connection without TLS; a session under
# TLS says "TLS" there instead (both after STLS and on the TLS port).
# A pair of raw logs per connection lands in DOVECOT_RAWLOG, each line
# stamped with the time: TIME.PID.1.in holds what the client sent and
# TIME.PID.1.out the replies, written at once. The login process (PID)
# records the greeting and the login commands; after a login the mailbox
# process (PID = the mpid of the Login line) records the rest. Under TLS
# the login process records the bytes as they travel: the plain greeting
# and STLS, then TLS records, so nothing said inside TLS (USER, PASS, APOP)
# can be read there; the mailbox process gets the decrypted dialogue and
# records it in plain text. That a password reached the server through
# TLS shows in the log instead, as a login or a failed attempt
# (dovecot_auth_attempts).

DOVECOT_PORT=""
DOVECOT_TLS_PORT=""
DOVECOT_IMAP_PORT=""
DOVECOT_IMAPS_PORT=""
DOVECOT_LOG=""
DOVECOT_MAILDIR=""
DOVECOT_RAWLOG=""
DOVECOT_DIR=""
DOVECOT_CONF=""
_DOVECOT_CERT=""
_DOVECOT_KEY=""
_DOVECOT_IMAP=""
_DOVECOT_IMAP_NO_IDLE=""
_DOVECOT_LISTEN="127.0.0.1"

# The owner of the mailbox: nobody when we are root (Dovecot refuses to
# open mail as root), ourselves otherwise.
_dovecot_ids() {
  if [ "$(id -u)" -eq 0 ]; then
    _DOVECOT_UID=65534
    _DOVECOT_GID=65534
    _DOVECOT_LOGIN_USER=dovenull
    _DOVECOT_INTERNAL_USER=dovecot
    _DOVECOT_INTERNAL_GROUP=dovecot
  else
    _DOVECOT_UID=$(id -u)
    _DOVECOT_GID=$(id -g)
    _DOVECOT_LOGIN_USER=$(id -un)
    _DOVECOT_INTERNAL_USER=$(id -un)
    _DOVECOT_INTERNAL_GROUP=$(id -gn)
  fi
}

# True when something listens on PORT. Read from the kernel's table rather
# than by connecting, which would put a stray session in a server's log.
_dovecot_port_open() {
  local hex table tables=()
  hex=$(printf '%04X' "$1")
  for table in /proc/net/tcp /proc/net/tcp6; do
    [ -r "$table" ] && tables+=("$table")
  done
  awk -v hex="$hex" '$4 == "0A" && $2 ~ (":" hex "$") { found = 1 } END { exit !found }' \
    "${tables[@]}"
}

# _dovecot_write_conf PORT [TLSPORT [IMAPPORT [IMAPSPORT]]]: with TLSPORT,
# TLS with the certificate in _DOVECOT_CERT and _DOVECOT_KEY; with
# IMAPPORT, IMAP too.
_dovecot_write_conf() {
  local port=$1 tls_port=${2:-} imap_port=${3:-} imaps_port=${4:-}
  # Without root nothing can change user or chroot: every service runs
  # as ourselves, unconfined.
  local unconfined="" as_us=""
  if [ "$(id -u)" -ne 0 ]; then
    unconfined="chroot ="
    as_us="user = \$default_internal_user"
  fi
  cat >"$DOVECOT_CONF" <<CONF
# Written by script/lib/dovecot.sh for one test.
instance_name = kivvet-$port
base_dir = $DOVECOT_DIR/run
state_dir = $DOVECOT_DIR/state
listen = $_DOVECOT_LISTEN
protocols = pop3${imap_port:+ imap}
$(_dovecot_imap_capability)
$(_dovecot_ssl_settings "$tls_port")
disable_plaintext_auth = no
auth_mechanisms = plain apop
default_login_user = $_DOVECOT_LOGIN_USER
default_internal_user = $_DOVECOT_INTERNAL_USER
default_internal_group = $_DOVECOT_INTERNAL_GROUP
first_valid_uid = 1
first_valid_gid = 1

log_path = $DOVECOT_LOG
auth_verbose = yes
auth_verbose_passwords = plain
login_log_format_elements = user=<%u> method=%m rip=%r lip=%l mpid=%e %c session=<%{session}>
# Wrong passwords are answered at once, however many come: no failure
# delay, no growing penalty from anvil.
auth_failure_delay = 0

passdb {
  driver = passwd-file
  args = scheme=PLAIN $DOVECOT_DIR/passwd
}
userdb {
  driver = static
  args = uid=$_DOVECOT_UID gid=$_DOVECOT_GID home=$DOVECOT_DIR/home
}
mail_location = maildir:$DOVECOT_MAILDIR
pop3_uidl_format = %08Xu%08Xv
# Sessions after login; the login process records the rest (-R below).
rawlog_dir = $DOVECOT_RAWLOG

service pop3-login {
  executable = pop3-login -R $DOVECOT_RAWLOG
  chroot =
  inet_listener pop3 {
    address = $_DOVECOT_LISTEN
    port = $port
  }
  inet_listener pop3s {
    address = $_DOVECOT_LISTEN
    port = ${tls_port:-0}
    ssl = yes
  }
}
service anvil {
  $unconfined
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service auth {
  $as_us
}
service auth-worker {
  $as_us
}
service imap-login {
  executable = imap-login -R $DOVECOT_RAWLOG
  chroot =
  inet_listener imap {
    address = $_DOVECOT_LISTEN
    port = ${imap_port:-0}
  }
  inet_listener imaps {
    address = $_DOVECOT_LISTEN
    port = ${imaps_port:-0}
    ssl = yes
  }
}
CONF
}

# An explicit list replaces Dovecot's own, in the greeting and after the
# login alike; Dovecot still adds STARTTLS and AUTH= where they apply.
_dovecot_imap_capability() {
  [ -n "$_DOVECOT_IMAP_NO_IDLE" ] && echo "imap_capability = IMAP4rev1 SASL-IR LITERAL+ ENABLE NAMESPACE"
  return 0
}

_dovecot_ssl_settings() {
  if [ -z "$1" ]; then
    echo "ssl = no"
    return
  fi
  cat <<SSL
ssl = yes
ssl_cert = <$_DOVECOT_CERT
ssl_key = <$_DOVECOT_KEY
SSL
}

dovecot_start() {
  local dir=$1
  shift
  _DOVECOT_CERT=""
  _DOVECOT_KEY=""
_DOVECOT_LISTEN="127.0.0.1"
  DOVECOT_TLS_PORT=""
  DOVECOT_IMAP_PORT=""
  DOVECOT_IMAPS_PORT=""
  _DOVECOT_IMAP=""
  _DOVECOT_IMAP_NO_IDLE=""
  _DOVECOT_LISTEN="127.0.0.1"
  while [ $# -gt 0 ]; do
    case "$1" in
      --tls)
        _DOVECOT_CERT=$2
        _DOVECOT_KEY=$3
        shift 3
        ;;
      --imap)
        _DOVECOT_IMAP=1
        shift
        ;;
      --imap-no-idle)
        _DOVECOT_IMAP_NO_IDLE=1
        shift
        ;;
      --listen)
        _DOVECOT_LISTEN=$2
        shift 2
        ;;
      *)
        echo "dovecot_start: unknown option $1" >&2
        return 2
        ;;
    esac
  done
  _dovecot_ids
  DOVECOT_DIR="$dir/dovecot"
  DOVECOT_CONF="$DOVECOT_DIR/dovecot.conf"
  DOVECOT_LOG="$DOVECOT_DIR/dovecot.log"
  DOVECOT_MAILDIR="$DOVECOT_DIR/Maildir"
  DOVECOT_RAWLOG="$DOVECOT_DIR/rawlog"
  mkdir -p "$DOVECOT_DIR"/{run,state,home} "$DOVECOT_MAILDIR"/{new,cur,tmp} "$DOVECOT_RAWLOG"
  : >"$DOVECOT_DIR/passwd"
  chmod 644 "$DOVECOT_DIR/passwd"
  echo 0 >"$DOVECOT_DIR/delivered"
  : >"$DOVECOT_LOG"
  # The mailbox user and the login processes must reach their folders.
  chmod a+x "$dir" "$DOVECOT_DIR"
  chmod 1777 "$DOVECOT_RAWLOG"
  chown -R "$_DOVECOT_UID:$_DOVECOT_GID" "$DOVECOT_MAILDIR" "$DOVECOT_DIR/home"
  dovecot_add_user cat nyan

  local port tls_port="" imap_port="" imaps_port=""
  for port in $(seq 21100 21199); do
    _dovecot_port_open "$port" && continue
    if [ -n "$_DOVECOT_CERT" ]; then
      # The TLS port is the first free one 100 above, IMAP's 200 and 300.
      tls_port=$(_dovecot_free_port $((port + 100)))
    fi
    if [ -n "$_DOVECOT_IMAP" ]; then
      imap_port=$(_dovecot_free_port $((port + 200)))
      [ -n "$_DOVECOT_CERT" ] && imaps_port=$(_dovecot_free_port $((port + 300)))
    fi
    _dovecot_write_conf "$port" "$tls_port" "$imap_port" "$imaps_port"
    if ! dovecot -c "$DOVECOT_CONF" 2>"$DOVECOT_DIR/start.err"; then
      # Another server may have taken the port since we looked.
      grep -q 'Address already in use' "$DOVECOT_DIR/start.err" && continue
      break
    fi
    local deadline=$((SECONDS + 20))
    while [ $SECONDS -lt $deadline ]; do
      if _dovecot_port_open "$port" && { [ -z "$tls_port" ] || _dovecot_port_open "$tls_port"; } &&
        { [ -z "$imap_port" ] || _dovecot_port_open "$imap_port"; } &&
        { [ -z "$imaps_port" ] || _dovecot_port_open "$imaps_port"; }; then
        DOVECOT_PORT=$port
        DOVECOT_TLS_PORT=$tls_port
        DOVECOT_IMAP_PORT=$imap_port
        DOVECOT_IMAPS_PORT=$imaps_port
        # desktop_stop ends these when the session ends, whichever way.
        if declare -p E2E_PIDS >/dev/null 2>&1; then E2E_PIDS+=("$(_dovecot_pid)"); fi
        return 0
      fi
      _dovecot_running || break
      sleep 0.1
    done
    dovecot_stop
  done
  echo "could not start Dovecot; see $DOVECOT_DIR/start.err and $DOVECOT_LOG" >&2
  return 1
}

_dovecot_free_port() {
  local port=$1
  while _dovecot_port_open "$port"; do port=$((port + 1)); done
  echo "$port"
}

_dovecot_pid() {
  [ -n "$DOVECOT_DIR" ] && [ -s "$DOVECOT_DIR/run/master.pid" ] && cat "$DOVECOT_DIR/run/master.pid"
}

_dovecot_running() {
  local pid
  pid=$(_dovecot_pid) && kill -0 "$pid" 2>/dev/null
}

# The server reads its configuration again; login processes started
# after that use the new certificate. Returns once the server has
# reloaded.
dovecot_use_cert() {
  _DOVECOT_CERT=$1
  _DOVECOT_KEY=$2
  local before pid
  pid=$(_dovecot_pid) || return 1
  before=$(grep -c 'SIGHUP received' "$DOVECOT_LOG" || true)
  _dovecot_write_conf "$DOVECOT_PORT" "$DOVECOT_TLS_PORT" "$DOVECOT_IMAP_PORT" "$DOVECOT_IMAPS_PORT"
  kill -HUP "$pid"
  local deadline=$((SECONDS + 20))
  while [ "$(grep -c 'SIGHUP received' "$DOVECOT_LOG" || true)" -le "$before" ]; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

dovecot_log_mark() { wc -l <"$DOVECOT_LOG"; }
dovecot_log_since() { tail -n "+$(($1 + 1))" "$DOVECOT_LOG"; }

# A login, a refused one ("auth failed, 1 attempts", "Password mismatch")
# or one given up after an attempt ("Aborted login (1 attempts ...)"); a
# session that never tried says "no auth attempts".
dovecot_auth_attempts() {
  dovecot_log_since "$1" |
    grep -cE '(pop3|imap)-login: Info: Login: |auth failed|[1-9][0-9]* (authentication )?attempts|Password mismatch' || true
}

# Every byte of every raw log, as it stands.
dovecot_password_seen() {
  grep -rqaF -- "$1" "$DOVECOT_RAWLOG" 2>/dev/null
}

dovecot_add_user() {
  printf '%s:{PLAIN}%s\n' "$1" "$2" >>"$DOVECOT_DIR/passwd"
}

# Messages are numbered from 1 on over the life of the server (the count
# is kept in a file, so subshells may deliver too) and get names of the
# kind Maildir writers use: seconds, then ".M" and the number, which
# Dovecot orders numerically, so UIDs follow the order of delivery. Each is
# written in tmp and renamed into new, as a real delivery does.
dovecot_deliver() {
  local count=$1 subject=${2:-} from=${3:-}
  local i n name file now
  now=$(date +%s)
  n=$(cat "$DOVECOT_DIR/delivered")
  for i in $(seq 1 "$count"); do
    n=$((n + 1))
    echo "$n" >"$DOVECOT_DIR/delivered"
    name="$now.M${n}P${BASHPID}.kivvet"
    file="$DOVECOT_MAILDIR/tmp/$name"
    printf '%s\r\n' \
      "From: ${from:-Sender $n <sender$n@example.invalid>}" \
      "To: cat <cat@example.invalid>" \
      "Subject: ${subject:-Test message $n}" \
      "Date: $(LC_ALL=C date -R)" \
      "Message-ID: <$name@example.invalid>" \
      "" \
      "Message $n for the tray." >"$file"
    chown "$_DOVECOT_UID:$_DOVECOT_GID" "$file"
    mv "$file" "$DOVECOT_MAILDIR/new/$name"
  done
}

dovecot_wait_log() {
  local pattern=$1 seconds=$2
  local deadline=$((SECONDS + seconds))
  while :; do
    grep -Eq -- "$pattern" "$DOVECOT_LOG" 2>/dev/null && return 0
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

# The rawlog files are written line by line, so a test may look while a
# session is still open.
dovecot_sent() {
  find "$DOVECOT_RAWLOG" -name '*.in' -exec awk 1 {} + | sort -s -n -k1,1 |
    sed -E 's/^[0-9.]+ //; s/\r$//'
}

# Counts of logins and QUITs so far. A wait for the program's next one
# counts from a count taken just before its step: a look at the mailbox
# by another client logs in too.
dovecot_logins() { grep -c "Login: user=<cat>${1:+, method=$1}" "$DOVECOT_LOG" 2>/dev/null || true; }
dovecot_logged_in() { [ "$(dovecot_logins "${2:-}")" -ge "$1" ]; }
dovecot_quits() { grep -rh '^[0-9:.]* QUIT' "$DOVECOT_RAWLOG" 2>/dev/null | wc -l; }
dovecot_quit_seen() { [ "$(dovecot_quits)" -ge "$1" ]; }

# Maildir keeps a message's flags in its name, after ":2,"; a message
# nobody has looked at yet lies in new/ without them.
dovecot_flags() {
  find "$DOVECOT_MAILDIR/new" "$DOVECOT_MAILDIR/cur" -type f -printf '%f\n' | sort |
    sed -E 's/^([^:]*)(:2,)?(.*)$/\1 \3/'
}

dovecot_add_flag() {
  local flag=$1
  shift
  doveadm -c "$DOVECOT_CONF" flags add -u cat "$flag" mailbox INBOX "$@"
}

dovecot_stop() {
  local pid
  pid=$(_dovecot_pid) || return 0
  kill "$pid" 2>/dev/null || true
  local deadline=$((SECONDS + 10))
  while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$DOVECOT_DIR/run/master.pid"
}
