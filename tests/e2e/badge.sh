#!/usr/bin/env bash
# The count of new mail on the tray icon under Wine, photographed at 96
# and at 192 DPI (16- and 32-pixel icons) with 3 and with 12 new messages:
# the badge's red lies in the tray, wider for "9+" than for "3", and taller
# at 192 than at 96. A fresh folder each time, so every message is new.
# Like firststart.sh, it runs on a 1280x1024 desktop and puts the tests'
# usual screen back however it ends.
source "$(dirname "$0")/lib.sh"
e2e_setup badge

PROBE="$KIVVET_ROOT/build/win64/kivvetprobe.exe"
BADGE_RED='#D01818'  # BADGE_COLOUR of tray/badge.h
screen_changed=0
trap '[ "$screen_changed" = 0 ] || wine_set_screen 96 1024x768; e2e_teardown' EXIT

dovecot_start "$E2E_DIR"

# The bottom of the desktop, where the taskbar and its tray lie: the
# badge's red in it as WIDTHxHEIGHT of its bounds and its pixel count.
badge_in() {
  convert "$1" -fill black +opaque "$BADGE_RED" -fill white -opaque "$BADGE_RED" \
    -trim +repage -format '%wx%h %[fx:mean*w*h]' info: 2>/dev/null | awk '{ printf "%s %d\n", $1, $2 }'
}
badge_shown() {
  import -window root -crop 1280x120+0+904 +repage "$1" 2>/dev/null &&
    [ "$(colour_count "$1" "$BADGE_RED")" -ge "$2" ]
}

set_screen() {
  screen_changed=1
  local seen=""
  for _ in 1 2 3; do
    wine_set_screen "$1" 1280x1024
    seen=$(wine "$PROBE" screen 2>/dev/null | tr -d '\r' || true)
    [ "$seen" = "dpi=$1 size=1280x1024" ] && return 0
    echo "  (the prefix's screen is \"$seen\", not $1 DPI at 1280x1024: set again)"
  done
}

# run COUNT DPI: a first check of a mailbox of COUNT messages at the
# scaling, with the count on the icon; the badge's size in BADGE_<COUNT>_<DPI>.
run() {
  local count=$1 dpi=$2 dir="$E2E_DIR/n$1-dpi$2" shot least
  mkdir -p "$dir"
  # A 5 x 7 badge of 16 pixels holds about 20 red ones; generously less.
  least=$((dpi >= 192 ? 24 : 12))
  configure_at "$dir" "$DOVECOT_PORT" soundNotify=0 soundNewOnly=1 blinkNewOnly=1 showCount=1
  start_program "n$count-dpi$dpi" -TOFF "-W$(winpath "$dir")"
  shot="$dir/tray.png"
  if wait_for 120 badge_shown "$shot" "$least"; then
    read -r size pixels < <(badge_in "$shot")
    printf -v "BADGE_${count}_${dpi}" '%s' "$size"
    cp "$shot" "$E2E_SHOTS/badge-$count-at-$dpi.png"
    pass "$dpi DPI, $count new: the badge in the tray ($size, $pixels red pixels)"
  else
    cp "$shot" "$E2E_SHOTS/no-badge-$count-at-$dpi.png" 2>/dev/null || true
    fail "$dpi DPI, $count new: no badge in the tray"
  fi
  [ "$(file_uids "$dir" 2>/dev/null | wc -l)" -eq "$count" ] || fail "$dpi DPI: the check did not see $count messages"
  close_program "n$count-dpi$dpi" >/dev/null || true
}

dovecot_deliver 3
set_screen 96
run 3 96
set_screen 192
run 3 192
dovecot_deliver 9
run 12 192
set_screen 96
run 12 96

width() { echo "${1%x*}"; }
height() { echo "${1#*x}"; }
for dpi in 96 192; do
  three="BADGE_3_$dpi" twelve="BADGE_12_$dpi"
  if [ -n "${!three:-}" ] && [ -n "${!twelve:-}" ]; then
    [ "$(width "${!twelve}")" -gt "$(width "${!three}")" ] &&
      pass "$dpi DPI: \"9+\" is wider than \"3\"" || fail "$dpi DPI: 12 as ${!twelve}, 3 as ${!three}"
  fi
done
if [ -n "${BADGE_3_96:-}" ] && [ -n "${BADGE_3_192:-}" ]; then
  [ "$(height "$BADGE_3_192")" -gt "$(height "$BADGE_3_96")" ] &&
    pass "the badge is drawn larger for the larger icon" ||
    fail "the badge at 192 DPI ($BADGE_3_192) is no larger than at 96 ($BADGE_3_96)"
fi

e2e_finish
