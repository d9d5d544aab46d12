#pragma once

#include <utility>

// An open file descriptor (a file, a folder, a socket) with one owner,
// closed when the owner goes; -1 owns nothing.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  // Closes now and reports close's own result (a full disk may show only
  // there); 0 when nothing was open.
  int Close();
  // Hands the descriptor over without closing it; the caller closes it.
  int Release() { return std::exchange(m_fd, -1); }

 private:
  int m_fd = -1;
};
