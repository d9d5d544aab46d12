#pragma once

// Shorter fixed waits for tests (lib/Waits.h): the alarm run's pauses
// between its steps (500 ms), before its disconnect (10 s) and before its
// end (2 s), and the FTP library's pauses before a retry (1 s, 2 s, 4 s)
// last a tenth as long. The run limit of an alarm run and every limit the
// FTP library puts on a server (time-outs, the slow-transfer limit) stay
// as they are, and so does every log line.
//
// The program itself never shortens its waits; a test reaches them in one
// of two ways:
//  - in this process, with ShortWaits_Use() (in a test's SetUp, say), for
//    the FTP library and the window that the test runs itself;
//  - in a subprocess, by running the test build of the program, which is
//    the program with tests/support/ShortWaitsProgram.cpp linked in (see
//    tests/e2e/CMakeLists.txt): ProgramCopy runs that build where a test
//    program is given it. The program that is installed and shipped is
//    built without it.
// Tests that check the waits themselves run with the whole waits.

constexpr long kShortWaitsDivisor = 10;

// Defined beside the waits; declared here only, for tests.
void Waits_ShortenForTests(long lDivisor);

inline void ShortWaits_Use() { Waits_ShortenForTests(kShortWaitsDivisor); }
inline void ShortWaits_UseWhole() { Waits_ShortenForTests(1); }

// Short waits while it lives: a test's local, made before the test's first
// request, or a fixture's member.
class ShortWaits {
 public:
  ShortWaits() { ShortWaits_Use(); }
  ~ShortWaits() { ShortWaits_UseWhole(); }
  ShortWaits(const ShortWaits&) = delete;
  ShortWaits& operator=(const ShortWaits&) = delete;
};
