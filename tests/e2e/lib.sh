# Helpers of the end-to-end tests: the program under Wine in a virtual
# desktop on Xvfb, observed through screenshots and files. Every wait has
# a deadline; nothing sleeps a fixed time to let things settle.

set -euo pipefail
: "${KIVVET_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${KIVVET_EXE:=$KIVVET_ROOT/build/win64/KivvetLE.exe}"
source "$KIVVET_ROOT/script/lib/wine.sh"

E2E_FAILURES=0
E2E_PIDS=()

e2e_setup() {
  E2E_NAME="$1"
  wine_setup_env
  wine_start_display
  wine_make_prefix
  wine_keep_server
  E2E_DIR=$(mktemp -d "/tmp/kivvet-$E2E_NAME-XXXXXX")
  E2E_SHOTS="${KIVVET_SHOTS:-$KIVVET_ROOT/build/e2e-shots}/$E2E_NAME"
  mkdir -p "$E2E_SHOTS"
  trap e2e_teardown EXIT
  echo "== $E2E_NAME (work folder $E2E_DIR)"
}

e2e_teardown() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wine_shutdown
  wine_stop_display
  if [ "$E2E_FAILURES" -eq 0 ] && [ "${KIVVET_E2E_KEEP:-0}" != 1 ]; then rm -rf "$E2E_DIR"; fi
}

pass() { echo "  ok: $*"; }
fail() {
  echo "  FAILED: $*" >&2
  E2E_FAILURES=$((E2E_FAILURES + 1))
}
e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "== $E2E_NAME: $E2E_FAILURES failure(s); screenshots in $E2E_SHOTS, files in $E2E_DIR" >&2
    exit 1
  fi
  echo "== $E2E_NAME: passed"
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

# start_program LABEL ARGS...: runs KivvetLE.exe in the background; its exit
# code lands in $E2E_DIR/LABEL.exit when it ends.
start_program() {
  local label=$1
  shift
  (
    set +e
    wine "$KIVVET_EXE" "$@" >"$E2E_DIR/$label.out" 2>&1
    echo $? >"$E2E_DIR/$label.exit"
  ) &
  E2E_PIDS+=($!)
}

program_exited() { [ -s "$E2E_DIR/$1.exit" ]; }
exit_code_of() { cat "$E2E_DIR/$1.exit"; }

screenshot() { import -window root "$E2E_SHOTS/$1.png" 2>/dev/null; echo "$E2E_SHOTS/$1.png"; }

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
tray_colour_count() {
  local shot=$1 colour=$2
  convert "$shot" -crop "$TRAY_GEOMETRY" +repage -fill black +opaque "$colour" \
    -fill white -opaque "$colour" -format "%[fx:int(mean*w*h+0.5)]" info: 2>/dev/null
}

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

# Ends every running copy of the program with WM_CLOSE.
close_program() {
  wine taskkill /im KivvetLE.exe >/dev/null 2>&1 || true
  wait_for 60 program_exited "$1"
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
  [ "$(convert "$shot" -crop 320x200+352+294 +repage -fill black +opaque '#FFFF00' \
        -fill white -opaque '#FFFF00' -format '%[fx:int(mean*w*h)]' info:)" -gt 500 ]
}

# ---- our own POP3 server (fakepop3.py) and the program's sockets ----

# True when the server's log (FILE) shows connection N.
server_connected() { grep -q "^[^ ]* #$2 -- connected" "$1" 2>/dev/null; }

# How the server saw connection N end: "closed by client", "reset by server"...
server_ending() {
  sed -nE "s/^[^ ]* #$2 -- ((closed|reset) by (client|server))$/\1/p" "$1" 2>/dev/null | head -1
}

# The Linux process of the copy of the program started with -W for the folder.
program_pid() {
  { grep -lzxF -e "-W$(winpath "$1")" /proc/[0-9]*/cmdline 2>/dev/null || true; } | awk -F/ 'NR == 1 { print $3 }'
}

# Network sockets a process holds: its socket descriptors that are not
# Unix-domain or netlink ones (those are Wine's own). Every socket of a
# Windows program is held by the wineserver of its prefix; the program's
# own process holds a copy only once it has used the socket itself. A
# socket reset by the peer is in no table of connections, but its
# descriptor stays until the program closes it.
network_sockets() {
  { awk 'NR > 1 { print $7 }' /proc/net/unix; awk 'NR > 1 { print $NF }' /proc/net/netlink; } \
    >"$E2E_DIR/local-sockets"
  ls -l "/proc/$1/fd" 2>/dev/null | sed -nE 's/.*socket:\[([0-9]+)\]$/\1/p' |
    grep -cvxFf "$E2E_DIR/local-sockets" || true
}

# The wineserver of our prefix.
wineserver_pid() {
  local pid
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    if tr '\0' '\n' 2>/dev/null </proc/$pid/environ | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
}

# Connections to the port still held by a client: in any state but
# TIME-WAIT, which belongs to no process.
client_connections() {
  ss -Htan state all "( dport = :$1 )" 2>/dev/null | grep -cv '^TIME-WAIT' || true
}
