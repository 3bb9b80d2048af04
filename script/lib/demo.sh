# The demo itself: the installer run silently, a demo mailbox on a private
# POP3 server, the installed program in the tray checking it, its menu, a
# second check after new mail from two senders (the balloon that names
# them, the count on the icon, the "新着メール" submenu), a new user's first
# start, the uninstaller.
# What it shares with the end-to-end tests comes from script/lib/.
set -euo pipefail
KIVVET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$KIVVET_ROOT/script/lib/desktop.sh"
source "$KIVVET_ROOT/script/lib/dovecot.sh"
source "$KIVVET_ROOT/script/lib/version.sh"
desktop_start demo
trap 'desktop_stop; rm -rf "$E2E_DIR"' EXIT
rmdir "$E2E_SHOTS" 2>/dev/null || true
E2E_SHOTS="${KIVVET_SHOTS:-$KIVVET_ROOT/build/demo}"
mkdir -p "$E2E_SHOTS"

dovecot_start "$E2E_DIR"
dovecot_deliver 5 "Demo"
echo "Demo mailbox: user cat on 127.0.0.1:$DOVECOT_PORT with 5 messages."

version=$(kivvet_version)
wine "$KIVVET_ROOT/dist/KivvetLE-$version-setup.exe" /S
installed=$(wine_reg_value 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KivvetLE' InstallLocation)
INSTALLED_DIR=$(wine winepath -u "$installed" | tr -d '\r')
echo "Kivvet LE $version installed silently into $installed."
export KIVVET_EXE="$INSTALLED_DIR/KivvetLE.exe"

write_settings "$INSTALLED_DIR/KivvetLE.cfg" \
  serverHost=127.0.0.1 "port=$DOVECOT_PORT" userId=cat password=nyan \
  checkAtStartup=1 soundNewOnly=1 blinkNewOnly=1 tooltipMode=2 accountName=デモ \
  notifyBalloon=1 showPreviews=1 showCount=1
# Started as the Start menu's shortcut starts it: in its own folder.
start_program demo -TOFF "-W$installed"
wait_for 60 dovecot_logged_in 1 && echo "The cat checked the mailbox."
wait_for 20 tray_shows 1 || true
screenshot 01-tray-after-check >/dev/null

click_tray_icon right && sleep 0.5
screenshot 02-tray-menu >/dev/null
xdotool key Escape

# Two letters from people: one in Japanese, its subject in ISO-2022-JP as
# a MIME encoded-word, as Japanese mail programs send it.
subject=$(printf '%s' "今夜のごはんの相談" | iconv -f UTF-8 -t ISO-2022-JP | base64 -w0)
dovecot_deliver 1 "=?ISO-2022-JP?B?$subject?=" "=?UTF-8?B?$(printf '%s' "山田 花子" | base64 -w0)?= <hanako@example.invalid>"
dovecot_deliver 1 "Minutes of Tuesday's meeting" "Alex Smith <alex@example.invalid>"
click_tray_icon right && sleep 0.5
xdotool key c
wait_for 60 dovecot_logged_in 2 && echo "Two more messages arrived; the cat checked again."
balloon_up() { [ "$(colour_count "$(screenshot balloon-now)" '#FFFFFF' 500x200+524+540)" -gt 2000 ]; }
wait_for 30 balloon_up && echo "The balloon names who wrote and about what."
screenshot 03-balloon-with-senders >/dev/null
# The count on the icon, the tray enlarged four times, taken in a frame of
# the blink that shows the cat (the empty one shows the count alone).
wait_for 10 tray_shows 1 || true
convert "$E2E_SHOTS/tray-now.png" -crop "$TRAY_GEOMETRY" +repage -scale 400% \
  "$E2E_SHOTS/04-count-on-the-icon.png" 2>/dev/null || true
# The menu's "新着メール" lists them, newest first.
click_tray_icon right && sleep 0.5
xdotool key Down Right && sleep 0.5
screenshot 05-new-mail-submenu >/dev/null
xdotool key Escape Escape

# A first start elsewhere, as a new user sees it: the title, then the sheet.
mkdir -p "$E2E_DIR/new-user"
start_program newuser "-W$(winpath "$E2E_DIR/new-user")"
wait_for 20 title_shown && screenshot 06-title >/dev/null
if wait_for 30 window_shown "設定するにゃ"; then
  sleep 1
  photograph_sheet_pages 07-settings-page
  xdotool key Escape
  echo "A new user's first start: the title window and the four settings pages."
fi
wait_for 20 test -s "$E2E_DIR/new-user/KivvetLE.cfg" || true
wine taskkill /im KivvetLE.exe >/dev/null 2>&1 || true
wait_for 30 program_exited newuser || true

if [ -n "${KIVVET_DISPLAY:-}" ] && [ -t 0 ]; then
  read -r -p "The program runs on your display; press Enter to end it. "
fi
close_program demo || true
dovecot_stop
echo "Known UIDs written: $(stat -c %s "$INSTALLED_DIR/KivvetLE.log" 2>/dev/null || echo 0) bytes."
# The uninstaller runs on from a copy of itself; a silent one keeps the
# settings, which go with the demo's own.
wine "$INSTALLED_DIR/uninstall.exe" /S
uninstalled() { [ ! -e "$INSTALLED_DIR/uninstall.exe" ]; }
wait_for 60 uninstalled && echo "Uninstalled silently."
rm -f "$INSTALLED_DIR/KivvetLE.cfg" "$INSTALLED_DIR/KivvetLE.log"
rmdir "$INSTALLED_DIR" 2>/dev/null || true
rm -f "$E2E_SHOTS/tray-now.png" "$E2E_SHOTS/tray-find.png" "$E2E_SHOTS/title-now.png" \
  "$E2E_SHOTS/balloon-now.png"
echo "Screenshots in $E2E_SHOTS:"
ls "$E2E_SHOTS"
