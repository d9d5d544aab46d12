#pragma once

#include <chrono>

// The program's fixed waits pass through here: the alarm run's pauses
// between its steps, before its disconnect and before its end, and the FTP
// library's pauses before it tries a request again. A normal run waits them
// whole; nothing in the program changes that. Only test code shortens them
// (tests/support/ShortWaits.h), so that its runs do not sit through them.
// What a run logs about a wait ("trying again in 1 s") names the whole wait
// in any case.
std::chrono::milliseconds Waits_Scaled(std::chrono::milliseconds wait);
long Waits_ScaledMs(long lMs);
