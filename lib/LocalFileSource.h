#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "UniqueFd.h"

// A local file opened to be sent. Opening reads the file's beginning, so
// that a file that cannot be opened or read fails at once, with the errors
// LibOrv_ReadFile raises; only a regular file opens (a FIFO, a device or a
// socket fails at once with error 54, a folder with 75). A file no longer
// than the limit is then wholly in memory and closed again. A longer one
// stays open: the rest is read while it is sent, so that a large file never
// sits in memory whole.
// The limit is as much as one piece of an upload: a file sent from the open
// file costs no memory beyond what the transfer already holds, and fresh
// memory is what a short transfer spends most of its own time on.
class LocalFileSource {
 public:
  static constexpr std::size_t kWholeLimit = 65536;

  static LocalFileSource Open(const std::string& sFileName, std::size_t lWholeLimit = kWholeLimit);

  LocalFileSource(LocalFileSource&& other) noexcept;
  LocalFileSource& operator=(LocalFileSource&& other) noexcept;

  // True when the content read so far is the whole file.
  bool Whole() const { return !m_fd; }
  bool Empty() const { return Whole() && m_sHead.empty(); }
  // The file's size when it was opened.
  std::uint64_t Size() const { return m_lSize; }
  // The content read at the opening: the whole file, or its beginning.
  const std::string& Head() const { return m_sHead; }
  std::string TakeHead();
  // Hands over the open file (read on from Head().size(), up to Size());
  // -1 for a file that is wholly in memory. The caller closes it.
  int ReleaseDescriptor();

 private:
  LocalFileSource() = default;

  std::string m_sHead;
  UniqueFd m_fd;
  std::uint64_t m_lSize = 0;
};
