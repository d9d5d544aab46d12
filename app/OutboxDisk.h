#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "UniqueFd.h"

class OrvError;

// The outbox's file work. Whatever it writes is readable by its owner only;
// it is safe from a killed process once the call returns, and from a power
// failure once an OutboxDiskSync of it has finished. Failures raise
// OrvError with a description that names the path and the system's reason.

OrvError OutboxDisk_Error(int iErrno, const std::string& sWhat, const std::string& sPath);

// An exclusive flock on the folder sFolder, held while the result lives;
// empty when another holds it (and bWait is false) or the folder cannot be
// opened.
UniqueFd OutboxDisk_LockFolder(const std::string& sFolder, bool bWait);
// True while sPath still names the file or folder open in fd.
bool OutboxDisk_IsAt(const UniqueFd& fd, const std::string& sPath);

// A new file sPath holding sData.
void OutboxDisk_WriteFile(const std::string& sPath, const std::string& sData);
// A new file sTo holding what the regular file sFrom holds now; its size.
// A file that is empty or larger than lMaxSize is refused, and so is any
// that is not a regular file, without waiting for a writer (a FIFO).
std::uint64_t OutboxDisk_CopyFile(const std::string& sFrom, const std::string& sTo, std::uint64_t lMaxSize);
// Deletes sPath and all it holds; false when something stays.
bool OutboxDisk_RemoveAll(const std::string& sPath);

// Puts the files and folders sPaths on disk (fsync), in that order, on a
// thread of its own, so that nobody waits for the disk. A path that is gone
// by then is skipped. Wait waits until all are on disk; an object that goes
// without it lets the thread finish alone and skip what it has not begun,
// as for files that were deleted meanwhile.
class OutboxDiskSync {
 public:
  explicit OutboxDiskSync(std::vector<std::string> vsPaths);
  ~OutboxDiskSync();
  OutboxDiskSync(const OutboxDiskSync&) = delete;
  OutboxDiskSync& operator=(const OutboxDiskSync&) = delete;

  void Wait();

 private:
  std::shared_ptr<std::atomic<bool>> m_pAbandoned = std::make_shared<std::atomic<bool>>(false);
  std::thread m_thread;
};
