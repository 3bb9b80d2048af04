#!/usr/bin/env bash
# A new user's first start under Wine: the title window, then the settings
# sheet (its four pages photographed), F1 on a box shows its topic, page 1
# filled in with the keyboard and OK writes a settings file that loads
# back to what was typed; the tray icon appears only after the sheet has
# closed. With -TOFF there is no title window.
source "$(dirname "$0")/lib.sh"
e2e_setup firststart

cp "$KIVVET_ROOT/build/win64/KivvetLE.dll" "$E2E_DIR/"
cp "$KIVVET_ROOT/build/win64/KivvetLE.exe" "$E2E_DIR/"
KIVVET_EXE="$E2E_DIR/KivvetLE.exe"

window_shown() { xdotool search --name "$1" >/dev/null 2>&1; }
start_program first "-W$(winpath "$E2E_DIR")"
if wait_for 60 title_shown; then
  pass "the title window shows the cat"
  screenshot title >/dev/null
else
  fail "no title window"
fi
if wait_for 60 window_shown "設定するにゃ"; then
  pass "the settings sheet opens"
else
  fail "no settings sheet"
fi
sleep 1
tray_shows 0 && pass "no tray icon while the sheet is open" || fail "a tray icon while the sheet is open"
photograph_sheet_pages page

# Back into the account box.
xdotool mousemove 460 353 click 1
sleep 0.3

# F1 on the account box: its topic pops up beside it (a tooltip).
before=$(screenshot before-help)
xdotool key F1
if wait_for 20 screen_differs "$before" 200; then pass "F1 shows a help popup"; else fail "F1 changed nothing"; fi
screenshot help-popup >/dev/null
sleep 0.3

# Page 1 by the keyboard, in its tab order, then OK (Enter).
xdotool type --delay 30 "e2e-cat"
xdotool key Tab
xdotool type --delay 30 "127.0.0.1"
xdotool key Tab
xdotool type --delay 30 "cat"
xdotool key Tab
xdotool type --delay 30 "nyan"
xdotool key Tab ctrl+a
xdotool type --delay 30 "110"
# The connection security list: two steps down is TLS from the first
# byte, which turns the plain port 110 into 995.
xdotool key Tab Down Down
xdotool key Tab ctrl+a
xdotool type --delay 30 "0"
screenshot page-1-filled >/dev/null
# Checks at start-up off, so that no check runs against nothing.
xdotool key Tab space
xdotool key Return
if wait_for 60 test -s "$E2E_DIR/KivvetLE.cfg"; then
  values=$(python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" read "$E2E_DIR/KivvetLE.cfg" | tr '\n' ' ')
  for expected in accountName=e2e-cat serverHost=127.0.0.1 userId=cat password=nyan port=995 \
                  connectionSecurity=2 intervalMinutes=1 checkAtStartup=0; do
    case " $values" in
      *" $expected "*) pass "stored $expected" ;;
      *) fail "not stored: $expected (file: $values)" ;;
    esac
  done
else
  fail "no settings file after OK"
fi
if wait_for 60 tray_shows 1; then pass "the tray icon appears after the sheet"; else fail "no tray icon after the sheet"; fi
close_program first || fail "did not end"

start_program quiet -TOFF "-W$(winpath "$E2E_DIR")"
if wait_for 60 tray_shows 1; then
  title_shown && fail "a title window despite -TOFF" || pass "-TOFF: no title window"
else
  fail "no tray icon with -TOFF"
fi
close_program quiet || fail "did not end"
e2e_finish
