// The register of untold mail under 10,000 messages pushed one at a time,
// each told by a check of its own and none seen: the count stays exact,
// the UIDs tracked and the memory stay where they were after the first
// few. Prints the register's bytes, its count and its tracked UIDs at
// every tenfold, and the time of one push.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include "tray/previews.h"
#include "tray/register.h"

namespace {

void pushOne(DWORD n, Previews* previews) {
  char uid[16];
  snprintf(uid, sizeof uid, "%u", (unsigned)n);
  registerCheckBegins(0);
  registerFoundNew(0, uid);
  dropPreviews(previews);
  addPreview(previews, "Kitty <kitty@example.invalid>", uid);
  registerCheckEnds(0, 1, n, previews);
}

void BM_TenThousandPushes(benchmark::State& state) {
  static Previews previews;
  for (auto _ : state) {
    acknowledgeRegister(0);
    for (DWORD n = 1; n <= 10000; n++) pushOne(n, &previews);
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_TenThousandPushes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  static Previews previews;
  acknowledgeRegister(0);
  for (DWORD n = 1; n <= 10000; n++) {
    pushOne(n, &previews);
    if (n == 10 || n == 100 || n == 1000 || n == 10000)
      printf("after %5u pushes: %zu bytes a register, %u untold, %u UIDs tracked\n", (unsigned)n,
             registerBytes(), (unsigned)untoldCount(0), (unsigned)trackedCount(0));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
