# Shared by script/test, script/demo and the end-to-end tests: a Japanese
# Wine prefix whose programs run in a 1024x768 virtual desktop, on Xvfb
# when there is no display of our own. Source it; it defines functions only.

: "${KIVVET_ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${KIVVET_WINE_DIR:=$KIVVET_ROOT/build/wine}"

wine_setup_env() {
  export WINEPREFIX="$KIVVET_WINE_DIR/prefix"
  export WINEARCH=win64
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No menu entries of the host for shortcuts made in the prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # KIVVET_WINE_LANG=C.UTF-8 runs the prefix's programs with a Western
  # code page (1252) instead: see wine_set_locale.
  export LANG="${KIVVET_WINE_LANG:-ja_JP.UTF-8}"
  # No input method: keys typed by the tests reach the boxes as they are.
  export XMODIFIERS=@im=none
  # The prefix and the program are 64-bit: `wine` is the 64-bit loader
  # even where a 32-bit one is installed too (which Debian's `wine` would
  # pick, and which a kernel without 32-bit support cannot run).
  if [ -x /usr/lib/wine/wine64 ]; then
    local bin="$KIVVET_WINE_DIR/bin"
    if [ ! -x "$bin/wine" ]; then
      mkdir -p "$bin"
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/wine.$$"
      chmod +x "$bin/wine.$$"
      mv -f "$bin/wine.$$" "$bin/wine"
    fi
    export WINELOADER=/usr/lib/wine/wine64
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
  fi
}

# Starts Xvfb on a free display unless KIVVET_DISPLAY says to use another.
wine_start_display() {
  if [ -n "${KIVVET_DISPLAY:-}" ]; then
    export DISPLAY="$KIVVET_DISPLAY"
    return 0
  fi
  # Two tests starting at once must not pick the same display: the choice
  # and the start are made under a lock, which Xvfb must not inherit (it
  # would hold it for its whole life). Should the lock stay taken anyway,
  # a display picked twice fails to start and the next number is tried.
  local n lock
  exec {lock}>/tmp/.kivvet-display-choice.lock
  flock -w 30 "$lock" || true
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 {lock}>&- &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local deadline=$((SECONDS + 20))
    while [ $SECONDS -lt $deadline ]; do
      if xdpyinfo >/dev/null 2>&1 && kill -0 "$XVFB_PID" 2>/dev/null; then
        exec {lock}>&-
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.2
    done
  done
  exec {lock}>&-
  echo "could not start Xvfb" >&2
  return 1
}

wine_stop_display() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

# Makes the prefix once. Its registry puts every program into a virtual
# desktop named Default, with a taskbar and a notification area.
wine_make_prefix() {
  wine_setup_env
  if [ -f "$WINEPREFIX/.kivvet-ready" ]; then
    # A test that changed the screen and was killed before it could put
    # it back leaves it in the registry's file: every test starts with the
    # usual one.
    if wine_screen_changed; then wine_set_screen 96 1024x768; fi
    wine_windows_10
    return 0
  fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  local reg="$KIVVET_WINE_DIR/desktop.reg"
  cat > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
  wine regedit "$reg" >/dev/null 2>&1
  wineserver -w
  wine_windows_10
  touch "$WINEPREFIX/.kivvet-ready"
}

# Wine 8 of Debian says Windows 7 (6.1.7601) unless told otherwise; the
# program's floor, and the installer's, is Windows 10. Also for a prefix
# made before the floor rose.
wine_windows_10() {
  grep -q '^"Version"="win10"' "$WINEPREFIX/user.reg" 2>/dev/null && return 0
  wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  wineserver -w
}

# The prefix's screen: its scaling in dots per inch (96 is 100 %) and the
# virtual desktop's size, which its programs read when they start. Every
# program of the prefix ends first, the desktop with its taskbar included,
# so that all come back with the new screen.
wine_set_screen() {
  local reg="$KIVVET_WINE_DIR/screen.reg"
  wine_shutdown
  cat >"$reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:$(printf %08x "$1")

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="$2"
REG
  wine regedit "$reg" >/dev/null 2>&1 || true
  wineserver -w || true
  wine_hold_desktop
}

# wine_set_locale LANG: the prefix's programs from now on under that
# locale (ja_JP.UTF-8 or C.UTF-8), all of them started afresh, the
# desktop and its taskbar included. Wine takes the code page from LANG
# when its programs start (932, or 1252 under C.UTF-8). Under a Western
# locale Wine finds no Japanese font by the names the dialogs and the
# system's fonts ask for: as on a Western Windows with the Japanese fonts
# installed, "MS UI Gothic" (to which Tahoma falls back) and the pages'
# "ＭＳ Ｐゴシック" are then found in IPA P Gothic.
wine_set_locale() {
  local reg="$KIVVET_WINE_DIR/fonts.reg"
  wine_shutdown
  export KIVVET_WINE_LANG="$1" LANG="$1"
  printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"MS UI Gothic"="IPAPGothic"' '"ＭＳ Ｐゴシック"="IPAPGothic"' |
    iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
  [ "$1" = ja_JP.UTF-8 ] || wine regedit "$reg" >/dev/null 2>&1 || true
  wine_shutdown
  wine_hold_desktop
}

# Wine closes a desktop, its taskbar with it, a second after the last
# program on it has ended, and a program started in that second could join
# the closing desktop and never get a taskbar (once on CI, a copy started
# just after another had ended showed no tray icon for a minute). So one
# program of the tests, the probe's "hold", stays on the desktop, and with
# it the wineserver, until wine_shutdown ends them. It is waited for until
# it is there: killed before it had reached its server, it would start a
# server and a desktop of its own and outlive the kill.
WINE_HOLD_PID=""
wine_hold_desktop() {
  [ -z "$WINE_HOLD_PID" ] || return 0
  local said="$KIVVET_WINE_DIR/hold.out" deadline=$((SECONDS + 60))
  wine "$KIVVET_ROOT/build/win64/kivvetprobe.exe" hold >"$said" 2>/dev/null &
  WINE_HOLD_PID=$!
  until grep -q holding "$said" 2>/dev/null || ! kill -0 "$WINE_HOLD_PID" 2>/dev/null ||
    [ $SECONDS -ge $deadline ]; do sleep 0.1; done
}

# True when the prefix's registry file holds another screen than the tests'
# usual one: 96 DPI, 1024x768.
wine_screen_changed() {
  awk '/^\[/ { section = $0 }
       section ~ /^\[Control Panel\\\\Desktop\]/ && /^"LogPixels"=dword:/ && !/:00000060$/ { changed = 1 }
       section ~ /^\[Software\\\\Wine\\\\Explorer\\\\Desktops\]/ && /^"Default"=/ && !/"1024x768"$/ { changed = 1 }
       END { exit !changed }' "$WINEPREFIX/user.reg" 2>/dev/null
}

wine_shutdown() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  WINE_HOLD_PID=""
}

# wine_reg_value KEY NAME: a value of the prefix's registry, read through
# Wine (empty when there is none).
wine_reg_value() {
  { wine reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | sed -nE "s/^ +.+ +REG_[A-Z_]+ +(.*)$/\1/p"
}
