#!/usr/bin/env bash
# New mail under Wine against Dovecot: the known-UID file after the first
# check, new mail told from old across a menu check and a restart, the
# blink in the tray, the double click that stops it and starts the mail
# program, and one sound per announced message (Wine's winmm trace); then
# the same with fast scan: one bare UIDL, the same list, the same blink.
source "$(dirname "$0")/lib.sh"
e2e_setup newmail

dovecot_start "$E2E_DIR"
dovecot_deliver 5
cp "$KIVVET_ROOT/build/win64/testmailer.exe" "$E2E_DIR/"
export KIVVET_MAILER_LOG="$E2E_DIR/mailer.log"

E2E_SETTINGS=(soundNewOnly=1 blinkNewOnly=1 tooltipMode=1 "mailerPath=$(winpath "$E2E_DIR")\\testmailer.exe")
configure

server_uids() {
  python3 - "$DOVECOT_PORT" <<'PY'
import poplib, sys
pop = poplib.POP3("127.0.0.1", int(sys.argv[1]))
pop.user("cat"); pop.pass_("nyan")
for line in pop.uidl()[1]:
    print(line.decode().split()[1])
pop.quit()
PY
}
# server_uids logs in too, so a wait for a login counts from a count
# taken just before the program's own step.
plays() { grep -c 'MULTIMEDIA_PlaySound pszSound' "$E2E_DIR/$1.out" || true; }

# Samples the tray for a while: "blink" when both the empty frame and the
# mail frame were seen, "still" when the cat sat still all the time.
watch_tray() {
  local seconds=$1 blank=0 shown=0 i shot
  for i in $(seq $((seconds * 4))); do
    shot=$(screenshot "watch-$i")
    if [ "$(tray_icon_count "$shot")" -eq 0 ]; then blank=1; else shown=1; fi
    sleep 0.25
  done
  rm -f "$E2E_SHOTS"/watch-*.png
  if [ $blank = 1 ] && [ $shown = 1 ]; then echo blink; elif [ $blank = 0 ]; then echo still; else echo gone; fi
}
wait_blinking() { [ "$(watch_tray 2)" = blink ]; }

echo "-- the first check: five new messages"
WINEDEBUG=trace+winmm start_program first -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 dovecot_logged_in 1 || fail "no login"
if wait_for 30 file_has 5; then
  [ "$(file_uids)" = "$(server_uids)" ] && pass "KivvetLE.log holds the 5 UIDs in message order" ||
    fail "KivvetLE.log holds $(file_uids | tr '\n' ' ')"
  [ "$(stat -c %s "$E2E_DIR/KivvetLE.log")" = 32768 ] && pass "KivvetLE.log is 32768 bytes" || fail "wrong size"
else
  fail "no UID file with 5 UIDs"
fi
# Five sounds, one a second, then the blink.
if wait_for 60 wait_blinking; then pass "the cat blinks after speaking"; else fail "no blink"; fi
screenshot blinking >/dev/null
sounds=$(plays first)
if [ "$sounds" -gt 0 ]; then
  [ "$sounds" -eq 5 ] && pass "five sounds for five messages" || fail "$sounds sounds for five messages"
else
  echo "  (Wine's winmm trace shows no PlaySound calls here; sounds not counted)"
fi

echo "-- a double click stops the blink and starts the mail program"
click_tray_icon double || true
if wait_for 60 test -s "$KIVVET_MAILER_LOG"; then pass "the mail program started"; else fail "no mail program"; fi
if wait_for 30 bash -c '[ "$(watch_tray 2)" = still ]' 2>/dev/null || [ "$(watch_tray 2)" = still ]; then
  pass "the blink stopped"
else
  fail "still blinking after the double click"
fi

echo "-- two more messages, checked from the menu"
dovecot_deliver 2
before=$(dovecot_logins)
open_tray_menu || fail "no menu on a right click"
xdotool key c
wait_for 60 dovecot_logged_in $((before + 1)) || fail "the menu's check did not log in"
if wait_for 30 file_has 7; then pass "the list grows to 7"; else fail "the list did not grow to 7"; fi
wait_for 60 wait_blinking && pass "the cat blinks for the new mail" || fail "no blink for new mail"
[ "$(plays first)" -eq 0 ] || {
  [ "$(plays first)" -eq 7 ] && pass "two more sounds for two new messages" || fail "$(plays first) sounds in all"
}
# The tooltip reads 2/7: hover and keep the picture for the record.
pos=$(tray_icon_position || true)
[ -n "$pos" ] && xdotool mousemove $pos && sleep 1.5
screenshot tooltip-2-of-7 >/dev/null
close_program first || fail "the first copy did not end"

echo "-- after a restart nothing is new"
before=$(dovecot_logins) quits_before=$(dovecot_quits)
start_program second -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 dovecot_logged_in $((before + 1)) || fail "no login after the restart"
# The blink would start as QUIT goes out; the icon the check shows
# meanwhile gives way to the normal one then.
wait_for 60 dovecot_quit_seen $((quits_before + 1)) || fail "the check after the restart did not end"
wait_for 60 tray_shows_normal || fail "not the normal icon after the restart's check"
[ "$(watch_tray 3)" = still ] && pass "no blink: nothing new after the restart" || fail "the cat blinks after a restart"
file_has 7 && pass "the list still holds 7" || fail "the list changed: $(file_uids | wc -l)"
close_program second || fail "the second copy did not end"

echo "-- fast scan: one listing in one flight, the same list and the same announcement"
dovecot_deliver 2
configure fastScan=1
find "$DOVECOT_RAWLOG" -type f -delete
quit_sent() { dovecot_sent | grep -qx QUIT; }
WINEDEBUG=trace+winmm start_program fast -TOFF "-W$(winpath "$E2E_DIR")"
# The raw logs hold this copy's session alone; poplib's comes after.
if wait_for 120 quit_sent && wait_for 30 file_has 9; then
  sent=$(dovecot_sent)
  # What a flight held beyond the login is in the login process's raw log
  # and again in the mailbox process's, which took it over: counted there.
  mailbox=$(grep -L ' USER ' "$DOVECOT_RAWLOG"/*.in | xargs cat | sed -E 's/^[0-9.]+ //; s/\r$//')
  [ "$(grep -cx UIDL <<<"$mailbox")" = 1 ] && pass "one bare UIDL" || fail "bare UIDLs: $(grep -cx UIDL <<<"$mailbox")"
  grep -q '^UIDL [0-9]' <<<"$sent" && fail "UIDL with a number was sent" || pass "no UIDL with a number"
  # Dovecot pipelines: after CAPA the login process read USER to QUIT in
  # one piece (one time stamp), before it had answered USER.
  flight=$(grep -l ' USER ' "$DOVECOT_RAWLOG"/*.in | head -1)
  stamp_of() { awk -v word="$1" '{ sub(/\r$/, "") } $2 == word { print $1; exit }' "$flight"; }
  user_at=$(stamp_of USER)
  if [ "$(sed -n 1p "$flight" | awk '{ sub(/\r$/, ""); print $2 }')" = CAPA ] && [ -n "$user_at" ] &&
    [ "$user_at" = "$(stamp_of PASS)" ] && [ "$user_at" = "$(stamp_of STAT)" ] &&
    [ "$user_at" = "$(stamp_of UIDL)" ] && [ "$user_at" = "$(stamp_of QUIT)" ]; then
    pass "CAPA, then USER, PASS, STAT, UIDL and QUIT in one flight"
  else
    fail "no flight: $(tr '\r\n' ' |' <"$flight")"
  fi
  [ "$(file_uids)" = "$(server_uids)" ] && pass "KivvetLE.log holds the 9 UIDs in message order" ||
    fail "KivvetLE.log holds $(file_uids | tr '\n' ' ')"
else
  fail "no check with fast scan, or the list did not grow to 9: $(file_uids | wc -l)"
fi
wait_for 60 wait_blinking && pass "the cat blinks for the two new messages" || fail "no blink with fast scan"
[ "$(plays fast)" -eq 0 ] || {
  [ "$(plays fast)" -eq 2 ] && pass "two sounds for two new messages" || fail "$(plays fast) sounds"
}
close_program fast || fail "the fast scan copy did not end"

echo "-- previews: the headers of the newest new mail only, in the balloon and the menu"
# Six new messages whose sender is in ISO-2022-JP (B) and subject in
# UTF-8 (Q): TOP for the newest five, nothing else.
from=$(python3 -c 'import base64; print("=?ISO-2022-JP?B?" + base64.b64encode("山田花子".encode("iso2022_jp")).decode() + "?= <hanako@example.invalid>")')
subject="=?UTF-8?Q?$(python3 -c 'print("".join("=%02X" % b for b in "会議のお知らせ".encode()))')?="
for i in 1 2 3 4 5 6; do dovecot_deliver 1 "$subject No.$i" "$from"; done
configure fastScan=1 notifyBalloon=1 showPreviews=1
find "$DOVECOT_RAWLOG" -type f -delete
mailer_runs=$(wc -c <"$KIVVET_MAILER_LOG")
xdotool mousemove 100 100  # no tooltip to be taken for the balloon
start_program preview -TOFF -V "-W$(winpath "$E2E_DIR")"
if wait_for 120 quit_sent && wait_for 30 file_has 15; then
  tops=$(dovecot_sent | grep '^TOP' | tr '\n' ' ')
  [ "$tops" = "TOP 15 0 TOP 14 0 TOP 13 0 TOP 12 0 TOP 11 0 " ] &&
    pass "TOP n 0 for the five newest new messages only" || fail "TOPs sent: $tops"
  dovecot_sent | grep -Eq '^(RETR|DELE)' && fail "RETR or DELE was sent" || pass "no RETR, no DELE"
else
  fail "no check with previews: $(file_uids | wc -l) UIDs"
fi
if wait_for 30 balloon_shown; then
  pass "the balloon shows"
  screenshot preview-balloon >/dev/null
else
  fail "no balloon"
fi
wait_for 60 wait_blinking && pass "the cat blinks" || fail "no blink with previews"
# The menu once the balloon has gone, its submenu of new mail open.
balloon_gone() { ! balloon_shown; }
wait_for 60 balloon_gone || true
open_tray_menu || fail "no menu on a right click"
before=$(screenshot preview-menu-closed-sub)
xdotool key Down Right
wait_for 30 screen_differs "$before" 500 || fail "the submenu did not open"
screenshot preview-menu >/dev/null
# "お知らせを止めるにゃ": back out of the submenu, down past the check.
xdotool key Left Down Down Return
tray_still() { [ "$(watch_tray 2)" = still ]; }
if wait_for 30 tray_still; then
  pass "the stop item ends the blink"
else
  fail "still blinking after the stop item"
fi
[ "$(wc -c <"$KIVVET_MAILER_LOG")" = "$mailer_runs" ] && pass "no mail program from the stop item" ||
  fail "the stop item started the mail program"
# Nothing of the messages on disk: the program's files and its trace.
grep -q 'header bytes: [0-9]' "$E2E_DIR/KivvetLE-trace.txt" && grep -q 'sent TOP 15 0' "$E2E_DIR/KivvetLE-trace.txt" &&
  pass "the trace tells TOP and the header bytes" || fail "no TOP in the trace"
if grep -lE 'hanako|Subject|GyRC|=E4=BC' "$E2E_DIR"/KivvetLE* ; then
  fail "a header is on disk"
else
  pass "no header in the program's files"
fi
close_program preview || fail "the preview copy did not end"

dovecot_stop
e2e_finish
