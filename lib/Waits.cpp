#include "Waits.h"

#include <algorithm>
#include <atomic>

namespace {

// 1 in every normal run. Set only by Waits_ShortenForTests, which no part
// of the program calls or declares; see tests/support/ShortWaits.h.
std::atomic<long> g_lDivisor{1};

}  // namespace

void Waits_ShortenForTests(long lDivisor) { g_lDivisor = lDivisor > 1 ? lDivisor : 1; }

std::chrono::milliseconds Waits_Scaled(std::chrono::milliseconds wait) {
  const long lDivisor = g_lDivisor;
  if (lDivisor == 1 || wait.count() <= 0) return wait;
  // A wait stays a wait: it never becomes 0, which the timers read as idle.
  return std::max(std::chrono::milliseconds(1), wait / lDivisor);
}

long Waits_ScaledMs(long lMs) { return static_cast<long>(Waits_Scaled(std::chrono::milliseconds(lMs)).count()); }
