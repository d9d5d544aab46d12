#include "LoopbackFtpServer.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

LoopbackFtpServer::LoopbackFtpServer(std::string sHost, std::string sUser, std::string sPassword)
    : m_sUser(std::move(sUser)),
      m_sPassword(std::move(sPassword)),
      m_work(m_folder.Path()),
      m_root(m_work / "root"),
      m_sHost(std::move(sHost)) {
  // Servers that serve the root as another account must be able to reach it.
  std::filesystem::permissions(m_work, std::filesystem::perms(0755));
  std::filesystem::create_directory(m_root);
}

LoopbackFtpServer::~LoopbackFtpServer() { m_process.Stop(); }

std::string LoopbackFtpServer::ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string LoopbackFtpServer::ServerLog() const { return ReadWholeFile(OutputLog()); }

void LoopbackFtpServer::ServeAs(uid_t uid, gid_t gid) {
  m_owner.emplace(uid, gid);
  Own(m_root);
}

void LoopbackFtpServer::Own(const std::filesystem::path& path) const {
  if (m_owner && ::lchown(path.c_str(), m_owner->first, m_owner->second) != 0)
    throw std::runtime_error("LoopbackFtpServer: cannot hand over " + path.string());
}

std::filesystem::path LoopbackFtpServer::LocalPath(const std::string& sRemotePath) const {
  std::string sRelative = sRemotePath;
  while (!sRelative.empty() && sRelative.front() == '/') sRelative.erase(0, 1);
  return m_root / sRelative;
}

void LoopbackFtpServer::WriteFile(const std::string& sRemotePath, const std::string& sContent) const {
  const std::filesystem::path path = LocalPath(sRemotePath);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(sContent.data(), static_cast<std::streamsize>(sContent.size()));
    if (!out) throw std::runtime_error("LoopbackFtpServer: cannot write " + sRemotePath);
  }
  Own(path);
}

std::string LoopbackFtpServer::ReadFile(const std::string& sRemotePath) const {
  const std::filesystem::path path = LocalPath(sRemotePath);
  if (!std::filesystem::exists(path)) throw std::runtime_error("LoopbackFtpServer: no file " + sRemotePath);
  return ReadWholeFile(path);
}

void LoopbackFtpServer::MakeFolder(const std::string& sRemotePath) const {
  const std::filesystem::path path = LocalPath(sRemotePath);
  std::filesystem::create_directories(path);
  for (std::filesystem::path p = path; p != m_root && p.has_relative_path(); p = p.parent_path()) Own(p);
}

void LoopbackFtpServer::MakeLink(const std::string& sRemotePath, const std::string& sTarget) const {
  const std::filesystem::path path = LocalPath(sRemotePath);
  std::filesystem::create_symlink(sTarget, path);
  Own(path);
}

int LoopbackFtpServer::FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("LoopbackFtpServer: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t lLength = sizeof address;
  const bool bBound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &lLength) == 0;
  ::close(fd);
  if (!bBound) throw std::runtime_error("LoopbackFtpServer: no free port");
  return ntohs(address.sin_port);
}

std::string LoopbackFtpServer::PasswordHash(const std::string& sPassword) {
  char acSalt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (::crypt_gensalt_rn("$6$", 0, nullptr, 0, acSalt, sizeof acSalt) == nullptr)
    throw std::runtime_error("LoopbackFtpServer: crypt_gensalt failed");
  auto pData = std::make_unique<crypt_data>();
  const char* sHash = ::crypt_r(sPassword.c_str(), acSalt, pData.get());
  if (sHash == nullptr || sHash[0] == '*') throw std::runtime_error("LoopbackFtpServer: crypt failed");
  return sHash;
}

int LoopbackFtpServer::ReadScriptPort(int fd) {
  constexpr auto kStartTimeout = std::chrono::seconds(15);
  std::string sOut;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (sOut.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return 0;  // the server ended before it listened
    sOut.append(buf, static_cast<std::size_t>(n));
  }
  if (sOut.rfind("PORT ", 0) != 0) return 0;
  return std::atoi(sOut.c_str() + 5);
}
