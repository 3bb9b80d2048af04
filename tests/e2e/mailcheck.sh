#!/usr/bin/env bash
# KivvetLE.exe under Wine against a real POP3 server (a private Dovecot on
# 127.0.0.1) and against misbehaving ones: logins with USER/PASS and with
# APOP, a wrong password, a closed port, a server that never greets; the
# right-click menu and the double click that starts the mail program.
source "$(dirname "$0")/lib.sh"
e2e_setup mailcheck

dovecot_start "$E2E_DIR"
dovecot_deliver 3

# The mail program lies in a folder whose name holds a character whose
# second byte is a backslash in Shift-JIS.
mailer_dir="$E2E_DIR/表メール"
mkdir -p "$mailer_dir"
cp "$KIVVET_ROOT/build/win64/testmailer.exe" "$mailer_dir/"
export KIVVET_MAILER_LOG="$E2E_DIR/mailer.log"

E2E_SETTINGS=(tooltipMode=1 accountName=e2e
  "mailerPath=$(winpath "$mailer_dir")\\testmailer.exe" "mailerArgs=/check 受信箱")

echo "-- USER and PASS"
configure
start_program plain -TOFF "-W$(winpath "$E2E_DIR")"
if wait_for 60 dovecot_logged_in 1 PLAIN; then pass "logged in with USER/PASS (method=PLAIN)"; else fail "no PLAIN login"; fi
if wait_for 60 dovecot_quit_seen 1; then
  sent=$(dovecot_sent | tr -d '\r' | tr '\n' '|')
  case "$sent" in
    "USER cat|PASS nyan|STAT|QUIT|") pass "the server saw exactly USER, PASS, STAT, QUIT" ;;
    *) fail "the server saw: $sent" ;;
  esac
else
  fail "no QUIT reached the server"
fi
wait_for 60 tray_shows_normal && pass "the normal icon after the check" || fail "not the normal icon"
screenshot after-check >/dev/null

# The right-click menu, and its check command by its access key.
open_tray_menu || fail "no menu on a right click"
screenshot menu-open >/dev/null
xdotool key c
if wait_for 60 dovecot_logged_in 2 PLAIN; then pass "the menu's check command checks again"; else fail "the menu's check did nothing"; fi

# A double click starts the mail program in its own folder.
wait_for 60 tray_shows_normal || true
click_tray_icon double
if wait_for 60 test -s "$KIVVET_MAILER_LOG"; then
  # The mail program writes what Windows gives it: Shift-JIS.
  IFS=$'\t' read -r where command < <(iconv -f CP932 -t UTF-8 "$KIVVET_MAILER_LOG")
  [ "$where" = "$(winpath "$mailer_dir")" ] && pass "the mail program starts in its folder" ||
    fail "the mail program started in '$where'"
  [ "$command" = " /check 受信箱" ] && pass "its command line is the blank and the parameters" ||
    fail "its command line is '$command'"
else
  fail "the double click started no mail program"
fi

open_tray_menu || fail "no menu on a right click"
xdotool key x
if wait_for 60 program_exited plain && [ "$(exit_code_of plain)" = 0 ]; then
  pass "the menu's exit ends the program with code 0"
else
  fail "the menu's exit did not end the program"
  close_program plain || true
fi

echo "-- APOP"
configure useApop=1
start_program apop -TOFF "-W$(winpath "$E2E_DIR")"
if wait_for 60 dovecot_logged_in 1 APOP; then pass "logged in with APOP (method=APOP)"; else fail "no APOP login"; fi
close_program apop || fail "APOP copy did not end"

echo "-- a wrong password"
configure password=wrong
mark=$(dovecot_log_mark)
start_program wrong -TOFF "-W$(winpath "$E2E_DIR")"
# The icon counts only once the server has refused the password: the
# refusal, not some other failure, must be what it shows.
refused() { dovecot_log_since "$mark" | grep -qE 'auth failed|Password mismatch'; }
if wait_for 90 refused; then pass "the server refused the password"; else fail "the server never refused the password"; fi
if wait_for 60 tray_shows_error; then pass "a wrong password shows the error icon"; else fail "no error icon for a wrong password"; fi
screenshot wrong-password >/dev/null
close_program wrong || fail "did not end"

echo "-- a closed port"
closed_port=$((DOVECOT_PORT + 1000))
configure "port=$closed_port"
start_program closed -TOFF "-W$(winpath "$E2E_DIR")"
# A refused connection may be a network that is not back yet: the first
# one shows no alarm, the retry a minute later the error icon.
if wait_for 150 tray_shows_error; then pass "a closed port shows the error icon"; else fail "no error icon for a closed port"; fi
close_program closed || fail "did not end"

echo "-- a server that never greets"
start_fakepop3 "$E2E_DIR/silent.port" "$E2E_DIR/silent.log" --mode silent || fail "the silent server did not start"
configure "port=$(cat "$E2E_DIR/silent.port")"
start_program silent -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 grep -q "connected" "$E2E_DIR/silent.log" || fail "never connected to the silent server"
started=$SECONDS
if wait_for 40 tray_shows_normal && wait_for 90 tray_shows_error; then
  waited=$((SECONDS - started))
  [ $waited -ge 50 ] && pass "the silent server ends by the time-out (${waited}s)" ||
    fail "the error came after only ${waited}s"
else
  fail "no time-out"
fi
close_program silent || fail "did not end"

dovecot_stop
e2e_finish
