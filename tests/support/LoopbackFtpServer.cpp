#include "LoopbackFtpServer.h"

#include <unistd.h>

#include <fstream>
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
