#!/usr/bin/env bash
# Two mailboxes in one copy under Wine, against one Dovecot: "自宅", POP3
# as user cat, and "仕事", IMAP as user dog, waiting in IDLE. Both are
# checked at start-up side by side; the tooltip has a line for each; mail
# pushed to the IMAP one is told with its mailbox's name while the POP3
# one is left alone; each mailbox keeps its own file, KivvetLE.cfg stays
# the file one mailbox writes, and the trace names each line's mailbox.
source "$(dirname "$0")/lib.sh"
e2e_setup mailboxes

PROBE="$KIVVET_ROOT/build/win64/kivvetprobe.exe"
dovecot_start "$E2E_DIR" --imap
dovecot_add_user dog wan
dovecot_deliver 2

configure intervalMinutes=60 fastScan=1 showPreviews=1 soundNewOnly=1 blinkNewOnly=1 \
  notifyBalloon=1 keepTelling=1 showCount=1 accountName=自宅
python3 "$KIVVET_ROOT/script/lib/kivvetcfg.py" mailboxes "$E2E_DIR/KivvetLE.mbx" \
  "serverHost=127.0.0.1;port=$DOVECOT_IMAP_PORT;userId=dog;password=wan;mailProtocol=1;intervalMinutes=60;showPreviews=1;accountName=仕事"
cp "$E2E_DIR/KivvetLE.cfg" "$E2E_DIR/cfg.before"
cp "$E2E_DIR/KivvetLE.mbx" "$E2E_DIR/mbx.before"

pop3_logins() { grep -c "pop3-login: Info: Login: user=<cat>" "$DOVECOT_LOG" || true; }
imap_logins() { grep -c "imap-login: Info: Login: user=<dog>" "$DOVECOT_LOG" || true; }
imap_pid() { sed -n 's/.*imap-login: Info: Login: user=<dog>.*mpid=\([0-9]*\),.*/\1/p' "$DOVECOT_LOG" | tail -1; }
imap_sent() {
  local pid
  pid=$(imap_pid)
  [ -n "$pid" ] || return 0
  find "$DOVECOT_RAWLOG" -name "*.$pid.*.in" -exec awk 1 {} + | sort -s -n -k1,1 |
    sed -E 's/^[0-9.]+ //; s/\r$//; /^(DONE|\*.*)$/!s/^[^ ]+ //'
}
idling() { [ "$(imap_sent | tail -1)" = IDLE ] && [ "$(imap_sent | grep -cx IDLE)" -ge "${1:-1}" ]; }
both_checked() { dovecot_quit_seen 1 && idling; }
probe() { wine "$PROBE" tips 2>/dev/null | tr -d '\r'; }
balloon_says() {
  BALLOON=$(probe | sed -n 's/^balloon=//p')
  [[ "$BALLOON" == *"$1"* ]]
}
tip_says() {
  local pos
  pos=$(tray_icon_position)
  [ -n "$pos" ] || return 1
  xdotool mousemove 100 100 mousemove $pos
  TIP=$(probe | sed -n 's/^tip=//p' | head -1)
  [[ "$TIP" == "$1"* ]]
}

echo "-- both mailboxes checked at start-up, side by side"
xdotool mousemove 100 100
start_program two -TOFF -V "-W$(winpath "$E2E_DIR")"
if wait_for 180 both_checked; then
  pass "POP3 checked and quit, IMAP waits in IDLE"
else
  fail "POP3 logins $(pop3_logins), QUITs $(dovecot_quits); IMAP sent: $(imap_sent | tr '\n' '|')"
fi
[ "$(pop3_logins)" = 1 ] && [ "$(imap_logins)" = 1 ] && pass "one login each" ||
  fail "logins: POP3 $(pop3_logins), IMAP $(imap_logins)"

echo "-- the tooltip names each mailbox, once the mail is seen"
click_tray_icon double || fail "no tray icon to double-click"
if wait_for 60 tip_says "Kivvet LE - 自宅: 0/2 | 仕事: 0/2"; then
  pass "the tooltip: $TIP"
else
  fail "the tooltip says: ${TIP:-nothing}"
fi

echo "-- mail pushed to the IMAP mailbox, told with its name"
dovecot_deliver 1 "Pushed to work" "Boss <boss@example.invalid>"
if wait_for 120 balloon_says "Pushed to work"; then
  [[ "$BALLOON" == "「仕事」に新しいメールが1通届いたにゃ."*"[仕事] Boss: Pushed to work"* ]] &&
    pass "the balloon: $BALLOON" || fail "the balloon says: $BALLOON"
else
  fail "no balloon for the pushed mail: $(probe | tr '\n' '|')"
fi
wait_for 60 idling 2 && pass "IMAP idles again on the same session" ||
  fail "IMAP sent: $(imap_sent | tr '\n' '|')"
[ "$(pop3_logins)" = 1 ] && pass "the POP3 mailbox was left alone" ||
  fail "POP3 logged in $(pop3_logins) times"

close_program two || fail "the copy did not end"

echo "-- each mailbox its own file, the first where it always was"
[ "$(file_uids | wc -l)" = 2 ] && pass "KivvetLE.log: the POP3 mailbox's 2 UIDs" ||
  fail "KivvetLE.log holds: $(file_uids 2>&1 | tr '\n' '|')"
[ -s "$E2E_DIR/KivvetLE-2.log" ] && pass "KivvetLE-2.log: the IMAP mailbox's mark" ||
  fail "no KivvetLE-2.log: $(ls "$E2E_DIR" | tr '\n' ' ')"
cmp -s "$E2E_DIR/cfg.before" "$E2E_DIR/KivvetLE.cfg" && cmp -s "$E2E_DIR/mbx.before" "$E2E_DIR/KivvetLE.mbx" &&
  pass "the settings files as they were" || fail "a settings file changed"
trace="$E2E_DIR/KivvetLE-trace.txt"
grep -aq '\[1\] .*USER cat' "$trace" && grep -aq '\[2\] .*LOGIN' "$trace" &&
  pass "the trace names each line's mailbox" || fail "the trace: $(grep -aE 'USER|LOGIN' "$trace" | tr '\n' '|')"

dovecot_stop
e2e_finish
