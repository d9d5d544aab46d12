// Linked into the test build of the program only (tests/e2e/CMakeLists.txt):
// its fixed waits are shortened before main starts. See ShortWaits.h.
#include "ShortWaits.h"

namespace {
struct ShortWaitsAtStart {
  ShortWaitsAtStart() { ShortWaits_Use(); }
} g_shortWaitsAtStart;
}  // namespace
