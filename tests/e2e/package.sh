#!/usr/bin/env bash
# The package as a user gets it: the resources Windows reads from the built
# files, the zip's contents, and the installer under Wine: a silent
# install, the installed program started by its log-on value, an upgrade
# over the running program that keeps its settings and known UIDs, and a
# silent uninstall that removes the program and its log-on value and
# leaves the settings. The AppUserModelID's key, which names the
# program's notifications, comes with the install and goes with the
# uninstall.
source "$(dirname "$0")/lib.sh"
e2e_setup package

version=$(kivvet_version) || { fail "no version in resources/version.h"; e2e_finish; }
KIVVET_NO_BOOTSTRAP=1 "$KIVVET_ROOT/script/package" >"$E2E_DIR/package.out" 2>&1 ||
  { cat "$E2E_DIR/package.out" >&2; fail "script/package failed"; e2e_finish; }
zip="$KIVVET_ROOT/dist/KivvetLE-$version.zip"
setup="$KIVVET_ROOT/dist/KivvetLE-$version-setup.exe"

if python3 "$KIVVET_ROOT/tests/e2e/peresources.py" "$version" "$KIVVET_ROOT/build/win64/KivvetLE.exe" \
  "$KIVVET_ROOT/build/win64/KivvetLE.dll" "$setup" >"$E2E_DIR/resources.out"; then
  pass "manifest, version resources and icon sizes read back from the PE files"
else
  cat "$E2E_DIR/resources.out" >&2
  fail "the resources of the built files"
fi
listing=$(python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
top="KivvetLE-$version"
[ "$listing" = "$top/KivvetLE.dll $top/KivvetLE.exe $top/KivvetLE.html $top/LICENSE.txt $top/README-ja.txt" ] &&
  pass "the zip holds the program, its library, help, read-me and licence" || fail "zip holds: $listing"

UNINSTALL='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KivvetLE'
RUN='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
APP_ID_KEY="HKCU\\Software\\Classes\\AppUserModelId\\$(kivvet_app_id)"

wine "$setup" /S >"$E2E_DIR/install.out" 2>&1 || true
folder=$(wine_reg_value "$UNINSTALL" InstallLocation)
case "$folder" in
  *'\AppData\Local\Programs\Kivvet LE') pass "installed for this user into $folder" ;;
  *) fail "install location '$folder'" ;;
esac
dir=$(wine winepath -u "$folder" 2>/dev/null | tr -d '\r')
for file in KivvetLE.exe KivvetLE.dll KivvetLE.html uninstall.exe; do
  [ -s "$dir/$file" ] || fail "$file not installed"
done
[ "$(wine_reg_value "$UNINSTALL" UninstallString)" = "\"$folder\\uninstall.exe\"" ] &&
  [ "$(wine_reg_value "$UNINSTALL" DisplayVersion)" = "$version" ] &&
  pass "Apps & features lists it with its uninstaller" || fail "no entry in Apps & features"
[ -n "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Kivvet LE.lnk' 2>/dev/null)" ] &&
  pass "a shortcut in the Start menu" || fail "no Start menu shortcut"
logon=$(wine_reg_value "$RUN" "Kivvet LE - $folder")
[ "$logon" = "\"$folder\\KivvetLE.exe\" \"-W$folder\" -TOFF" ] &&
  pass "starts at log-on in its folder without the title window" || fail "log-on value '$logon'"
[ "$(wine_reg_value "$APP_ID_KEY" DisplayName)" = "Kivvet LE" ] &&
  [ "$(wine_reg_value "$APP_ID_KEY" IconUri)" = "$folder\KivvetLE.ico" ] && [ -s "$dir/KivvetLE.ico" ] &&
  pass "notifications are named Kivvet LE, with the cat" ||
  fail "AppUserModelId key: '$(wine_reg_value "$APP_ID_KEY" DisplayName)' '$(wine_reg_value "$APP_ID_KEY" IconUri)'"

# Settings and known UIDs of a user, then the program as the log-on starts it.
write_settings "$dir/KivvetLE.cfg" checkAtStartup=0 accountName=installed
head -c 32768 /dev/urandom >"$dir/KivvetLE.log"
data_sums() { md5sum <"$dir/KivvetLE.cfg"; md5sum <"$dir/KivvetLE.log"; }
before=$(data_sums)
KIVVET_EXE="$dir/KivvetLE.exe" start_program installed "-W$folder" -TOFF
if wait_for 90 tray_shows 1; then pass "the installed program shows its cat"; else fail "no cat from the installed program"; fi
screenshot installed >/dev/null

# An upgrade while it runs: the running copy is asked to close first.
touch -d '2001-01-01' "$dir/KivvetLE.exe"
wine "$setup" /S >"$E2E_DIR/upgrade.out" 2>&1 || true
if wait_for 60 program_exited installed; then
  [ "$(exit_code_of installed)" = 0 ] && pass "the upgrade closed the running copy" ||
    fail "the running copy ended with $(exit_code_of installed)"
else
  fail "the running copy was not closed by the upgrade"
fi
[ "$(stat -c %Y "$dir/KivvetLE.exe")" -gt "$(date -d '2002-01-01' +%s)" ] &&
  pass "the upgrade replaced the program" || fail "the program was not replaced"
[ "$(data_sums)" = "$before" ] && pass "the upgrade kept the settings and known UIDs" ||
  fail "the upgrade changed the settings or known UIDs"

# The uninstaller runs a copy of itself from the temporary folder and
# returns at once: judge by what it leaves.
wine "$dir/uninstall.exe" /S >"$E2E_DIR/uninstall.out" 2>&1 || true
uninstalled() { [ ! -e "$dir/KivvetLE.exe" ] && [ ! -e "$dir/uninstall.exe" ] && [ -z "$(wine_reg_value "$UNINSTALL" InstallLocation)" ]; }
if wait_for 120 uninstalled; then pass "the uninstaller removed the program"; else fail "the program is still installed"; fi
[ -z "$(wine_reg_value "$RUN" "Kivvet LE - $folder")" ] && pass "and its log-on value" || fail "the log-on value is left"
[ -z "$(wine_reg_value "$APP_ID_KEY" DisplayName)" ] && [ ! -e "$dir/KivvetLE.ico" ] &&
  pass "and the notifications' name" || fail "the AppUserModelId key is left"
[ "$(data_sums)" = "$before" ] && pass "a silent uninstall leaves the settings and known UIDs" ||
  fail "the settings or known UIDs are gone"

e2e_finish
