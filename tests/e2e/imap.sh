#!/usr/bin/env bash
# IMAP under Wine against Dovecot's IMAP, the interval an hour long and no
# check asked for: a login in TLS from the first byte and after STARTTLS,
# with the password nowhere in the trace; mail delivered while the program
# waits in IDLE announced with its sender and subject by that same
# session, which outlasts the server's keep-alives; the mailbox only
# looked at (EXAMINE, headers peeked, every message's flags as they were);
# a restart that announces nothing old; a message another client has read
# before the program found it left out of the announcement; five messages
# pushed one at a time while new mail is kept told, counted 5 on the
# icon's badge and listed newest first, one read elsewhere taken back.
#
# The balloon and the tray icon's tooltip are read as the user reads them
# (kivvetprobe tips); what the program asked the mailbox is in the raw log
# of the session's mailbox process, which sees the dialogue in plain text.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/certs.sh"
e2e_setup imap

TOOLS="$KIVVET_ROOT/build/win64"
PROBE="$TOOLS/kivvetprobe.exe"
CERTS="$E2E_DIR/certs"
USER_NAME=kitten
PASSWORD="whiskers-2718-imap"

untrust_ca() {
  [ -s "$CERTS/ca.pem" ] && wine "$TOOLS/trustca.exe" remove "$(winpath "$CERTS/ca.pem")" >/dev/null 2>&1
  return 0
}
trap 'untrust_ca; e2e_teardown' EXIT

certs_make "$CERTS" ec || { fail "no test certificates"; e2e_finish; }
wine "$TOOLS/trustca.exe" add "$(winpath "$CERTS/ca.pem")" >"$E2E_DIR/trustca.out" 2>&1 ||
  fail "could not trust the test CA: $(cat "$E2E_DIR/trustca.out")"

dovecot_start "$E2E_DIR" --tls "$CERTS/localhost.pem" "$CERTS/localhost.key" --imap
dovecot_add_user "$USER_NAME" "$PASSWORD"
dovecot_deliver 3

# The name the certificates are for; the port and the security come with
# each start. The balloon and the tooltip name the newest new mail.
E2E_SETTINGS=(serverHost=localhost "userId=$USER_NAME" "password=$PASSWORD" mailProtocol=1
  intervalMinutes=60 soundNewOnly=1 blinkNewOnly=1 tooltipMode=1 notifyBalloon=1 showPreviews=1)

# ---- the server's side ----

logins() { grep -c "imap-login: Info: Login: user=<$USER_NAME>" "$DOVECOT_LOG" || true; }
tls_login_since() {
  dovecot_log_since "$1" | grep -q "imap-login: Info: Login: user=<$USER_NAME>, .*, TLS, "
}
# The mailbox process of the last login since MARK; a mailbox process's
# raw log (in: what it got, out: what it answered), stamps and tags
# stripped; whether it has ended.
session_pid() {
  dovecot_log_since "$1" | sed -n "s/.*imap-login: Info: Login: user=<$USER_NAME>.*mpid=\([0-9]*\),.*/\1/p" | tail -1
}
mailbox_log() {
  [ -n "$1" ] || return 0
  find "$DOVECOT_RAWLOG" -name "*.$1.*.$2" -exec awk 1 {} + | sort -s -n -k1,1 |
    sed -E 's/^[0-9.]+ //; s/\r$//; /^(DONE|\*.*)$/!s/^[^ ]+ //'
}
mailbox_gone() { grep -q "imap($USER_NAME)<$1>.*Disconnected" "$DOVECOT_LOG"; }
keepalives() { mailbox_log "$1" out | grep -c '^\* OK Still here' || true; }
session_sent() { mailbox_log "$(session_pid "$1")" in; }
idles_since() { session_sent "$1" | grep -cx IDLE || true; }
# The session waits in IDLE (at least N times, default 1): its last command.
idling_since() { [ "$(session_sent "$1" | tail -1)" = IDLE ] && [ "$(idles_since "$1")" -ge "${2:-1}" ]; }
# Messages that carry any flag, by name; nobody but the test sets one.
flagged() { dovecot_flags | awk 'NF > 1'; }

# ---- what the user sees ----

balloon_text() { wine "$PROBE" tips 2>/dev/null | tr -d '\r' | sed -n 's/^balloon=//p'; }
# balloon_says TEXT: a balloon shows, and TEXT is in it; BALLOON holds it.
balloon_says() {
  BALLOON=$(balloon_text)
  [[ "$BALLOON" == *"$1"* ]]
}
# The tray icon's tooltip in TIP, the mouse brought onto the icon afresh.
tip_shown() {
  TIP=$(wine "$PROBE" tips 2>/dev/null | tr -d '\r' | sed -n 's/^tip=//p' | head -1)
  [ -n "$TIP" ]
}
tray_tip() {
  local pos
  pos=$(tray_icon_position)
  [ -n "$pos" ] || return 1
  xdotool mousemove 100 100 mousemove $pos
  wait_for 10 tip_shown
}
# The tooltip's first line tells counts ("N/M") or who wrote ("sender:
# subject"); a note may follow.
tip_settled() { tray_tip && [[ "${TIP%% | *}" =~ /[0-9]+$ || "${TIP%% | *}" == *": "* ]]; }

# ---- the program's trace ----

# keep_trace LABEL: the trace of the copy just ended, kept; none of its
# lines holds the password, in plain text or in base64, alone or in an
# AUTHENTICATE PLAIN's answer.
keep_trace() {
  local trace="$E2E_DIR/$1-trace.txt" secret found=""
  mv "$E2E_DIR/KivvetLE-trace.txt" "$trace" 2>/dev/null || { fail "$1: no trace"; return; }
  grep -aqE 'LOGIN|AUTHENTICATE' "$trace" || fail "$1: the trace shows no login"
  for secret in "$PASSWORD" "$(printf '%s' "$PASSWORD" | base64 -w0)" \
    "$(printf '\0%s\0%s' "$USER_NAME" "$PASSWORD" | base64 -w0)" \
    "$(printf '%s\0%s\0%s' "$USER_NAME" "$USER_NAME" "$PASSWORD" | base64 -w0)"; do
    grep -aqF -- "$secret" "$trace" && found="$found $secret"
  done
  [ -z "$found" ] && pass "$1: no password in the trace" || fail "$1: the trace holds$found"
}

echo "-- TLS from the first byte: the login, the first announcement, then IDLE"
mark=$(dovecot_log_mark)
configure "port=$DOVECOT_IMAPS_PORT" connectionSecurity=2
xdotool mousemove 100 100  # no tooltip to be taken for the balloon
start_program implicit -TOFF -V "-W$(winpath "$E2E_DIR")"
if wait_for 120 tls_login_since "$mark"; then pass "logged in, the log says TLS"; else
  fail "no login over TLS; the log says: $(dovecot_log_since "$mark" | grep 'imap-login' | tail -2)"
fi
if wait_for 120 balloon_says "新しいメールが3通"; then
  [[ "$BALLOON" == *"Sender 3: Test message 3"* ]] && pass "three new, the newest first: $BALLOON" ||
    fail "the balloon says: $BALLOON"
else
  fail "no balloon for three new messages: '$(balloon_text)'"
fi
wait_for 120 idling_since "$mark" && pass "then IDLE" || fail "no IDLE; the session got: $(session_sent "$mark" | tr '\n' '|')"

echo "-- mail delivered while the program waits in IDLE"
logins_before=$(logins)
dovecot_deliver 1 "Pushed while idle" "Push Sender <push@example.invalid>"
if wait_for 120 balloon_says "Pushed while idle"; then
  [[ "$BALLOON" == *"新しいメールが1通"*"Push Sender: Pushed while idle"* ]] &&
    pass "announced with its sender and subject: $BALLOON" || fail "the balloon says: $BALLOON"
else
  fail "no balloon for the mail delivered while idle: '$(balloon_text)'"
fi
# The same session told it: no login since, and it left IDLE and went
# back into it.
if wait_for 120 idling_since "$mark" 2; then
  pass "the same session left IDLE and waits in it again"
else
  fail "the session did not go back to IDLE: $(session_sent "$mark" | tr '\n' '|')"
fi
[ "$(logins)" = "$logins_before" ] && pass "no other login" || fail "$(($(logins) - logins_before)) more login(s)"
close_program implicit || fail "the first copy did not end"
keep_trace implicit

echo "-- the mailbox only looked at"
[ "$(dovecot_flags | wc -l)" = 4 ] && [ -z "$(flagged)" ] && pass "4 messages, none with a flag" ||
  fail "the flags now: $(dovecot_flags | tr '\n' '|')"

echo "-- STARTTLS, after a restart: nothing old announced"
mark=$(dovecot_log_mark)
touch "$E2E_DIR/stls.marker"
configure "port=$DOVECOT_IMAP_PORT" connectionSecurity=1
start_program stls -TOFF -V "-W$(winpath "$E2E_DIR")"
if wait_for 120 tls_login_since "$mark"; then pass "logged in, the log says TLS"; else
  fail "no login after STARTTLS; the log says: $(dovecot_log_since "$mark" | grep 'imap-login' | tail -2)"
fi
# What the login process got in plain text: every line up to STARTTLS;
# TLS records follow.
mpid=$(dovecot_log_since "$mark" | sed -n 's/.*imap-login: Info: Login: .*mpid=\([0-9]*\),.*/\1/p' | tail -1)
plain=$(find "$DOVECOT_RAWLOG" -name '*.in' ! -name "*.${mpid:-none}.*" -newer "$E2E_DIR/stls.marker" \
  -exec awk '{ sub(/\r$/, ""); sub(/^[0-9.]+ [^ ]+ /, ""); print } /STARTTLS$/ { exit }' {} + | tr '\n' ' ')
[[ "$plain" =~ ^(CAPABILITY )?STARTTLS\ $ ]] && pass "in plain text only: $plain" ||
  fail "in plain text: $plain"
dovecot_password_seen "$PASSWORD" && fail "the password is in plain text in a raw log" ||
  pass "the password never crossed in plain text"
wait_for 120 idling_since "$mark" || fail "no IDLE after the restart: $(session_sent "$mark" | tr '\n' '|')"
if wait_for 120 tip_settled; then
  [ "${TIP%% | *}" = "Kivvet LE - 0/4" ] && pass "the tooltip: $TIP" || fail "after the restart the tooltip says: $TIP"
else
  fail "no tooltip with the counts: '${TIP:-}'"
fi

echo "-- the session held through the server's keep-alives"
# Dovecot says "* OK Still here" every imap_idle_notify_interval (2
# minutes), the first time at a moment of its own; a session taken for
# dead before the second one is taken up again with a new login.
held=$(session_pid "$mark")
logins_before=$(logins)
two_keepalives_or_gone() { [ "$(keepalives "$held")" -ge 2 ] || mailbox_gone "$held"; }
wait_for 420 two_keepalives_or_gone || true
if [ "$(keepalives "$held")" -ge 2 ] && ! mailbox_gone "$held" && [ "$(logins)" = "$logins_before" ]; then
  pass "two keep-alives, the same session still in IDLE"
else
  fail "after $(keepalives "$held") keep-alive(s): $(grep -o "imap($USER_NAME)<$held>.*Disconnected.*secs" "$DOVECOT_LOG" || echo "still there");" \
    "$(($(logins) - logins_before)) more login(s)"
fi
close_program stls || fail "the second copy did not end"
keep_trace stls

echo "-- a message read elsewhere before the program finds it"
dovecot_deliver 1 "Read on the phone" "Tama <tama@example.invalid>"
dovecot_add_flag '\Seen' subject "Read on the phone" || fail "doveadm could not set \\Seen"
seen=$(flagged)
[[ "$seen" =~ ^[^\ ]+\ S$ ]] || fail "the read message's flags: $seen"
dovecot_deliver 1 "Not read yet" "Mike <mike@example.invalid>"
mark=$(dovecot_log_mark)
configure "port=$DOVECOT_IMAPS_PORT" connectionSecurity=2
xdotool mousemove 100 100
start_program seen -TOFF -V "-W$(winpath "$E2E_DIR")"
if wait_for 120 balloon_says "Not read yet"; then
  [[ "$BALLOON" == *"新しいメールが1通"* && "$BALLOON" != *Tama* ]] &&
    pass "only the unread one: $BALLOON" || fail "the balloon says: $BALLOON"
else
  fail "no balloon for the unread message: '$(balloon_text)'"
fi
wait_for 120 idling_since "$mark" || fail "no IDLE: $(session_sent "$mark" | tr '\n' '|')"
close_program seen || fail "the third copy did not end"
keep_trace seen
[ "$(dovecot_flags | wc -l)" = 6 ] && [ "$(flagged)" = "$seen" ] &&
  pass "6 messages, only the one read elsewhere with a flag (S)" ||
  fail "the flags now: $(dovecot_flags | tr '\n' '|')"

echo "-- five messages pushed one at a time, kept told until seen"
# The figure on the badge of the tray's 16-pixel icon: the white inside
# the badge's red, one pixel in, rows joined by "|" ("###|#  |###|  #|###" is 5).
BADGE_RED='#D01818'  # BADGE_COLOUR of tray/badge.h
badge_figure() {
  local shot=$1 box
  box=$(convert "$shot" -crop "$TRAY_GEOMETRY" +repage -fill black +opaque "$BADGE_RED" \
    -fill white -opaque "$BADGE_RED" -trim -format '%wx%h%X%Y' info: 2>/dev/null)
  [[ "$box" =~ ^[0-9]+x[0-9]+[+-][0-9]+[+-][0-9]+$ ]] || return 0
  convert "$shot" -crop "$TRAY_GEOMETRY" +repage -crop "$box" +repage -shave 1x1 -fill black +opaque white \
    txt:- 2>/dev/null |
    awk -F'[,: ]+' 'NR > 1 { g[$2 "," $1] = /#FFFFFF/ ? "#" : " "; if ($1 > w) w = $1; if ($2 > h) h = $2 }
      END { for (y = 0; y <= h; y++) { row = ""; for (x = 0; x <= w; x++) row = row g[y "," x];
            printf "%s%s", (y ? "|" : ""), row } }'
}
# badge_reads FIGURE: the tray's badge shows it now.
badge_reads() {
  FIGURE=$(badge_figure "$(screenshot kept-tray)")
  [ "$FIGURE" = "$1" ]
}
mark=$(dovecot_log_mark)
configure "port=$DOVECOT_IMAPS_PORT" connectionSecurity=2 keepTelling=1 showCount=1
xdotool mousemove 100 100
start_program kept -TOFF -V "-W$(winpath "$E2E_DIR")"
wait_for 120 idling_since "$mark" || fail "no IDLE: $(session_sent "$mark" | tr '\n' '|')"
for i in 1 2 3 4 5; do
  dovecot_deliver 1 "Kept $i" "Kitty $i <kitty$i@example.invalid>"
  # Each one told by a check of its own on the session, which then idles.
  wait_for 120 idling_since "$mark" $((i + 1)) ||
    fail "push $i: the session did not idle again: $(session_sent "$mark" | tr '\n' '|')"
done
if wait_for 120 balloon_says "Kept 5"; then
  [[ "$BALLOON" == *"新しいメールが5通"*"Kitty 5: Kept 5"*"Kitty 4: Kept 4"*"Kitty 3: Kept 3"* ]] &&
    pass "the last balloon counts five, the newest first: $BALLOON" || fail "the balloon says: $BALLOON"
else
  fail "no balloon for the fifth push: '$(balloon_text)'"
fi
wait_for 60 badge_reads "###|#  |###|  #|###" && pass "the icon counts 5" ||
  fail "the badge reads '$FIGURE', not 5"
# Read on another client: the register drops it, the count follows.
dovecot_add_flag '\Seen' subject "Kept 5" || fail "doveadm could not set \\Seen"
wait_for 60 badge_reads "# #|# #|###|  #|  #" && pass "read elsewhere: the icon counts 4" ||
  fail "after one was read elsewhere the badge reads '$FIGURE'"
close_program kept || fail "the fourth copy did not end"
keep_trace kept

# Every session: EXAMINE, never SELECT; nothing stored, expunged, copied
# or moved; a body or header only peeked at.
sent=$(dovecot_sent | tr -d '\000')
grep -qxE '[^ ]+ EXAMINE "?INBOX"?' <<<"$sent" && pass "EXAMINE INBOX" || fail "no EXAMINE INBOX"
writes=$(grep -aiE '^[^ ]+ (UID )?(SELECT|STORE|EXPUNGE|COPY|MOVE|APPEND)|FETCH .*(BODY\[|RFC822([^.]|$)|RFC822\.TEXT)' <<<"$sent" || true)
[ -z "$writes" ] && pass "nothing that changes the mailbox" || fail "sent: $writes"

dovecot_stop
e2e_finish
