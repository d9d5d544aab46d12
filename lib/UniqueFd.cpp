#include "UniqueFd.h"

#include <unistd.h>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() { Close(); }

int UniqueFd::Close() {
  const int fd = std::exchange(m_fd, -1);
  return fd < 0 ? 0 : ::close(fd);
}
