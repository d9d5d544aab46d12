#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "LoopbackFtpServer.h"

// OpenSSH's sshd for one test, serving SFTP (its internal-sftp) on a free
// port of 127.0.0.1, in the foreground, with a configuration file of its own
// in the work folder. It takes the account's password and the keys that
// AuthorizeKey lists.
//
// The account is a system account added for the test (orvssh<process id>,
// with a number after it for a further server of the same process) and
// removed again at the end. Its home is the root folder, where an SFTP
// session starts, so the file helpers' remote paths count from the login
// folder: "/a.txt" here is "~/a.txt" in an sftp:// address. Nothing locks
// the account in there; absolute paths reach the whole file system.
//
// The server presents one of two ed25519 host keys that are made once per
// test process, so that a test can meet a changed host key on the same
// address.
class SshTestServer : public LoopbackFtpServer {
 public:
  enum class HostKey { kUsual, kChanged };

  // A client key pair as ssh-keygen writes it.
  struct ClientKey {
    std::filesystem::path privateFile;
    std::filesystem::path publicFile;
    // "ssh-ed25519 AAAA...", what AuthorizeKey takes.
    std::string sPublicLine;
  };

  // Starts the server and returns once it accepts connections; throws
  // std::runtime_error (with the server's log) when it does not start.
  explicit SshTestServer(HostKey eKey = HostKey::kUsual);
  ~SshTestServer() override;

  // Restarts the server on the same port with the given host key; the
  // sessions that run end.
  void PresentHostKey(HostKey eKey);
  HostKey PresentedHostKey() const { return m_eKey; }

  // The line ssh writes into ~/.ssh/known_hosts for this server:
  // "[127.0.0.1]:<port> ssh-ed25519 AAAA...", by default for the key the
  // server presents.
  std::string KnownHostsLine() const { return KnownHostsLine(m_eKey); }
  std::string KnownHostsLine(HostKey eKey) const;
  // The same with the address hashed ("|1|salt|hash ssh-ed25519 AAAA..."),
  // as ssh writes it with HashKnownHosts; a fresh salt every call.
  std::string HashedKnownHostsLine() const { return HashedKnownHostsLine(m_eKey); }
  std::string HashedKnownHostsLine(HostKey eKey) const;
  // "SHA256:<base64 without padding>", as ssh-keygen -l prints it.
  std::string HostKeyFingerprint() const { return HostKeyFingerprint(m_eKey); }
  std::string HostKeyFingerprint(HostKey eKey) const;
  // The key type both host keys have, as known_hosts names it.
  static std::string HostKeyType() { return "ssh-ed25519"; }

  // Lets the public key log in as the account from now on.
  void AuthorizeKey(const std::string& sPublicKeyLine) const;
  // Makes an ed25519 key pair <folder>/<sName> and <sName>.pub (the folder
  // is made if missing, an earlier pair of that name replaced), encrypted
  // only when a passphrase is given.
  static ClientKey MakeClientKey(const std::filesystem::path& folder, const std::string& sName = "id_ed25519",
                                 const std::string& sPassphrase = "");

  // Ends every session the server runs now, whatever it is doing, as a
  // server that drops its connections would; it keeps listening, and a
  // session that a client opens meanwhile (a retry) is left alone. Returns
  // once no process of those sessions runs any more.
  void DropSessions() { EndSessions(false); }

  // The server's output and its own log.
  std::string ServerLog() const override;

 private:
  // Kills the sessions' processes until none is left; with bLater, also
  // those of sessions that begin meanwhile.
  void EndSessions(bool bLater);
  void AddAccount();
  void RemoveAccount();
  // On the given port, or on a free one when it is 0.
  void Start(int iPort);
  void Stop();
  void WriteConfig() const;
  pid_t ReadListenerPid() const;
  std::filesystem::path ConfigFile() const { return WorkFolder() / "sshd_config"; }
  std::filesystem::path AuthorizedKeysFile() const { return WorkFolder() / "authorized_keys"; }
  std::filesystem::path SshdLog() const { return WorkFolder() / "sshd.log"; }
  std::filesystem::path PidFile() const { return WorkFolder() / "sshd.pid"; }

  HostKey m_eKey;
  // Set while the system account exists.
  std::optional<uid_t> m_account;
  pid_t m_listener = -1;
};
