# The program under Wine in a virtual desktop on Xvfb, driven and watched
# as a user would: shared by the demo (script/lib/demo.sh), the end-to-end
# tests (tests/e2e/lib.sh) and the benchmarks. Every wait has a deadline;
# nothing sleeps a fixed time to let things settle. Source it; it defines
# functions only.
#
# A session has a work folder E2E_DIR, a folder of screenshots E2E_SHOTS
# and its background processes E2E_PIDS, which desktop_stop ends (the
# names are the end-to-end tests', which came first).

: "${KIVVET_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${KIVVET_EXE:=$KIVVET_ROOT/build/win64/KivvetLE.exe}"
source "$KIVVET_ROOT/script/lib/wine.sh"

E2E_PIDS=()

# desktop_start NAME: the display, the prefix with its desktop, a work
# folder /tmp/kivvet-NAME-*, screenshots in $KIVVET_SHOTS/NAME (default
# build/e2e-shots/NAME).
desktop_start() {
  wine_setup_env
  wine_start_display
  wine_make_prefix
  wine_hold_desktop
  E2E_DIR=$(mktemp -d "/tmp/kivvet-$1-XXXXXX")
  E2E_SHOTS="${KIVVET_SHOTS:-$KIVVET_ROOT/build/e2e-shots}/$1"
  mkdir -p "$E2E_SHOTS"
}

# Ends the session's processes, the prefix's programs and the display.
desktop_stop() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wine_shutdown
  wine_stop_display
}

# wait_for SECONDS COMMAND...: true as soon as the command succeeds.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  while [ $SECONDS -lt $deadline ]; do
    if "$@"; then return 0; fi
    sleep 0.25
  done
  "$@"
}

# The Windows path (drive Z:) of a Linux path.
winpath() { echo "Z:${1//\//\\}"; }

# write_settings FILE key=value...: a KivvetLE.cfg with those values, the
# others at their defaults (script/lib/kivvetcfg.py names them); a key
# given twice takes the later value.
write_settings() {
  local file=$1
  shift
  python3 "$KIVVET_ROOT/script/lib/kivvetcfg.py" write "$file" "$@"
}

# start_program LABEL ARGS...: runs KivvetLE.exe in the background; its exit
# code lands in $E2E_DIR/LABEL.exit when it ends. The program itself never
# ends with 1; a wine that does so at once and silently (seen once in a
# fresh prefix, between two copies) never ran it, and is asked once more.
start_program() {
  local label=$1
  shift
  (
    set +e
    local code started
    for attempt in 1 2; do
      started=$SECONDS
      wine "$KIVVET_EXE" "$@" >"$E2E_DIR/$label.out" 2>&1
      code=$?
      [ "$code" = 1 ] && [ ! -s "$E2E_DIR/$label.out" ] && [ $((SECONDS - started)) -lt 10 ] || break
      echo "wine ended at its start with 1 (attempt $attempt)" >>"$E2E_DIR/$label.restarts"
    done
    echo "$code" >"$E2E_DIR/$label.exit"
  ) &
  E2E_PIDS+=($!)
}

program_exited() { [ -s "$E2E_DIR/$1.exit" ]; }
exit_code_of() { cat "$E2E_DIR/$1.exit"; }

# Ends every running copy of the program with WM_CLOSE.
close_program() {
  wine taskkill /im KivvetLE.exe >/dev/null 2>&1 || true
  wait_for 60 program_exited "$1"
}

screenshot() { import -window root "$E2E_SHOTS/$1.png" 2>/dev/null; echo "$E2E_SHOTS/$1.png"; }

# colour_count IMAGE COLOUR [CROP]: pixels of the colour in the picture
# (or in the part CROP, WIDTHxHEIGHT+X+Y, of it); 0 when it cannot be read.
colour_count() {
  local crop=()
  [ -z "${3:-}" ] || crop=(-crop "$3" +repage)
  convert "$1" "${crop[@]}" -fill black +opaque "$2" -fill white -opaque "$2" \
    -format "%[fx:int(mean*w*h+0.5)]" info: 2>/dev/null || echo 0
}

# True while a window of that title exists (visible or not).
window_shown() { xdotool search --name "$1" >/dev/null 2>&1; }
# True while the settings sheet shows.
sheet_shown() { xdotool search --onlyvisible --name "設定するにゃ" >/dev/null 2>&1; }

# The notification area: the right end of the taskbar at the bottom of the
# 1024x768 virtual desktop.
TRAY_GEOMETRY="200x24+824+744"

# Number of separate icons in the tray showing the colour (default the
# cat's yellow): runs of columns that hold it, with gaps between them.
tray_icon_count() {
  local shot=$1 colour=${2:-#FFFF00}
  convert "$shot" -crop "$TRAY_GEOMETRY" +repage -fill black +opaque "$colour" \
    -fill white -opaque "$colour" -scale 200x1! -threshold 0 txt:- 2>/dev/null |
    awk -F'[,:]' 'NR > 1 { white = ($0 ~ /#FFFFFF/); if (white && !inside) runs++; inside = white }
                 END { print runs + 0 }'
}

tray_shows() {
  local want=$1 colour=${2:-#FFFF00}
  local shot
  shot=$(screenshot "tray-now")
  [ "$(tray_icon_count "$shot" "$colour")" -eq "$want" ]
}

# Pixels of a colour in the notification area.
tray_colour_count() { colour_count "$1" "$2" "$TRAY_GEOMETRY"; }

# The cat shows the error icon: its large red cross. In the 16-pixel
# icons of the tests' 96 DPI the cross is 36 red pixels; the ears, the
# mouth and the exclamation mark of the others are 14 at most.
TRAY_ERROR_RED=24
tray_shows_error() {
  local shot
  shot=$(screenshot "tray-now")
  [ "$(tray_colour_count "$shot" "#FF0000")" -ge $TRAY_ERROR_RED ]
}
tray_shows_normal() {
  local shot
  shot=$(screenshot "tray-now")
  [ "$(tray_colour_count "$shot" "#FF0000")" -lt $TRAY_ERROR_RED ] && [ "$(tray_icon_count "$shot")" -ge 1 ]
}

# Screen position of the first cat in the tray (centre of its yellow).
tray_icon_position() {
  local shot
  shot=$(screenshot "tray-find")
  convert "$shot" -crop "$TRAY_GEOMETRY" +repage -fill black +opaque "#FFFF00" \
    -fill white -opaque "#FFFF00" txt:- 2>/dev/null |
    awk -F'[,: ]+' 'NR > 1 && /#FFFFFF/ { n++; sx += $1; sy += $2 }
                   END { if (n) printf "%d %d\n", 824 + sx / n, 744 + sy / n }'
}

# Mouse on the tray icon: "double" (left double click) or "right". A
# blinking icon is found in one of its visible frames.
click_tray_icon() {
  local how=$1 pos="" deadline=$((SECONDS + 30))
  while [ -z "$pos" ] && [ $SECONDS -lt $deadline ]; do
    pos=$(tray_icon_position)
    [ -n "$pos" ] || sleep 0.1
  done
  [ -n "$pos" ] || return 1
  xdotool mousemove $pos
  sleep 0.2
  case "$how" in
    double) xdotool click --repeat 2 --delay 80 1 ;;
    right) xdotool click 3 ;;
  esac
}

# True when the screen now differs from the screenshot in more than N
# pixels (a blinking icon changes fewer than 500).
screen_differs() {
  local now changed
  now=$(screenshot screen-now)
  changed=$(compare -metric AE "$1" "$now" null: 2>&1 || true)
  awk -v n="${changed%% *}" -v m="$2" 'BEGIN { exit !(n + 0 > m + 0) }'
}

# A right click on the icon, then until its menu shows (the screen
# changes); keys typed after it reach the menu.
open_tray_menu() {
  local before
  before=$(screenshot menu-closed)
  click_tray_icon right || return 1
  wait_for 30 screen_differs "$before" 1500
}

# The settings sheet's four pages, photographed as NAME-1..4.png, by their
# tabs. The sheet stands where Windows places it over the hidden main
# window, the same every time; its tabs take two rows, and a tab of the
# back row brings its row to the front. Ends on page 1. Each click waits
# until the page has changed (or 30 seconds).
photograph_sheet_pages() {
  local name=$1
  click_at() {
    local before
    before=$(screenshot sheet-before)
    xdotool mousemove "$1" "$2" click 1
    wait_for 30 screen_differs "$before" 300 || true
    sleep 0.3
  }
  screenshot "$name-1" >/dev/null
  click_at 549 319 && screenshot "$name-2" >/dev/null   # サウンド設定にゃ
  click_at 410 301 && screenshot "$name-3" >/dev/null   # メールソフト設定にゃ (rows swap)
  click_at 566 319 && screenshot "$name-4" >/dev/null   # 表示設定にゃ
  click_at 392 301                                      # 基本設定にゃ
}

# The title window: the picture's yellow cat in the middle of the screen.
title_shown() {
  local shot
  shot=$(screenshot title-now)
  [ "$(colour_count "$shot" '#FFFF00' 320x200+352+294)" -gt 500 ]
}
