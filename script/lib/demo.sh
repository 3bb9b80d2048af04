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
# A photograph that does not show what its name promises ends the demo.
demo_fails() {
  echo "The demo failed: $1." >&2
  exit 1
}
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

open_tray_menu || demo_fails "the tray menu did not open"
screenshot 02-tray-menu >/dev/null
xdotool key Escape

# Two letters from people: one in Japanese, its subject in ISO-2022-JP as
# a MIME encoded-word, as Japanese mail programs send it.
subject=$(printf '%s' "今夜のごはんの相談" | iconv -f UTF-8 -t ISO-2022-JP | base64 -w0)
dovecot_deliver 1 "=?ISO-2022-JP?B?$subject?=" "=?UTF-8?B?$(printf '%s' "山田 花子" | base64 -w0)?= <hanako@example.invalid>"
dovecot_deliver 1 "Minutes of Tuesday's meeting" "Alex Smith <alex@example.invalid>"
# The balloon is a white box above the tray, about two seconds after the
# check. The menu and the icon's tooltip are white too, and the first
# check's balloon may still stand: the pointer leaves the tray, and the
# check is asked for once nothing white stands there, so that after it
# has begun only its balloon can bring one. The picture that saw it is
# the photograph.
white_over_tray() { colour_count "$(screenshot balloon-now)" '#FFFFFF' 500x200+524+540; }
balloon_up() { [ "$(white_over_tray)" -gt 2000 ]; }
nothing_over_tray() { [ "$(white_over_tray)" -lt 100 ]; }
xdotool mousemove 100 100
wait_for 60 nothing_over_tray || demo_fails "the first balloon did not go"
open_tray_menu || demo_fails "the tray menu did not open"
xdotool key c
xdotool mousemove 100 100
wait_for 60 dovecot_logged_in 2 || demo_fails "no second check"
echo "Two more messages arrived; the cat checked again."
wait_for 30 balloon_up || demo_fails "no balloon"
cp "$E2E_SHOTS/balloon-now.png" "$E2E_SHOTS/03-balloon-with-senders.png"
echo "The balloon names who wrote and about what."
# The count on the icon, the tray enlarged four times, taken in a frame of
# the blink that shows the cat (the empty one shows the count alone).
wait_for 10 tray_shows 1 || true
convert "$E2E_SHOTS/tray-now.png" -crop "$TRAY_GEOMETRY" +repage -scale 400% \
  "$E2E_SHOTS/04-count-on-the-icon.png" 2>/dev/null || true
# The menu's "新着メール" lists them, newest first. Chosen by the keyboard
# it opens its submenu, whose first item is chosen in turn: the picture
# then holds two items in the highlight's colour, the submenu's beside
# its own. Each key waits until the menu has followed it.
highlight=$(printf '#%02X%02X%02X' $(wine_reg_value 'HKCU\Control Panel\Colors' Hilight))
[ "$highlight" != "#000000" ] || highlight="#3096FA"
highlighted() { colour_count "$(screenshot submenu-now)" "$highlight"; }
item_chosen() {
  chosen=$(highlighted)
  [ "$chosen" -gt 500 ]
}
submenu_open() { [ "$(highlighted)" -gt $((chosen + 1000)) ]; }
open_tray_menu || demo_fails "the tray menu did not open"
xdotool key Down
wait_for 30 item_chosen || demo_fails "the menu's first item was not chosen"
xdotool key Right
wait_for 30 submenu_open || demo_fails "the 新着メール submenu did not open"
cp "$E2E_SHOTS/submenu-now.png" "$E2E_SHOTS/05-new-mail-submenu.png"
echo "The 新着メール submenu lists them, newest first."
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
  "$E2E_SHOTS/balloon-now.png" "$E2E_SHOTS/submenu-now.png" "$E2E_SHOTS/menu-closed.png" \
  "$E2E_SHOTS/screen-now.png" "$E2E_SHOTS/sheet-before.png"
echo "Screenshots in $E2E_SHOTS:"
ls "$E2E_SHOTS"
