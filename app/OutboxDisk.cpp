#include "OutboxDisk.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "OrvError.h"

namespace {

constexpr const char* kSource = "Outbox";
constexpr std::size_t kCopyChunk = 262144;

void WriteAll(int fd, const char* p, std::size_t n, const std::string& sPath) {
  while (n > 0) {
    const ssize_t lDone = ::write(fd, p, n);
    if (lDone < 0) {
      if (errno == EINTR) continue;
      throw OutboxDisk_Error(errno, "cannot write", sPath);
    }
    p += lDone;
    n -= static_cast<std::size_t>(lDone);
  }
}

UniqueFd CreateNew(const std::string& sPath) {
  UniqueFd fd(::open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) throw OutboxDisk_Error(errno, "cannot create", sPath);
  return fd;
}

void Close(UniqueFd& fd, const std::string& sPath) {
  if (fd.Close() != 0) throw OutboxDisk_Error(errno, "cannot write", sPath);
}

// Copies within the kernel where it can; 0 once sFrom ends, -1 with errno.
ssize_t CopyRange(int fdFrom, int fdTo, const std::string& sTo, std::size_t lMax, bool& bKernelCopy, char* pBuffer) {
  if (bKernelCopy) {
    const ssize_t n = ::copy_file_range(fdFrom, nullptr, fdTo, nullptr, lMax, 0);
    if (n >= 0 || (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) return n;
    bKernelCopy = false;
  }
  const ssize_t n = ::read(fdFrom, pBuffer, std::min(lMax, kCopyChunk));
  if (n > 0) WriteAll(fdTo, pBuffer, static_cast<std::size_t>(n), sTo);
  return n;
}

}  // namespace

OrvError OutboxDisk_Error(int iErrno, const std::string& sWhat, const std::string& sPath) {
  const OrvError oNumbered = OrvError::FromErrno(iErrno, sPath, kSource);
  return OrvError(oNumbered.Number(), sWhat + " " + sPath + ": " + std::strerror(iErrno), kSource);
}

UniqueFd OutboxDisk_LockFolder(const std::string& sFolder, bool bWait) {
  UniqueFd fd(::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return fd;
  int r;
  do {
    r = ::flock(fd.Get(), LOCK_EX | (bWait ? 0 : LOCK_NB));
  } while (r != 0 && errno == EINTR);
  return r == 0 ? std::move(fd) : UniqueFd();
}

bool OutboxDisk_IsAt(const UniqueFd& fd, const std::string& sPath) {
  struct stat stOpen {
  }, stNamed{};
  if (::fstat(fd.Get(), &stOpen) != 0 || ::lstat(sPath.c_str(), &stNamed) != 0) return false;
  return stOpen.st_dev == stNamed.st_dev && stOpen.st_ino == stNamed.st_ino;
}

void OutboxDisk_WriteFile(const std::string& sPath, const std::string& sData) {
  UniqueFd fd = CreateNew(sPath);
  WriteAll(fd.Get(), sData.data(), sData.size(), sPath);
  Close(fd, sPath);
}

std::uint64_t OutboxDisk_CopyFile(const std::string& sFrom, const std::string& sTo, std::uint64_t lMaxSize) {
  UniqueFd from(::open(sFrom.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!from) throw OutboxDisk_Error(errno, "cannot read", sFrom);
  struct stat st {};
  if (::fstat(from.Get(), &st) != 0) throw OutboxDisk_Error(errno, "cannot read", sFrom);
  if (!S_ISREG(st.st_mode)) throw OrvError(OrvError::kPathFileAccess, sFrom + " is not a regular file", kSource);
  auto tooLarge = [&] {
    return OrvError(OrvError::kPathFileAccess, sFrom + " is larger than " + std::to_string(lMaxSize >> 20) + " MiB",
                    kSource);
  };
  if (static_cast<std::uint64_t>(st.st_size) > lMaxSize) throw tooLarge();

  UniqueFd to = CreateNew(sTo);
  try {
    std::unique_ptr<char[]> pBuffer(new char[kCopyChunk]);
    bool bKernelCopy = true;
    std::uint64_t lSize = 0;
    for (;;) {
      // One byte beyond the limit tells a file that grew while it was read.
      const std::size_t lWant = static_cast<std::size_t>(std::min<std::uint64_t>(lMaxSize + 1 - lSize, 1u << 30));
      const ssize_t n = CopyRange(from.Get(), to.Get(), sTo, lWant, bKernelCopy, pBuffer.get());
      if (n < 0) {
        if (errno == EINTR) continue;
        const int iErrno = errno;
        // A full disk shows on the copy's side; say where.
        throw OutboxDisk_Error(iErrno, iErrno == ENOSPC || iErrno == EDQUOT ? "cannot write" : "cannot read",
                               iErrno == ENOSPC || iErrno == EDQUOT ? sTo : sFrom);
      }
      if (n == 0) break;
      lSize += static_cast<std::uint64_t>(n);
      if (lSize > lMaxSize) throw tooLarge();
    }
    if (lSize == 0) throw OrvError(OrvError::kPathFileAccess, sFrom + " is empty", kSource);
    Close(to, sTo);
    return lSize;
  } catch (...) {
    ::unlink(sTo.c_str());
    throw;
  }
}

bool OutboxDisk_RemoveAll(const std::string& sPath) {
  std::error_code ec;
  std::filesystem::remove_all(sPath, ec);
  return !ec;
}

OutboxDiskSync::OutboxDiskSync(std::vector<std::string> vsPaths)
    : m_thread([vsPaths = std::move(vsPaths), pAbandoned = m_pAbandoned] {
        for (const std::string& sPath : vsPaths) {
          if (*pAbandoned) return;
          // What cannot be made last stays as safe as the page cache holds
          // it; the alarm is not lost for that.
          UniqueFd fd(::open(sPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
          if (fd) (void)::fsync(fd.Get());
        }
      }) {}

OutboxDiskSync::~OutboxDiskSync() {
  if (!m_thread.joinable()) return;
  *m_pAbandoned = true;
  m_thread.detach();
}

void OutboxDiskSync::Wait() {
  if (m_thread.joinable()) m_thread.join();
}
