#include "RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "DateAndTime.h"

std::string RunLog_Escaped(const std::string& sText) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(sText.size());
  for (const char c : sText) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) s += c;
    else if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else if (c == '\t') s += "\\t";
    else s += {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
  }
  return s;
}

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
