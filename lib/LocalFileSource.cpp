#include "LocalFileSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "OrvError.h"

namespace {

constexpr const char* kSource = "LibOrv_ReadFile";

// Appends up to lMax bytes of fd to sContent, read straight into the
// string's own room: what was reserved (the file's size and one byte to see
// its end), 64 KiB more at a time beyond it. Every new page of memory costs
// a fault, so no second buffer is filled and copied. Returns false once the
// end of the file is reached.
bool AppendFrom(int fd, std::string& sContent, std::size_t lMax, const std::string& sFileName) {
  constexpr std::size_t kStep = 65536;
  std::size_t lRead = 0;
  while (lRead < lMax) {
    const std::size_t lOld = sContent.size();
    const std::size_t lSpare = sContent.capacity() - lOld;
    const std::size_t lRoom = std::min(lMax - lRead, lSpare > 0 ? lSpare : kStep);
    sContent.resize(lOld + lRoom);
    const ssize_t n = ::read(fd, sContent.data() + lOld, lRoom);
    sContent.resize(lOld + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OrvError::FromErrno(errno, sFileName, kSource);
    }
    if (n == 0) return false;
    lRead += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

LocalFileSource LocalFileSource::Open(const std::string& sFileName, std::size_t lWholeLimit) {
  LocalFileSource o;
  // Opening a FIFO waits for a writer, and some devices wait as well; the
  // opening does not, and what is not a regular file is never read: a FIFO
  // or a socket may keep a reader waiting without end, a device such as
  // /dev/zero feeds one without end.
  o.m_fd = UniqueFd(::open(sFileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!o.m_fd) throw OrvError::FromErrno(errno, sFileName, kSource);
  struct stat st {};
  if (::fstat(o.m_fd.Get(), &st) != 0) throw OrvError::FromErrno(errno, sFileName, kSource);
  if (S_ISDIR(st.st_mode)) throw OrvError::FromNumber(OrvError::kPathFileAccess, kSource);
  if (!S_ISREG(st.st_mode)) throw OrvError::FromNumber(OrvError::kBadFileMode, kSource);
  const int iFlags = ::fcntl(o.m_fd.Get(), F_GETFL);
  if (iFlags >= 0) ::fcntl(o.m_fd.Get(), F_SETFL, iFlags & ~O_NONBLOCK);
  o.m_lSize = static_cast<std::uint64_t>(std::max<off_t>(st.st_size, 0));
  const bool bStream = o.m_lSize > lWholeLimit;
  // The room is taken at once, so a file that keeps its size is never
  // copied on the way.
  o.m_sHead.reserve(bStream ? lWholeLimit : static_cast<std::size_t>(o.m_lSize) + 1);
  const std::size_t lMax = bStream ? lWholeLimit : std::numeric_limits<std::size_t>::max();
  if (!AppendFrom(o.m_fd.Get(), o.m_sHead, lMax, sFileName) || !bStream) {
    // Wholly read (a file that shrank since the look at its size too).
    o.m_fd.Close();
    o.m_lSize = o.m_sHead.size();
  }
  return o;
}

LocalFileSource::LocalFileSource(LocalFileSource&& other) noexcept = default;
LocalFileSource& LocalFileSource::operator=(LocalFileSource&& other) noexcept = default;

std::string LocalFileSource::TakeHead() { return std::move(m_sHead); }

int LocalFileSource::ReleaseDescriptor() { return m_fd.Release(); }
