#pragma once

#include <string>

// The run's log file, <log folder>/<start stamp>.log, which also claims the
// stamp for the run: the stamp names the run's message file as well, so two
// runs of one installation must never share one. Runs started in the same
// millisecond (or within one tick of a coarse clock) would; the second of
// them takes the next millisecond's stamp instead.

// How many stamps a run tries, from the clock's on, before it gives up.
constexpr int kRunLogStampTries = 1000;

// Claims the first of sClockStamp and the stamps after it, millisecond by
// millisecond, whose log file does not exist yet in sFolder, by creating
// that file (empty, owner only) exclusively; sFolder is made (owner only)
// when it is missing. Never waits for the clock: at most kRunLogStampTries
// stamps are tried. Returns the claimed stamp, or sClockStamp when none
// could be claimed (a folder that cannot be written, every stamp tried
// taken); the run then logs to that stamp's file as far as it can.
std::string RunLog_ClaimStamp(const std::string& sFolder, const std::string& sClockStamp);

// sText as one log line may hold it: CR, LF and TAB as \r, \n and \t, the
// other control characters (below 0x20, and DEL) as \x01 and so on, so that
// no value and no server reply can end a line or make one of its own. Other
// bytes, backslashes included, stay as they are.
std::string RunLog_Escaped(const std::string& sText);
