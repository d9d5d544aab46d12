#include "TwistedFtpServer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

constexpr int kStartTimeoutMs = 15000;

// The port of the script's first output line, "PORT <n>"; 0 when it does
// not come in time.
int ReadPort(int fd) {
  std::string sOut;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (sOut.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return 0;
    sOut.append(buf, static_cast<std::size_t>(n));
  }
  if (sOut.rfind("PORT ", 0) != 0) return 0;
  return std::atoi(sOut.c_str() + 5);
}

}  // namespace

TwistedFtpServer::TwistedFtpServer() : LoopbackFtpServer("127.0.0.1", "twisted", "twisted-pass") {
  const char* sSource = std::getenv("ORV_SOURCE_DIR");
  if (sSource == nullptr || *sSource == '\0') throw std::runtime_error("TwistedFtpServer: ORV_SOURCE_DIR is not set");
  const std::string sScript = std::string(sSource) + "/tests/servers/orv_twisted_ftpd.py";
  m_process.Start({"/usr/bin/python3", sScript, "--root", Root().string(), "--user", User(), "--password", Password()},
                  OutputLog(), ServerProcess::Output::kStdoutPipe);
  m_iPort = ReadPort(m_process.StdoutFd());
  if (m_iPort <= 0) throw std::runtime_error("TwistedFtpServer: server did not start:\n" + ServerLog());
}
