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
# Every case is judged by its own events, whenever the copies started and
# however far each has got when it is looked at: the server's log of its
# connections #1 and #2 (each line stamped to the millisecond), and a
# sampler that from the case's start records, with the same stamps, how
# many network sockets its copy holds. "No socket left" is a sample taken
# wholly after the server saw #1 end and before #2 connected in which the
# copy holds none (or, should #1 end only as #2 begins, a sample during
# #2 in which it holds that one socket alone). The cases started are
# watched while the next one starts. The server plays the same fault on
# every connection, so the icon a case must show is the same after each
# of its checks; the error icon, which shows during a check too, is
# judged only between two checks.
#
# Under Wine a reset from the server reaches the program as a close
# without an error, never as an error on the socket, and the program
# leaves such a close to its response timer: a reset before QUIT ends
# the check a minute later with the time-out, like silence. A close
# (FIN) before QUIT does the same. Either way the error icon shows and
# the socket is closed when the timer ends the session.
source "$(dirname "$0")/lib.sh"
e2e_setup faults

CASES=()
declare -A ICON PHASE SINCE DIR PID EXTRA

stamp() { date +%Y-%m-%dT%H:%M:%S.%3N; }

# The sampler: while the test runs, for every case in $E2E_DIR/watched
# ("NAME PID PORT"), a line "BEFORE AFTER FDS CONNS" in its sockets.log:
# between the stamps BEFORE and AFTER its copy held FDS network sockets
# of its own and CONNS connections to its server were in the tables.
sample_sockets() {
  local before after local_socks name pid port fds conns
  while [ ! -e "$E2E_DIR/stop-sampling" ]; do
    if [ ! -s "$E2E_DIR/watched" ]; then sleep 0.2; continue; fi
    before=$(stamp)
    local_socks=$({ awk 'NR > 1 { print $7 }' /proc/net/unix; awk 'NR > 1 { print $NF }' /proc/net/netlink; })
    local table
    table=$(ss -Htan state all 2>/dev/null | awk '$1 != "TIME-WAIT" { print $5 }')
    local lines=()
    while read -r name pid port; do
      fds=$(ls -l "/proc/$pid/fd" 2>/dev/null | sed -nE 's/.*socket:\[([0-9]+)\]$/\1/p' |
        grep -cvxFf <(echo "$local_socks") || true)
      conns=$(grep -cx "127.0.0.1:$port" <<<"$table" || true)
      lines+=("$name $fds $conns")
    done <"$E2E_DIR/watched"
    after=$(stamp)
    for line in "${lines[@]}"; do
      set -- $line
      echo "$before $after $2 $3" >>"$E2E_DIR/$1/sockets.log"
    done
    sleep 0.3
  done
}
sample_sockets &
E2E_PIDS+=($!)

# add_case NAME ICON(error|normal) EXTRA-CHECK SERVER-ARGS... [-- SETTINGS...]
add_case() {
  local name=$1 icon=$2 extra=$3
  shift 3
  # KIVVET_FAULTS (a pattern of names) picks some cases, for a quick look.
  [[ "$name" =~ ^(${KIVVET_FAULTS:-.*})$ ]] || return 0
  local server_args=() settings=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do server_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  settings=("$@")
  local dir="$E2E_DIR/$name"
  mkdir -p "$dir"
  start_fakepop3 "$dir/port" "$dir/server.log" --messages 3 "${server_args[@]}" ||
    { fail "$name: server did not start"; return; }
  configure_at "$dir" "$(cat "$dir/port")" intervalMinutes=1 soundNotify=0 blinkNewOnly=1 soundNewOnly=1 \
    "${settings[@]}"
  start_program "$name" -TOFF "-W$(winpath "$dir")"
  # The cases already started are watched meanwhile.
  local deadline=$((SECONDS + 120)) pid=""
  while [ $SECONDS -lt $deadline ]; do
    if [ -z "$pid" ]; then
      pid=$(program_pid "$dir")
      [ -z "$pid" ] || echo "$name $pid $(cat "$dir/port")" >>"$E2E_DIR/watched"
    fi
    [ -n "$pid" ] && connected "$name" 1 && break
    step_cases
    sleep 0.3
  done
  if ! connected "$name" 1 || [ -z "$pid" ]; then
    fail "$name: the program never connected"
    return
  fi
  CASES+=("$name")
  ICON[$name]=$icon
  EXTRA[$name]=$extra
  DIR[$name]=$dir
  SINCE[$name]=$SECONDS
  PHASE[$name]=check
  PID[$name]=$pid
}

connected() { server_connected "$E2E_DIR/$1/server.log" "$2"; }
ending_of() { server_ending "$E2E_DIR/$1/server.log" "$2"; }
# The server's stamps of connection N's start and end (empty until then).
connected_at() { server_connected_at "$E2E_DIR/$1/server.log" "$2"; }
ended_at() { server_ended_at "$E2E_DIR/$1/server.log" "$2"; }

# Samples of the case's sockets.log taken wholly between two stamps
# (FROM, and TO or, when empty, no end), as "FDS CONNS" lines.
samples_between() {
  awk -v from="$2" -v to="$3" '$1 > from && (to == "" || $2 < to) { print $3, $4 }' \
    "$E2E_DIR/$1/sockets.log" 2>/dev/null
}
# True once the sampler has a sample begun after the stamp.
sampled_after() { awk -v at="$2" '$1 > at { found = 1 } END { exit !found }' "$E2E_DIR/$1/sockets.log" 2>/dev/null; }

# Red pixels in the icon of the Nth copy (0: the first, rightmost icon).
slot_red() { colour_count "$1" "#FF0000" "20x24+$((1004 - 20 * $2))+744"; }

uid_md5() { printf '%s' "$1" | md5sum | cut -c1-32; }

# What a case checks besides the icon, once its first check has ended.
extra_check() {
  local name=$1 dir=${DIR[$1]}
  case "${EXTRA[$name]}" in
    none) ;;
    uids3)
      [ "$(file_uids "$dir" | tr '\n' ' ')" = "uid-1 uid-2 uid-3 " ] &&
        pass "$name: the UID file holds uid-1..uid-3" || fail "$name: UID file: $(file_uids "$dir" 2>&1 | head -5 | tr '\n' ' ')"
      ;;
    long-uids)
      local want="" n
      for n in 1 2 3; do
        want+="$(uid_md5 "$(printf 'uid-%d-%s' "$n" abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz | cut -c1-70)") "
      done
      [ "$(file_uids "$dir" | tr '\n' ' ')" = "$want" ] &&
        pass "$name: the UID file holds the MD5 of each 70-character UID" || fail "$name: UID file is not the MD5s ($want)"
      ;;
    big)
      local want got
      want=$(seq 977 2000 | sed 's/^/uid-/')
      got=$(file_uids "$dir")
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

# Milliseconds since the epoch of a stamp.
ms_of() { date -d "$1" +%s%3N; }

# The number of the case's newest connection when it has ended, so that no
# check of it is running; empty while one is.
between_checks() {
  local log="$E2E_DIR/$1/server.log" newest
  newest=$(sed -nE 's/^[^ ]* #([0-9]+) -- connected$/\1/p' "$log" 2>/dev/null | tail -1 || true)
  [ -n "$newest" ] && [ -n "$(ended_at "$1" "$newest")" ] && echo "$newest"
  return 0
}

# One look at every case: moves each on when its own events show it has
# got as far as it must. Deadlines count from the case's own events.
step_cases() {
  local shot="" name index=-1 now=$SECONDS
  declare -A quiet=()
  for name in "${CASES[@]}"; do
    [ "${PHASE[$name]}" = icon ] && quiet[$name]=$(between_checks "$name")
  done
  [ ${#quiet[@]} -gt 0 ] && shot=$(screenshot "tray-all")
  for name in "${CASES[@]}"; do
    index=$((index + 1))
    local waited=$((now - ${SINCE[$name]}))
    case "${PHASE[$name]}" in
      check)
        # Connection #1 has ended and, before #2 began, the program held
        # no socket: none in its process, no connection to the server in
        # any table. (A socket reset by the server is in no table, and
        # Wine gives the program's process no copy of a socket it has not
        # used itself; for those the error icon, which the program shows
        # only after it closed the socket, tells.)
        local end1 start2 ending
        end1=$(ended_at "$name" 1)
        if [ -z "$end1" ]; then
          if [ $waited -gt 240 ]; then
            fail "$name: connection #1 still open ${waited}s after it began; the program holds $(tail -1 "${DIR[$name]}/sockets.log" | cut -d' ' -f3) socket(s)"
            PHASE[$name]=done
          fi
          continue
        fi
        ending=$(ending_of "$name" 1)
        start2=$(connected_at "$name" 2)
        if samples_between "$name" "$end1" "$start2" | grep -qx "0 0"; then
          pass "$name: the connection ended ($ending) and the program held no socket before the next check"
          PHASE[$name]=icon
          SINCE[$name]=$now
        elif [ -n "$start2" ] && sampled_after "$name" "$start2"; then
          # The window between the two connections is over.
          if [ $(($(ms_of "$start2") - $(ms_of "$end1"))) -lt 1000 ]; then
            # The program ended #1 as it began #2 (a check left waiting
            # for QUIT's answer ends so): then it must hold #2's socket
            # alone.
            if samples_between "$name" "$start2" "$(ended_at "$name" 2)" | awk '$1 <= 1 && $2 <= 1 { ok = 1 } END { exit !ok }'; then
              pass "$name: the connection ended ($ending) as the next check began, and the program held that one socket alone"
              PHASE[$name]=icon
              SINCE[$name]=$now
            elif [ -n "$(ended_at "$name" 2)" ]; then
              fail "$name: the program held #1's socket on into #2: $(samples_between "$name" "$start2" "$(ended_at "$name" 2)" | sort -u | tr '\n' ',')"
              PHASE[$name]=done
            fi
          else
            fail "$name: the connection ended ($ending) at $end1, yet the program held a socket until #2 began at $start2: $(samples_between "$name" "$end1" "$start2" | sort | uniq -c | tr -s ' ' | tr '\n' ',')"
            PHASE[$name]=done
          fi
        elif [ -z "$start2" ] && [ $waited -gt 300 ]; then
          fail "$name: the connection ended ($ending) at $end1; since then no sample shows the program without a socket, and no next check came"
          PHASE[$name]=done
        fi
        ;;
      icon)
        # An error icon is judged between checks only: a check in progress
        # shows it too. The normal icon shows only after a good check.
        local red before_shot=${quiet[$name]:-}
        red=$(slot_red "$shot" "$index" || true)
        if { [ "${ICON[$name]}" = error ] && [ "$red" -ge $TRAY_ERROR_RED ] && [ -n "$before_shot" ] &&
             [ "$before_shot" = "$(between_checks "$name")" ]; } ||
           { [ "${ICON[$name]}" = normal ] && [ "$red" -lt $TRAY_ERROR_RED ]; }; then
          pass "$name: the ${ICON[$name]} icon"
          cp "$shot" "$E2E_SHOTS/$name.png"
          extra_check "$name"
          PHASE[$name]=next
        elif [ $waited -gt 240 ]; then
          fail "$name: not the ${ICON[$name]} icon ($red red pixels)"
          cp "$shot" "$E2E_SHOTS/$name.png"
          PHASE[$name]=next
        fi
        ;;
      next)
        # SINCE is still the end of the first check.
        if connected "$name" 2; then
          pass "$name: the next check still comes"
          PHASE[$name]=done
        elif [ $waited -gt 240 ]; then
          fail "$name: no further check ${waited}s after the first ended: the program stays busy"
          PHASE[$name]=done
        fi
        ;;
    esac
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
echo "-- ${#CASES[@]} copies started after ${SECONDS}s; watching the rest"

deadline=$((SECONDS + 600))
while ! all_done && [ $SECONDS -lt $deadline ]; do
  step_cases
  sleep 1
done
all_done || fail "cases unfinished at the deadline"
touch "$E2E_DIR/stop-sampling"

close_program "${CASES[0]}" || fail "the programs did not end"
for name in "${CASES[@]}"; do
  wait_for 30 program_exited "$name" || fail "$name: did not end"
done
echo "-- took ${SECONDS}s"
e2e_finish
