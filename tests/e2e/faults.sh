#!/usr/bin/env bash
# Misbehaving servers under Wine (our own scriptable server on 127.0.0.1):
# a reset, silence and a refusal in every state of the dialogue, a server
# that hangs up on QUIT, replies one byte at a time, long greetings, a big
# mailbox, long UIDs and bytes outside ASCII. For each: the right icon, the
# server sees the connection end and the program holds no socket after
# the check, and the next check still comes at the interval (one minute
# here), so no fault leaves the program busy.
#
# The cases run side by side, each with a server and a copy of the program
# of its own (its own folder through -W), so the whole takes about one
# slow case: a minute's time-out and a minute's interval. Each copy has
# its own icon in the tray; icons are placed from the right in the order
# they were added, so each copy is started only once the one before it has
# connected (its icon comes before its first check).
#
# Under Wine a reset from the server reaches the program as a close
# without an error, never as an error on the socket, and the program
# leaves such a close to its response timer: a reset before QUIT ends
# the check a minute later with the time-out, like silence. A close
# (FIN) before QUIT does the same. Either way the error icon shows and
# the socket is closed when the timer ends the session.
source "$(dirname "$0")/lib.sh"
e2e_setup faults

SERVER="$KIVVET_ROOT/tests/e2e/fakepop3.py"
CASES=()
declare -A ICON START PHASE SINCE DIR PID EXTRA

# add_case NAME ICON(error|normal) EXTRA-CHECK SERVER-ARGS... [-- SETTINGS...]
add_case() {
  local name=$1 icon=$2 extra=$3
  shift 3
  local server_args=() settings=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do server_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  settings=("$@")
  local dir="$E2E_DIR/$name"
  mkdir -p "$dir"
  python3 "$SERVER" --messages 3 "${server_args[@]}" --port-file "$dir/port" \
    --log "$dir/server.log" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  wait_for 20 test -s "$dir/port" || { fail "$name: server did not start"; return; }
  python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" write "$dir/KivvetLE.cfg" \
    serverHost=127.0.0.1 "port=$(cat "$dir/port")" userId=cat password=nyan \
    checkAtStartup=1 intervalMinutes=1 soundNotify=0 blinkNewOnly=1 soundNewOnly=1 "${settings[@]}"
  start_program "$name" -TOFF "-W$(winpath "$dir")"
  if ! wait_for 60 connected "$name" 1; then
    fail "$name: the program never connected"
    return
  fi
  CASES+=("$name")
  ICON[$name]=$icon
  EXTRA[$name]=$extra
  DIR[$name]=$dir
  START[$name]=$SECONDS
  SINCE[$name]=$SECONDS
  PHASE[$name]=check
  PID[$name]=$(program_pid "$dir")
}

connected() { server_connected "$E2E_DIR/$1/server.log" "$2"; }
ending_of() { server_ending "$E2E_DIR/$1/server.log" "$2"; }

# Red pixels in the icon of the Nth copy (0: the first, rightmost icon).
slot_red() {
  convert "$1" -crop "20x24+$((1004 - 20 * $2))+744" +repage -fill black +opaque "#FF0000" \
    -fill white -opaque "#FF0000" -format "%[fx:int(mean*w*h+0.5)]" info: 2>/dev/null
}

uid_md5() { printf '%s' "$1" | md5sum | cut -c1-32; }

# What a case checks besides the icon, once its first check has ended.
extra_check() {
  local name=$1 dir=${DIR[$1]}
  case "${EXTRA[$name]}" in
    none) ;;
    uids3)
      [ "$(python3 "$KIVVET_ROOT/tests/e2e/uidfile.py" "$dir/KivvetLE.log" | tr '\n' ' ')" = "uid-1 uid-2 uid-3 " ] &&
        pass "$name: the UID file holds uid-1..uid-3" || fail "$name: UID file: $(python3 "$KIVVET_ROOT/tests/e2e/uidfile.py" "$dir/KivvetLE.log" 2>&1 | head -5 | tr '\n' ' ')"
      ;;
    long-uids)
      local want="" n
      for n in 1 2 3; do
        want+="$(uid_md5 "$(printf 'uid-%d-%s' "$n" abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz | cut -c1-70)") "
      done
      [ "$(python3 "$KIVVET_ROOT/tests/e2e/uidfile.py" "$dir/KivvetLE.log" | tr '\n' ' ')" = "$want" ] &&
        pass "$name: the UID file holds the MD5 of each 70-character UID" || fail "$name: UID file is not the MD5s ($want)"
      ;;
    big)
      local want got
      want=$(seq 977 2000 | sed 's/^/uid-/')
      got=$(python3 "$KIVVET_ROOT/tests/e2e/uidfile.py" "$dir/KivvetLE.log")
      [ "$got" = "$want" ] && pass "$name: the UID file holds uid-977..uid-2000" ||
        fail "$name: UID file holds $(echo "$got" | wc -l) UIDs, from $(echo "$got" | head -1) to $(echo "$got" | tail -1)"
      want=$(seq 977 2000 | sed 's/^/UIDL /')
      got=$(sed -nE 's/^[^ ]* #1 (UIDL .*)$/\1/p' "$dir/server.log")
      [ "$got" = "$want" ] && pass "$name: the server saw exactly UIDL 977..2000" ||
        fail "$name: the server saw $(echo "$got" | wc -l) UIDL commands, from '$(echo "$got" | head -1)' to '$(echo "$got" | tail -1)'"
      ;;
    logged-in)
      grep -qE "#1 (APOP cat [0-9a-f]{32}|PASS nyan)$" "$dir/server.log" && grep -q "#1 STAT$" "$dir/server.log" &&
        pass "$name: logged in and asked STAT" || fail "$name: did not log in"
      ;;
    quit-twice)
      [ "$(grep -c '#1 QUIT$' "$dir/server.log")" -eq 2 ] && pass "$name: a refused QUIT is asked once more, then left" ||
        fail "$name: QUIT was sent $(grep -c '#1 QUIT$' "$dir/server.log") time(s)"
      ;;
  esac
}

# One look at every case: moves each on when it has got as far as it must.
step_cases() {
  local shot name index=0 now=$SECONDS
  shot=$(screenshot "tray-all")
  for name in "${CASES[@]}"; do
    local waited=$((now - ${SINCE[$name]}))
    case "${PHASE[$name]}" in
      check)
        # The check has ended once the server saw the connection end and
        # the program holds no socket: none in its process, no connection
        # to the server in any table. (A socket reset by the server is in
        # no table, and Wine gives the program's process no copy of a
        # socket it has not used itself; for those the error icon, which
        # the program shows only after it closed the socket, tells.)
        local ending
        ending=$(ending_of "$name" 1)
        if [ -n "$ending" ] && [ "$(network_sockets "${PID[$name]}")" -eq 0 ] &&
           [ "$(client_connections "$(cat "${DIR[$name]}/port")")" -eq 0 ]; then
          pass "$name: the connection ended ($ending) and the program holds no socket"
          PHASE[$name]=icon
          SINCE[$name]=$now
        elif [ $waited -gt 80 ]; then
          fail "$name: after ${waited}s of watching, the connection is ${ending:-still open on the server} and the program holds $(network_sockets "${PID[$name]}") socket(s)"
          PHASE[$name]=done
        fi
        ;;
      icon)
        local red
        red=$(slot_red "$shot" "$index")
        if { [ "${ICON[$name]}" = error ] && [ "$red" -ge 12 ]; } ||
           { [ "${ICON[$name]}" = normal ] && [ "$red" -lt 12 ]; }; then
          pass "$name: the ${ICON[$name]} icon"
          cp "$shot" "$E2E_SHOTS/$name.png"
          extra_check "$name"
          PHASE[$name]=next
          SINCE[$name]=$now
        elif [ $waited -gt 80 ]; then
          fail "$name: not the ${ICON[$name]} icon ($red red pixels)"
          cp "$shot" "$E2E_SHOTS/$name.png"
          PHASE[$name]=next
          SINCE[$name]=$now
        fi
        ;;
      next)
        if connected "$name" 2; then
          pass "$name: the next check still comes"
          PHASE[$name]=done
        elif [ $waited -gt 80 ]; then
          fail "$name: no further check: the program stays busy"
          PHASE[$name]=done
        fi
        ;;
    esac
    index=$((index + 1))
  done
}

all_done() {
  local name
  for name in "${CASES[@]}"; do [ "${PHASE[$name]}" = done ] || return 1; done
}

# The slow cases first: they set the pace.
for state in greeting user pass stat uidl quit; do
  add_case "silent-at-$state" "$([ $state = quit ] && echo normal || echo error)" none --fault "$state:silent"
done
for state in greeting user pass stat uidl quit; do
  add_case "reset-at-$state" "$([ $state = quit ] && echo normal || echo error)" none --fault "$state:reset"
done
for state in greeting user pass stat uidl; do
  add_case "refused-at-$state" error none --fault "$state:negative"
done
# An empty mailbox: after a check that found new mail the blink, which the
# refusal does not stop, soon takes the icon over from the error.
add_case refused-at-quit error quit-twice --fault quit:negative --messages 0
add_case close-at-quit normal uids3 --fault quit:close
add_case one-byte-pieces normal uids3 --chunk 1 -- useApop=1
add_case greeting-300 normal logged-in --greeting-length 300 -- useApop=1
add_case greeting-600 normal logged-in --greeting-length 600 -- useApop=1
add_case no-apop error none --mode no-apop -- useApop=1
add_case mailbox-2000 normal big --messages 2000
add_case uids-70 normal long-uids --uid-length 70
add_case foreign-bytes normal uids3 --foreign
echo "-- ${#CASES[@]} copies started after ${SECONDS}s; watching them"

deadline=$((SECONDS + 400))
while ! all_done && [ $SECONDS -lt $deadline ]; do
  step_cases
  sleep 1
done
all_done || fail "cases unfinished at the deadline"

close_program "${CASES[0]}" || fail "the programs did not end"
for name in "${CASES[@]}"; do
  wait_for 30 program_exited "$name" || fail "$name: did not end"
done
echo "-- took ${SECONDS}s"
e2e_finish
