#!/usr/bin/env bash
# The program's two files under fault, under Wine: a settings file another
# program holds, a disk that fills up during the save of the known UIDs,
# and the program killed at random moments of its checks. Each time: no
# crash, and no file half-written where the program could know better.
source "$(dirname "$0")/lib.sh"
e2e_setup files

start_server() {  # start_server NAME MESSAGES: our POP3 server, its port in NAME.port
  start_fakepop3 "$E2E_DIR/$1.port" "$E2E_DIR/$1.log" --mode normal --messages "$2"
}
E2E_SETTINGS=(intervalMinutes=1 soundNotify=0 soundNewOnly=1 blinkNewOnly=1)
configure_for() {  # configure_for DIR SERVER-NAME [key=value...]
  local dir=$1 name=$2
  shift 2
  configure_at "$dir" "$(cat "$E2E_DIR/$name.port")" "$@"
}
quits() { server_quits "$E2E_DIR/$1.log"; }
quit_seen() { server_quit_seen "$E2E_DIR/$1.log" "$2"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo absent; }
message_box() { xdotool search --onlyvisible --name '^Kivvet LE$' 2>/dev/null | head -1; }
message_box_shown() { [ -n "$(message_box)" ]; }
sheet_gone() { ! sheet_shown; }

echo "-- a settings file another program holds"
start_server held 3
held="$E2E_DIR/held"
mkdir -p "$held"
configure_for "$held" held
cp "$held/KivvetLE.cfg" "$E2E_DIR/held.cfg.before"
wine "$KIVVET_ROOT/build/win64/holdfile.exe" "$(winpath "$held")\\KivvetLE.cfg" 120 \
  >"$E2E_DIR/holdfile.out" 2>&1 &
holder=$!
E2E_PIDS+=($holder)
wait_for 60 grep -qs held "$E2E_DIR/holdfile.out" || fail "holdfile did not take the file"
start_program held -TOFF "-W$(winpath "$held")"
if wait_for 60 message_box_shown; then
  pass "a message box says the settings cannot be read"
  screenshot held-settings >/dev/null
  # Keys reach the box once a click has given the virtual desktop the
  # focus; Windows centres a box without owner on the screen. The box
  # offers Retry and Cancel: Escape cancels, and the start ends.
  xdotool mousemove 512 384 click 1 2>/dev/null || true
  xdotool key Escape 2>/dev/null || true
else
  fail "no message box"
fi
wait_for 60 program_exited held || fail "the program did not end"
[ "$(exit_code_of held 2>/dev/null)" = 0 ] && pass "exit code 0" || fail "exit code $(exit_code_of held 2>/dev/null)"
[ "$(grep -c -- '-- connected' "$E2E_DIR/held.log" 2>/dev/null || true)" = 0 ] &&
  pass "no check with settings it could not read" || fail "it checked mail anyway"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
cmp -s "$held/KivvetLE.cfg" "$E2E_DIR/held.cfg.before" && pass "the settings file is untouched" ||
  fail "the settings file changed"

echo "-- the disk fills up"
small="$E2E_DIR/small"
mkdir -p "$small"
if mount -t tmpfs -o size=128k tmpfs "$small" 2>/dev/null; then
  trap 'umount "$small" 2>/dev/null || true; e2e_teardown' EXIT
  start_server full 3
  configure_for "$small" full
  # Fill the disk, then free about 8 KB: room for Wine's bookkeeping but
  # not for the 32 KB of known UIDs.
  dd if=/dev/zero of="$small/filler" bs=1k count=1024 2>/dev/null || true
  truncate -s -8k "$small/filler"
  start_program full -TOFF "-W$(winpath "$small")"
  wait_for 60 quit_seen full 1 || fail "the first check did not end"
  # The save comes after QUIT, and the normal icon after the save.
  wait_for 60 tray_shows_normal && pass "the check itself went well" || fail "not the normal icon"
  [ "$(size_of "$small/KivvetLE.log")" = absent ] &&
    pass "no half-written known-UID file on a full disk" ||
    fail "known-UID file of $(size_of "$small/KivvetLE.log") bytes on a full disk"
  rm -f "$small/filler"
  wait_for 150 quit_seen full 2 || fail "no next check"
  wait_for 60 test "$(size_of "$small/KivvetLE.log")" = 32768 &&
    pass "with room again the next check writes the whole file" ||
    fail "known-UID file of $(size_of "$small/KivvetLE.log") bytes after the next check"
  [ "$(file_uids "$small" | wc -l)" = 3 ] &&
    pass "and it holds the three UIDs" || fail "the file does not hold the three UIDs"
  close_program full || fail "did not end"
  umount "$small" 2>/dev/null || true
else
  echo "  skipped: this machine does not let the test mount a small tmpfs"
fi

echo "-- a folder Shift-JIS cannot name, and a settings file from before"
start_server named 3
named="$E2E_DIR/Zoë 😺 Ёж 한"
mkdir -p "$named"
configure_for "$named" named
start_program named -TOFF "-W$(winpath "$named")"
if wait_for 60 quit_seen named 1 && grep -q " PASS nyan$" "$E2E_DIR/named.log"; then
  pass "the settings in that folder are read: the check logs in with them"
else
  fail "no login from that folder's settings: $(tr '\n' '|' <"$E2E_DIR/named.log")"
fi
wait_for 60 file_has 3 "$named" && [ "$(file_uids "$named" | tr '\n' ' ')" = "uid-1 uid-2 uid-3 " ] &&
  pass "the server's UIDs are written there" || fail "no UIDs in that folder"
close_program named || fail "did not end"
# Texts in Shift-JIS as every version wrote them; 表's second byte is a
# backslash, and the mail program's path has one right after it; a
# password an ANSI version wrote on a Western system, no Shift-JIS; a port
# past 32767. The sheet's OK with nothing changed but the start at log-on
# (a value of the registry, not of the file) writes the file back as it was.
configure_for "$named" named port=40000 checkAtStartup=0 accountName=表示にゃ \
  'mailerPath=C:\表\メール.exe' mailerArgs=ソ表 $'password=caf\xe9'
cp "$named/KivvetLE.cfg" "$E2E_DIR/named.cfg.before"
touch -d 2001-01-01 "$named/KivvetLE.cfg"
start_program sheet -TOFF "-W$(winpath "$named")"
wait_for 60 tray_shows 1 || fail "no tray icon"
wine "$KIVVET_ROOT/build/win64/kivvetprobe.exe" settings >/dev/null 2>&1 || fail "the probe found no program"
if wait_for 60 sheet_shown; then
  sleep 1
  xdotool mousemove 400 661 click 1   # ログオンしたら起動するにゃ
  sleep 0.5
  xdotool key Return
  wait_for 30 sheet_gone || fail "the sheet did not close"
else
  fail "no settings sheet"
fi
if wait_for 30 test "$named/KivvetLE.cfg" -nt "$E2E_DIR/named.cfg.before"; then
  cmp -s -n "$(size_of "$E2E_DIR/named.cfg.before")" "$named/KivvetLE.cfg" "$E2E_DIR/named.cfg.before" &&
    pass "a save that changed nothing writes the file from before byte for byte" ||
    fail "the saved file differs: $(cmp -l "$named/KivvetLE.cfg" "$E2E_DIR/named.cfg.before" | head -3 | tr '\n' ' ')"
else
  fail "the sheet's OK saved nothing"
fi
close_program sheet || fail "did not end"
# The log-on value names the program and that folder exactly; started by
# its command line, the copy checks with that folder's settings.
RUN_KEY='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run'
wine regedit /e "$(winpath "$E2E_DIR/run.reg")" "$RUN_KEY" >/dev/null 2>&1 || true
command=$(iconv -f UTF-16 -t UTF-8 "$E2E_DIR/run.reg" 2>/dev/null | python3 -c '
import re, sys
name = "Kivvet LE - " + sys.argv[1]
for line in sys.stdin:
    m = re.match(r"\"((?:[^\"\\]|\\.)*)\"=\"((?:[^\"\\]|\\.)*)\"", line.strip())
    if m and re.sub(r"\\(.)", r"\1", m.group(1)) == name:
        print(re.sub(r"\\(.)", r"\1", m.group(2)))' "$(winpath "$named")" || true)
expected="\"$(winpath "$KIVVET_EXE")\" \"-W$(winpath "$named")\" -TOFF"
[ "$command" = "$expected" ] && pass "the log-on value starts the program for that folder" ||
  fail "log-on value: [$command], not [$expected]"
# Forget it again, so that no later start of the prefix runs it.
wine reg delete "$RUN_KEY" /v "Kivvet LE - $(winpath "$named")" /f >/dev/null 2>&1 || true
configure_for "$named" named
eval "words=($(sed -E 's/\\/\\\\/g' <<<"$command"))"
KIVVET_EXE="$(wine winepath -u "${words[0]}" 2>/dev/null)" start_program logon "${words[@]:1}"
wait_for 60 quit_seen named 2 && pass "and that copy checks with the folder's settings" ||
  fail "the copy of the log-on value did not check"
close_program logon || fail "did not end"

echo "-- killed at random moments"
start_server killed 1500
killed="$E2E_DIR/killed"
mkdir -p "$killed"
configure_for "$killed" killed
cp "$killed/KivvetLE.cfg" "$E2E_DIR/killed.cfg.before"
RANDOM=1291
torn=0
# Kills this test's copy of the program (and its Wine launcher) only: the
# processes whose command line names its folder.
kill_own_copy() {
  local pid
  for pid in $(ps -eo pid=,args= | grep -F -- "-W$(winpath "$killed")" | grep -v -F "grep" | awk '{print $1}'); do
    kill -9 "$pid" 2>/dev/null || true
  done
}
walking_after() { tail -n +"$(($1 + 1))" "$E2E_DIR/killed.log" | grep -q "UIDL"; }
for round in $(seq 10); do
  before=$(quits killed)
  lines=$(wc -l <"$E2E_DIR/killed.log")
  start_program "killed-$round" -TOFF "-W$(winpath "$killed")"
  wait_for 60 walking_after "$lines" || fail "round $round: no walk"
  # Anywhere in the walk of 1500 UIDs and the save at its end.
  sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
  [ "$((round % 3))" = 0 ] && wait_for 30 quit_seen killed $((before + 1))
  kill_own_copy
  wait_for 30 program_exited "killed-$round" || true
  size=$(size_of "$killed/KivvetLE.log")
  if [ "$size" != absent ] && [ "$size" != 32768 ]; then torn=$((torn + 1)); fi
done
[ $torn = 0 ] && pass "the known-UID file was whole (or not yet there) after each of 10 kills" ||
  fail "$torn torn known-UID files"
cmp -s "$killed/KivvetLE.cfg" "$E2E_DIR/killed.cfg.before" && pass "the settings file is untouched" ||
  fail "the settings file changed"
[ "$(size_of "$killed/KivvetLE.log")" = 32768 ] &&
  [ "$(file_uids "$killed" | wc -l)" = 1024 ] &&
  pass "the rounds that finished left the newest 1024 UIDs" || fail "no whole file from the finished rounds"

e2e_finish
