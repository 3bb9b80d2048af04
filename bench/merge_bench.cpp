// mergeUidLists on full tables, beside the plain comparison of every pair
// that it replaces. Worst case: 1024 known UIDs, 1024 current ones, no
// match; and the everyday case: the same 1024 UIDs on both sides.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "app/mainwindow.h"
#include "base/appstate.h"
#include "check/knownuids.h"
#include "check/mailboxes.h"

namespace {

void fillTables(bool sameUids) {
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    if (!mailboxes[0].knownUids[i])
      mailboxes[0].knownUids[i] = (char*)LocalAlloc(LMEM_ZEROINIT, UID_SLOT_BYTES);
    if (!mailboxes[0].currentUids[i])
      mailboxes[0].currentUids[i] = (char*)LocalAlloc(LMEM_ZEROINIT, UID_SLOT_BYTES);
    // Dovecot's UIDs look like this: 16 hex digits.
    snprintf(mailboxes[0].knownUids[i], UID_SLOT_BYTES, "%08x6b16662e", (unsigned)i);
    snprintf(mailboxes[0].currentUids[i], UID_SLOT_BYTES, "%08x6b16662e",
             (unsigned)(sameUids ? i : i + 5000));
  }
  mailboxes[0].known.knownCount = UID_SLOTS;
  mailboxes[0].counts.messageCount = UID_SLOTS;
}

// The reference: every known UID against every current one.
DWORD pairwiseMatches() {
  DWORD matches = 0;
  for (DWORD i = 0; i < mailboxes[0].known.knownCount; i++)
    for (DWORD j = 0; j < mailboxes[0].counts.messageCount; j++)
      matches += strcmp(mailboxes[0].knownUids[i], mailboxes[0].currentUids[j]) == 0;
  return matches;
}

// range(0): 0 = no UID in common (the worst case), 1 = the same UIDs.
void merge(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fillTables(state.range(0) == 1);
    state.ResumeTiming();
    benchmark::DoNotOptimize(mergeUidLists(&mailboxes[0]));
  }
}

void pairwiseReference(benchmark::State& state) {
  fillTables(false);
  for (auto _ : state) benchmark::DoNotOptimize(pairwiseMatches());
}

}  // namespace

BENCHMARK(merge)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(pairwiseReference)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
