// Linked into every test program: gives it the source folder and the
// built program in its environment, however it is started.
#include <cstdlib>

namespace {
struct TestEnvironment {
  TestEnvironment() {
    setenv("ORV_SOURCE_DIR", ORV_SOURCE_DIR, 0);
#ifdef ORV_PROGRAM
    setenv("ORV_PROGRAM", ORV_PROGRAM, 0);
#endif
#ifdef ORV_SHORT_WAITS_PROGRAM
    // The program with short fixed waits, which ProgramCopy runs (ShortWaits.h).
    setenv("ORV_SHORT_WAITS_PROGRAM", ORV_SHORT_WAITS_PROGRAM, 0);
#endif
    // Widgets in tests never need a screen.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
} g_testEnvironment;
}  // namespace
