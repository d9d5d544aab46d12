#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "ServerProcess.h"
#include "TempFolder.h"

// What every FTP server a test starts on loopback has: an address, one
// account, a work folder that holds the root folder it serves, and its
// process. The test reads and writes the served files directly through
// their remote paths. Everything ends with the object: the process is
// stopped before the work folder goes.
class LoopbackFtpServer {
 public:
  virtual ~LoopbackFtpServer();
  LoopbackFtpServer(const LoopbackFtpServer&) = delete;
  LoopbackFtpServer& operator=(const LoopbackFtpServer&) = delete;

  const std::string& Host() const { return m_sHost; }
  int Port() const { return m_iPort; }
  std::string PortText() const { return std::to_string(m_iPort); }
  const std::string& User() const { return m_sUser; }
  const std::string& Password() const { return m_sPassword; }

  // The folder the server shows as "/".
  const std::filesystem::path& Root() const { return m_root; }
  // Files, folders and symbolic links below the root, by their remote path
  // ("/a/b.txt"), made as the account's own.
  void WriteFile(const std::string& sRemotePath, const std::string& sContent) const;
  std::string ReadFile(const std::string& sRemotePath) const;
  void MakeFolder(const std::string& sRemotePath) const;
  void MakeLink(const std::string& sRemotePath, const std::string& sTarget) const;
  std::filesystem::path LocalPath(const std::string& sRemotePath) const;

  // What the server logged, for failure messages.
  virtual std::string ServerLog() const;

  static std::string ReadWholeFile(const std::filesystem::path& path);

 protected:
  // The port of the "PORT <n>" line a server script prints on fd once it
  // listens; 0 when none comes within 15 s or the script ended first.
  static int ReadScriptPort(int fd);
  // A port on 127.0.0.1 that is free at the moment.
  static int FreeLoopbackPort();
  // A SHA-512 crypt(3) hash, as /etc/shadow and the servers' user files
  // hold it.
  static std::string PasswordHash(const std::string& sPassword);

  LoopbackFtpServer(std::string sHost, std::string sUser, std::string sPassword);

  const std::filesystem::path& WorkFolder() const { return m_work; }
  // The process's own output.
  std::filesystem::path OutputLog() const { return m_work / "server.log"; }
  // Entries the test makes below the root belong to this account from now
  // on, and so does the root itself.
  void ServeAs(uid_t uid, gid_t gid);

  std::string m_sUser;
  std::string m_sPassword;
  int m_iPort = 0;
  ServerProcess m_process;

 private:
  void Own(const std::filesystem::path& path) const;

  TempFolder m_folder;
  std::filesystem::path m_work;
  std::filesystem::path m_root;
  std::string m_sHost;
  std::optional<std::pair<uid_t, gid_t>> m_owner;
};
