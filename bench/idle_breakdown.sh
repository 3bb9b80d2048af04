#!/usr/bin/env bash
# Where a pushed message's time goes inside the program, from its own Wine
# trace: run bench/idle_latency.sh with
#   WINEDEBUG=+timestamp,+winsock,+winmm KIVVET_E2E_KEEP=1 bench/idle_latency.sh
# and give this the program's output (bench.out in the kept work folder):
#   bench/idle_breakdown.sh /tmp/kivvet-bench-idle-plain-XXXXXX/bench.out
# One row per delivery the trace tells apart (a recv after more than 1.5 s
# of quiet begins one): milliseconds from the recv that brought EXISTS to
# the send of DONE, from DONE to the send of IDLE (sent as the program
# announces), and from IDLE to winmm's PlaySound (the voice's first
# sound); then the medians.
set -euo pipefail
grep -E "WS2_sendto socket|WS2_recv_base socket|MULTIMEDIA_PlaySound" "$1" |
  awk '{ split($1, a, ":"); print a[1], ($0 ~ /sendto/) ? "S" : ($0 ~ /recv/) ? "R" : "P" }' |
  awk 'function flush(  i, s, first, last, p) {
         if (n == 0) return
         s = 0; p = 0
         for (i = 0; i < n; i++) {
           if (k[i] == "S") { s++; if (s == 1) first = t[i]; last = t[i] }
           if (k[i] == "P") p = t[i]
         }
         if (s >= 3 && p) printf "%.0f %.0f %.0f\n", (first - t[0]) * 1000, (last - first) * 1000, (p - last) * 1000
         n = 0
       }
       { if (prev != "" && $1 - prev > 1.5) flush(); prev = $1
         if (n == 0 && $2 != "R") next
         t[n] = $1; k[n] = $2; n++ }
       END { flush() }' >"${TMPDIR:-/tmp}/idle_breakdown.$$"
printf '%12s %12s %12s\n' "exists-done" "done-idle" "idle-sound"
awk '{ printf "%12s %12s %12s\n", $1, $2, $3 }' "${TMPDIR:-/tmp}/idle_breakdown.$$"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%12s %12s %12s  (medians)\n' \
  "$(awk '{ print $1 }' "${TMPDIR:-/tmp}/idle_breakdown.$$" | median)" \
  "$(awk '{ print $2 }' "${TMPDIR:-/tmp}/idle_breakdown.$$" | median)" \
  "$(awk '{ print $3 }' "${TMPDIR:-/tmp}/idle_breakdown.$$" | median)"
rm -f "${TMPDIR:-/tmp}/idle_breakdown.$$"
