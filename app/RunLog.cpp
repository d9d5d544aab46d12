#include "RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "DateAndTime.h"

std::string RunLog_ClaimStamp(const std::string& sFolder, const std::string& sClockStamp) {
  struct stat st {};
  if (::stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) ::mkdir(sFolder.c_str(), 0700);
  std::string sStamp = sClockStamp;
  for (int i = 0; i < kRunLogStampTries; ++i) {
    const std::string sFile = sFolder + "/" + sStamp + ".log";
    int fd;
    do {
      fd = ::open(sFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      ::close(fd);
      return sStamp;
    }
    // Only a stamp another run holds is worth passing by; any other failure
    // would meet every later stamp just the same.
    if (errno != EEXIST) break;
    sStamp = DAT_NextMillisecond(sStamp);
  }
  return sClockStamp;
}
