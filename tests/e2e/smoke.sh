#!/usr/bin/env bash
# The program starts under Wine, shows its cat in the tray, a second copy
# shows a second cat, and a WM_CLOSE from outside ends each copy with
# exit code 0.
source "$(dirname "$0")/lib.sh"
e2e_setup smoke

python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" write "$E2E_DIR/KivvetLE.cfg" \
  checkAtStartup=0 accountName=smoke
cfg_before=$(md5sum <"$E2E_DIR/KivvetLE.cfg")

start_program first -TOFF "-W$(winpath "$E2E_DIR")"
if wait_for 60 tray_shows 1; then
  pass "the cat appears in the tray"
else
  fail "no cat in the tray"
fi
screenshot one-copy >/dev/null

start_program second -TOFF "-W$(winpath "$E2E_DIR")"
if wait_for 60 tray_shows 2; then
  pass "a second copy shows a second cat"
else
  fail "a second copy shows no second cat"
fi
screenshot two-copies >/dev/null

wine taskkill /im KivvetLE.exe >/dev/null 2>&1 || true
if wait_for 60 program_exited first && wait_for 60 program_exited second; then
  [ "$(exit_code_of first)" = 0 ] && [ "$(exit_code_of second)" = 0 ] &&
    pass "WM_CLOSE ends both copies with exit code 0" ||
    fail "exit codes $(exit_code_of first) and $(exit_code_of second)"
else
  fail "the program did not end after WM_CLOSE"
fi
if wait_for 60 tray_shows 0; then pass "the icons are gone"; else fail "icons left in the tray"; fi
[ "$(md5sum <"$E2E_DIR/KivvetLE.cfg")" = "$cfg_before" ] &&
  pass "the settings file is untouched" || fail "the settings file changed"

e2e_finish
