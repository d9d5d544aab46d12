#include "OutboxDisk.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

void SyncAndClose(UniqueFd& fd, const std::string& sPath) {
  if (::fsync(fd.Get()) != 0 || fd.Close() != 0) throw OutboxDisk_Error(errno, "cannot write", sPath);
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (m_fd >= 0) ::close(m_fd);
}

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
  struct stat stOpen {}, stNamed {};
  if (::fstat(fd.Get(), &stOpen) != 0 || ::lstat(sPath.c_str(), &stNamed) != 0) return false;
  return stOpen.st_dev == stNamed.st_dev && stOpen.st_ino == stNamed.st_ino;
}

void OutboxDisk_WriteFile(const std::string& sPath, const std::string& sData) {
  UniqueFd fd = CreateNew(sPath);
  WriteAll(fd.Get(), sData.data(), sData.size(), sPath);
  SyncAndClose(fd, sPath);
}

std::uint64_t OutboxDisk_CopyFile(const std::string& sFrom, const std::string& sTo, std::uint64_t lMaxSize) {
  UniqueFd from(::open(sFrom.c_str(), O_RDONLY | O_CLOEXEC));
  if (!from) throw OutboxDisk_Error(errno, "cannot read", sFrom);
  struct stat st {};
  if (::fstat(from.Get(), &st) != 0) throw OutboxDisk_Error(errno, "cannot read", sFrom);
  if (!S_ISREG(st.st_mode)) throw OrvError(OrvError::kPathFileAccess, sFrom + " is not a regular file", kSource);
  auto tooLarge = [&] {
    return OrvError(OrvError::kPathFileAccess,
                    sFrom + " is larger than " + std::to_string(lMaxSize >> 20) + " MiB", kSource);
  };
  if (static_cast<std::uint64_t>(st.st_size) > lMaxSize) throw tooLarge();

  UniqueFd to = CreateNew(sTo);
  try {
    std::unique_ptr<char[]> pChunk(new char[kCopyChunk]);
    std::uint64_t lSize = 0;
    for (;;) {
      const ssize_t n = ::read(from.Get(), pChunk.get(), kCopyChunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw OutboxDisk_Error(errno, "cannot read", sFrom);
      }
      if (n == 0) break;
      lSize += static_cast<std::uint64_t>(n);
      // The file may grow while it is read.
      if (lSize > lMaxSize) throw tooLarge();
      WriteAll(to.Get(), pChunk.get(), static_cast<std::size_t>(n), sTo);
    }
    if (lSize == 0) throw OrvError(OrvError::kPathFileAccess, sFrom + " is empty", kSource);
    SyncAndClose(to, sTo);
    return lSize;
  } catch (...) {
    ::unlink(sTo.c_str());
    throw;
  }
}

void OutboxDisk_SyncFolder(const std::string& sFolder) {
  UniqueFd fd(::open(sFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) throw OutboxDisk_Error(errno, "cannot open", sFolder);
  if (::fsync(fd.Get()) != 0) throw OutboxDisk_Error(errno, "cannot write", sFolder);
}

bool OutboxDisk_RemoveAll(const std::string& sPath) {
  std::error_code ec;
  std::filesystem::remove_all(sPath, ec);
  return !ec;
}
