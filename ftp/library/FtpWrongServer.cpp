#include "FtpWrongServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "UniqueFd.h"

namespace {

// How long is left of the wait, in whole milliseconds for poll.
int MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int iFd, short iEvents, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    pollfd oPoll{iFd, iEvents, 0};
    const int rc = ::poll(&oPoll, 1, MsLeft(deadline));
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0 && (oPoll.revents & iEvents) != 0;
  }
}

}  // namespace

bool FtpWrongServer_IsSshGreeting(const std::string& sLine) { return sLine.rfind("SSH-", 0) == 0; }

bool FtpWrongServer_IsFtpReply(const std::string& sLine) {
  if (sLine.size() < 4) return false;
  for (int i = 0; i < 3; ++i)
    if (sLine[static_cast<std::size_t>(i)] < '0' || sLine[static_cast<std::size_t>(i)] > '9') return false;
  return sLine[0] >= '1' && sLine[0] <= '5' && (sLine[3] == ' ' || sLine[3] == '-');
}

std::string FtpWrongServer_FirstLine(const std::string& sIp, long lPort, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  sockaddr_storage oAddress{};
  socklen_t lAddress = 0;
  auto* p4 = reinterpret_cast<sockaddr_in*>(&oAddress);
  auto* p6 = reinterpret_cast<sockaddr_in6*>(&oAddress);
  if (::inet_pton(AF_INET, sIp.c_str(), &p4->sin_addr) == 1) {
    p4->sin_family = AF_INET;
    p4->sin_port = htons(static_cast<uint16_t>(lPort));
    lAddress = sizeof *p4;
  } else if (::inet_pton(AF_INET6, sIp.c_str(), &p6->sin6_addr) == 1) {
    p6->sin6_family = AF_INET6;
    p6->sin6_port = htons(static_cast<uint16_t>(lPort));
    lAddress = sizeof *p6;
  } else {
    return {};
  }
  const UniqueFd oSocket(::socket(oAddress.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (oSocket.Get() < 0) return {};
  if (::connect(oSocket.Get(), reinterpret_cast<const sockaddr*>(&oAddress), lAddress) != 0) {
    if (errno != EINPROGRESS || !WaitFor(oSocket.Get(), POLLOUT, deadline)) return {};
    int iError = 0;
    socklen_t lError = sizeof iError;
    if (::getsockopt(oSocket.Get(), SOL_SOCKET, SO_ERROR, &iError, &lError) != 0 || iError != 0) return {};
  }
  // A greeting line is short; more than this is no greeting.
  constexpr std::size_t kMaxLine = 512;
  std::string sLine;
  char szBuffer[kMaxLine];
  while (sLine.size() < kMaxLine && WaitFor(oSocket.Get(), POLLIN, deadline)) {
    const ssize_t n = ::recv(oSocket.Get(), szBuffer, kMaxLine - sLine.size(), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    sLine.append(szBuffer, static_cast<std::size_t>(n));
    const std::size_t lEnd = sLine.find('\n');
    if (lEnd != std::string::npos) {
      sLine.resize(lEnd);
      if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
      return sLine;
    }
  }
  return {};
}

std::string FtpWrongServer_FtpText(const std::string& sWhere) {
  return sWhere + " is an FTP server; use ftp://, ftpes:// or ftps://";
}

std::string FtpWrongServer_SshText(const std::string& sWhere) { return sWhere + " is an SSH server; use sftp://"; }
