#!/usr/bin/env bash
# The program starts under Wine, shows its cat in the tray, a second copy
# shows a second cat, and a WM_CLOSE from outside ends each copy with
# exit code 0. Libraries planted where a careless program would load them
# (WININET.DLL beside the program, KivvetLE.dll in the data folder, a
# KivvetLE.dll of code beside the program) never run.
source "$(dirname "$0")/lib.sh"
e2e_setup smoke

write_settings "$E2E_DIR/KivvetLE.cfg" checkAtStartup=0 accountName=smoke
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

echo "-- planted libraries"
program_dir="$E2E_DIR/program"
data_dir="$E2E_DIR/data"
mkdir -p "$program_dir" "$data_dir"
cp "$KIVVET_ROOT/build/win64/KivvetLE.exe" "$program_dir/"
cp "$KIVVET_ROOT/build/win64/planted.dll" "$program_dir/WININET.DLL"
cp "$KIVVET_ROOT/build/win64/planted.dll" "$data_dir/KivvetLE.dll"
# A check at once, to a port where nobody listens: the online test loads
# WININET before it. A first failure before the server is only the normal
# icon with a soft word; the retry a minute later shows the error icon.
configure_at "$data_dir" 9 accountName=planted
KIVVET_EXE="$program_dir/KivvetLE.exe" start_program planted "-W$(winpath "$data_dir")"
if wait_for 180 tray_shows_error; then
  pass "the check ran (and failed to connect)"
else
  fail "no failed check: $(tray_icon_count "$(screenshot planted)") icons"
fi
ran=$(find "$E2E_DIR" -name '*.ran' | tr '\n' ' ')
[ -z "$ran" ] && pass "neither planted library ran" || fail "planted code ran: $ran"
close_program planted || fail "did not end"

# Beside the program a library of that name is the title library, taken
# as pictures only: its code does not run, and with no picture in it the
# start goes on without a title.
cp "$KIVVET_ROOT/build/win64/planted.dll" "$program_dir/KivvetLE.dll"
KIVVET_EXE="$program_dir/KivvetLE.exe" start_program pictures "-W$(winpath "$data_dir")"
if wait_for 60 tray_shows 1; then pass "the start goes on without a title"; else fail "no tray icon"; fi
ran=$(find "$E2E_DIR" -name '*.ran' | tr '\n' ' ')
[ -z "$ran" ] && pass "the library beside the program is loaded without running" || fail "planted code ran: $ran"
close_program pictures || fail "did not end"

e2e_finish
