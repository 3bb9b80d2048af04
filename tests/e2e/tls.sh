#!/usr/bin/env bash
# KivvetLE.exe under Wine against a private Dovecot with TLS: TLS from the
# first byte and STLS on the plain port log in and count new mail, also
# with the server's bytes cut in small pieces (tests/e2e/trickle.py); a
# certificate for another name, a certificate from a CA nobody trusts and
# a server that offers no STLS all end in the error icon without the
# password ever leaving the program; connection security "none" and a
# settings file from before the setting still log in in plain text.
#
# The test CA is trusted in the Wine prefix for the length of the test
# only (tests/e2e/tools/trustca.c); the system's own stores are never
# touched. Before the program meets each server, tlsprobe.exe shows what
# SChannel and crypt32 make of it under this Wine, so a failure can be
# told from a change in Wine or in the test's certificates.
#
#   KIVVET_TLS_PROBE_ONLY=1 bash tests/e2e/tls.sh
#                     the servers, the trust and the probes, without the program
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/certs.sh"
e2e_setup tls

TOOLS="$KIVVET_ROOT/build/win64"
CERTS="$E2E_DIR/certs"
USER_NAME=kitten
PASSWORD="whiskers-3141-tls"
PROGRAM=1
[ "${KIVVET_TLS_PROBE_ONLY:-0}" = 1 ] && PROGRAM=0

# The test CA leaves the prefix with the test, whichever way it ends.
untrust_ca() {
  [ -s "$CERTS/ca.pem" ] && wine "$TOOLS/trustca.exe" remove "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1
  return 0
}
trap 'untrust_ca; e2e_teardown' EXIT

certs_make "$CERTS" ec || { fail "no test certificates"; e2e_finish; }
wine "$TOOLS/trustca.exe" check "$(winpath "$CERTS/untrusted-ca.pem")" >/dev/null 2>&1 &&
  fail "the untrusted CA is trusted in the prefix before the test"
if wine "$TOOLS/trustca.exe" add "$(winpath "$CERTS/ca.pem")" >"$E2E_DIR/trustca.out" 2>&1 &&
  wine "$TOOLS/trustca.exe" check "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1; then
  pass "the test CA is trusted in the Wine prefix"
else
  fail "could not trust the test CA: $(cat "$E2E_DIR/trustca.out")"
fi

dovecot_start "$E2E_DIR" --tls "$CERTS/localhost.pem" "$CERTS/localhost.key"
dovecot_add_user "$USER_NAME" "$PASSWORD"
dovecot_deliver 3

# probe LABEL RESULT DWERROR ARGS...: tlsprobe.exe to 127.0.0.1 with the
# name localhost; its last line must be "result: RESULT" and the SSL
# policy's dwError must be DWERROR (for a certificate it got).
probe() {
  local label=$1 result=$2 error=$3
  shift 3
  wine "$TOOLS/tlsprobe.exe" --host localhost --quit "$@" >"$E2E_DIR/probe-$label.txt" 2>&1 || true
  local got
  got=$(sed -n 's/^result: //p' "$E2E_DIR/probe-$label.txt" | tr -d '\r')
  if [ "$got" != "$result" ]; then
    fail "probe $label: result '$got', not '$result' (see probe-$label.txt)"
  elif [ -n "$error" ] && ! grep -q "dwError $error " "$E2E_DIR/probe-$label.txt"; then
    fail "probe $label: $(grep -m1 -o 'dwError [^,]*' "$E2E_DIR/probe-$label.txt"), not $error"
  else
    pass "probe $label: $result${error:+ ($error)} $(grep -m1 -o "(TLS [0-9.]*)" "$E2E_DIR/probe-$label.txt" || true)"
  fi
}

# The name the certificates are for, the test's own user; the port comes
# with each call.
E2E_SETTINGS=(serverHost=localhost "userId=$USER_NAME" "password=$PASSWORD"
  soundNewOnly=1 tooltipMode=1 accountName=tls)
logins_since() { dovecot_log_since "$1" | grep -c "Login: user=<$USER_NAME>, method=$2, .*, $3, " || true; }
logged_in_since() { [ "$(logins_since "$1" "$2" "$3")" -ge 1 ]; }
session_ended_since() { dovecot_log_since "$1" | grep -q 'pop3-login: Info: Disconnected'; }

# What the mailbox process of the last login since MARK was sent, as
# one line: under TLS the dialogue after the login, in plain text.
sent_after_login() {
  local mpid
  mpid=$(dovecot_log_since "$1" | sed -n "s/.*Login: user=<$USER_NAME>.*mpid=\([0-9]*\),.*/\1/p" | tail -1)
  [ -n "$mpid" ] || return 0
  find "$DOVECOT_RAWLOG" -name "*.$mpid.*.in" -exec awk 1 {} + | sort -s -n -k1,1 |
    sed -E 's/^[0-9.]+ //; s/\r$//' | tr '\n' '|'
}
quit_after_login() { [[ "$(sent_after_login "$1")" == *QUIT* ]]; }

# Every client line in the raw logs begun since the marker file, as one
# line; binary TLS records come out as whatever they are.
sent_since_marker() {
  find "$DOVECOT_RAWLOG" -name '*.in' -newer "$1" -exec awk 1 {} + | sort -s -n -k1,1 |
    sed -E 's/^[0-9.]+ //; s/\r$//' | tr -d '\000' | tr '\n' '|'
}

# check_logs_in LABEL SECURITY PORT TLS|secured UIDS: a check with the
# setting logs in as described, ends with QUIT, and the UID file then
# holds UIDS entries.
check_logs_in() {
  local label=$1 security=$2 port=$3 how=$4 uids=$5
  local mark
  mark=$(dovecot_log_mark)
  touch "$E2E_DIR/$label.marker"
  if [ -n "$security" ]; then configure "port=$port" "connectionSecurity=$security"; else configure "port=$port"; fi
  start_program "$label" -TOFF "-W$(winpath "$E2E_DIR")"
  if wait_for 60 logged_in_since "$mark" PLAIN "$how"; then
    pass "logged in, the log says $how"
  else
    fail "no login with $how; the log says: $(dovecot_log_since "$mark" | grep 'pop3-login' | tail -2)"
  fi
  if wait_for 60 quit_after_login "$mark"; then
    local sent
    sent=$(sent_after_login "$mark")
    case "$sent" in
      STAT\|*QUIT\|) pass "after the login: ${sent//|/ }" ;;
      *) fail "after the login the server saw: $sent" ;;
    esac
  else
    fail "no QUIT after the login"
  fi
  if wait_for 60 file_has "$uids"; then pass "KivvetLE.log holds all $uids UIDs"; else
    fail "KivvetLE.log holds $(file_uids 2>/dev/null | wc -l) UIDs, not $uids"
  fi
  wait_for 60 tray_shows_normal && pass "the normal icon" || fail "not the normal icon"
  screenshot "$label" >/dev/null
  close_program "$label" || fail "$label: the program did not end"
}

# check_refused LABEL SECURITY PORT [tls]: the check fails with the error
# icon, and no login was tried: the password never reached the server.
# With "tls" the server saw the handshake through, so the refusal was the
# program's own, after it saw the certificate.
check_refused() {
  local label=$1 security=$2 port=$3 handshake=${4:-}
  local mark marker="$E2E_DIR/$label.marker"
  mark=$(dovecot_log_mark)
  touch "$marker"
  configure "port=$port" "connectionSecurity=$security"
  start_program "$label" -TOFF "-W$(winpath "$E2E_DIR")"
  wait_for 60 session_ended_since "$mark" || fail "the program's session did not end"
  if wait_for 60 tray_shows_error; then pass "the error icon"; else fail "no error icon"; fi
  screenshot "$label" >/dev/null
  if [ -n "$handshake" ]; then
    # "TLS" or "TLS: <why it ended>"; an unfinished one says "TLS handshaking".
    dovecot_log_since "$mark" | grep -qE 'pop3-login: Info: Disconnected: .*, TLS(: [^,]*)?, session=' &&
      pass "the server finished the handshake, then the program left" ||
      fail "no TLS session at the server: $(dovecot_log_since "$mark" | grep 'Disconnected' | head -1)"
  fi
  local attempts
  attempts=$(dovecot_auth_attempts "$mark")
  [ "$attempts" -eq 0 ] && pass "no login was tried" ||
    fail "$attempts login(s) tried: $(dovecot_log_since "$mark" | grep -E 'Login:|attempts' | head -2)"
  local sent
  sent=$(sent_since_marker "$marker")
  case "$sent" in
    *"$PASSWORD"* | *"PASS "* | *"APOP "*) fail "the password went out: $sent" ;;
    *) pass "no password in what the server got" ;;
  esac
  close_program "$label" || fail "$label: the program did not end"
}

echo "-- the servers as tlsprobe.exe sees them"
probe implicit verified 0x00000000 "$DOVECOT_TLS_PORT"
probe stls verified 0x00000000 --stls "$DOVECOT_PORT"

if [ $PROGRAM = 1 ]; then
  echo "-- TLS from the first byte"
  check_logs_in implicit 2 "$DOVECOT_TLS_PORT" TLS 3

  echo "-- STLS on the plain port"
  dovecot_deliver 2
  check_logs_in stls 1 "$DOVECOT_PORT" TLS 5
  # The plain part of that session: the greeting's answer was STLS.
  first=$(sent_since_marker "$E2E_DIR/stls.marker" | cut -d'|' -f1)
  [ "$first" = STLS ] && pass "the first command in plain text was STLS" ||
    fail "the first command in plain text was '$first'"
  dovecot_password_seen "$PASSWORD" && fail "the password is in plain text in a raw log" ||
    pass "the password never crossed in plain text"

  echo "-- connection security none, and a settings file from before the setting"
  dovecot_deliver 1
  check_logs_in none 0 "$DOVECOT_PORT" secured 6
  check_logs_in oldfile "" "$DOVECOT_PORT" secured 6
fi

echo "-- the server's bytes in pieces of 7"
for port in "$DOVECOT_TLS_PORT" "$DOVECOT_PORT"; do
  python3 "$KIVVET_ROOT/tests/e2e/trickle.py" --to "$port" --piece 7 \
    --port-file "$E2E_DIR/trickle-$port.port" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  wait_for 20 test -s "$E2E_DIR/trickle-$port.port" || fail "no relay for $port"
done
TRICKLE_TLS_PORT=$(cat "$E2E_DIR/trickle-$DOVECOT_TLS_PORT.port")
TRICKLE_PORT=$(cat "$E2E_DIR/trickle-$DOVECOT_PORT.port")
probe pieces-implicit verified 0x00000000 "$TRICKLE_TLS_PORT"
grep -q 'SEC_E_INCOMPLETE_MESSAGE' "$E2E_DIR/probe-pieces-implicit.txt" &&
  pass "the probe met SEC_E_INCOMPLETE_MESSAGE on the way" ||
  fail "the relay did not cut the records (no SEC_E_INCOMPLETE_MESSAGE)"
if [ $PROGRAM = 1 ]; then
  dovecot_deliver 1
  check_logs_in pieces-implicit 2 "$TRICKLE_TLS_PORT" TLS 7
  dovecot_deliver 1
  check_logs_in pieces-stls 1 "$TRICKLE_PORT" TLS 8
fi

echo "-- a certificate for another name"
dovecot_use_cert "$CERTS/othername.pem" "$CERTS/othername.key" || fail "Dovecot did not take the certificate"
probe othername rejected 0x800b010f "$DOVECOT_TLS_PORT"
if [ $PROGRAM = 1 ]; then
  check_refused othername-implicit 2 "$DOVECOT_TLS_PORT" tls
  check_refused othername-stls 1 "$DOVECOT_PORT" tls
fi

echo "-- a certificate from a CA nobody trusts"
dovecot_use_cert "$CERTS/untrusted.pem" "$CERTS/untrusted.key" || fail "Dovecot did not take the certificate"
probe untrusted rejected 0x800b0109 "$DOVECOT_TLS_PORT"
if [ $PROGRAM = 1 ]; then
  check_refused untrusted-implicit 2 "$DOVECOT_TLS_PORT" tls
  check_refused untrusted-stls 1 "$DOVECOT_PORT" tls
fi
dovecot_stop

echo "-- STLS asked of a server without TLS"
dovecot_start "$E2E_DIR/plain"
dovecot_add_user "$USER_NAME" "$PASSWORD"
probe nostls failed "" --stls "$DOVECOT_PORT"
grep -q '^STLS reply: -ERR' "$E2E_DIR/probe-nostls.txt" && pass "the server answers STLS with -ERR" ||
  fail "the server did not refuse STLS"
if [ $PROGRAM = 1 ]; then
  marker="$E2E_DIR/nostls.marker"
  touch "$marker"
  check_refused nostls 1 "$DOVECOT_PORT"
  # Nothing but the question for STLS (after CAPA, perhaps) and QUIT.
  sent=$(sent_since_marker "$marker")
  [[ "$sent" == *STLS* ]] && pass "the program asked for STLS" || fail "no STLS: $sent"
  others=$(echo "$sent" | tr '|' '\n' | grep -vxE 'CAPA|STLS|QUIT|' || true)
  [ -z "$others" ] && pass "and said nothing else but CAPA or QUIT" || fail "it also said: $others"
fi
dovecot_stop

e2e_finish
