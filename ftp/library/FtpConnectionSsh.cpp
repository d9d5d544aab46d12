// What the connection does only over SFTP: the server's host key checked
// against known_hosts (and added to it when the user trusts it), SFTP's
// outcomes read as FTP's, and the look at a server that does not greet as
// an SSH server.
#include "FtpConnection.h"
#include "FtpText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FtpWrongServer.h"
#include "SshKeyText.h"

void FtpConnection::ProbeSshGreeting() {
  char* szIp = nullptr;
  long lPort = 0;
  if (curl_easy_getinfo(m_pActive, CURLINFO_PRIMARY_IP, &szIp) != CURLE_OK || szIp == nullptr || *szIp == '\0' ||
      curl_easy_getinfo(m_pActive, CURLINFO_PRIMARY_PORT, &lPort) != CURLE_OK || lPort <= 0)
    return;
  const std::string sLine = FtpWrongServer_FirstLine(szIp, lPort, std::chrono::milliseconds(1500));
  if (FtpWrongServer_IsFtpReply(sLine)) RefuseWrongServer(FtpWrongServer_FtpText(Where()));
}

// SFTP has no reply codes; the FTP codes of the same refusals stand in for
// them, so that callers and the request kinds read both alike.
void FtpConnection::ReadSftpOutcome(FtpOutcome& outcome) const {
  if (!m_hostKeyRefusal.empty()) {
    outcome.rc = CURLE_PEER_FAILED_VERIFICATION;
    outcome.sWhy = m_hostKeyRefusal;
    return;
  }
  switch (outcome.rc) {
    case CURLE_LOGIN_DENIED: outcome.lResponse = 530; break;
    case CURLE_REMOTE_DISK_FULL: outcome.lResponse = 552; break;
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_QUOTE_ERROR: outcome.lResponse = 550; break;
    case CURLE_SSH:
      // A refusal of the server's, while the session lives on, rather than
      // a session that broke. A session that was up and is gone was lost,
      // as a connection is lost: that may pass.
      if (m_bOpen) {
        outcome.lResponse = 550;
      } else if (m_bSessionUsed) {
        outcome.rc = CURLE_RECV_ERROR;
        outcome.sWhy = "the server ended the SSH session";
      } else {
        // A new session that broke while it was set up (the server closed
        // it after the key exchange, during the log-in): a connection that
        // could not be made, as below.
        outcome.rc = CURLE_COULDNT_CONNECT;
        outcome.sWhy = "the server ended the SSH session while it was set up";
      }
      break;
    case CURLE_FAILED_INIT:
      // "Failure establishing ssh session": the server took the connection
      // but closed it before its banner, as sshd does beyond MaxStartups or
      // while it ends sessions; a connection that could not be made.
      if (outcome.sCurlText.rfind("Failure establishing ssh session", 0) == 0) outcome.rc = CURLE_COULDNT_CONNECT;
      break;
    default: break;
  }
}

int FtpConnection::OnHostKey(CURL*, const curl_khkey*, const curl_khkey* pFound, curl_khmatch eMatch, void* pSelf) {
  auto* self = static_cast<FtpConnection*>(pSelf);
  if (eMatch == CURLKHMATCH_OK) return CURLKHSTAT_FINE;
  const std::string sKey = SshKeyText(*pFound);
  {
    std::lock_guard<std::mutex> lock(self->m_hostKeyMutex);
    const bool bUnknown = eMatch == CURLKHMATCH_MISSING;
    self->m_sUnknownKeyText = bUnknown ? sKey : std::string();
    self->m_sUnknownKeyEntry = bUnknown ? SshKeyEntry(*pFound) : std::string();
  }
  self->m_hostKeyRefusal = eMatch == CURLKHMATCH_MISMATCH
                               ? "the host key has changed: " + sKey + " (" + self->m_server.sKnownHosts +
                                     " holds another key for this server)"
                               : "the host key is unknown: " + sKey + " (not in " + self->m_server.sKnownHosts + ")";
  return CURLKHSTAT_REJECT;
}

std::string FtpConnection::UnknownHostKey() {
  std::lock_guard<std::mutex> lock(m_hostKeyMutex);
  return m_sUnknownKeyEntry.empty() ? std::string() : m_sUnknownKeyText;
}

int32_t FtpConnection::TrustHostKey() {
  std::string sEntry;
  {
    std::lock_guard<std::mutex> lock(m_hostKeyMutex);
    sEntry = m_sUnknownKeyEntry;
  }
  if (sEntry.empty()) return -static_cast<int32_t>(CURLE_BAD_FUNCTION_ARGUMENT);
  const std::string& sFile = m_server.sKnownHosts;
  const std::string sLine = SshKnownHostsName(m_server.sUrlHost, m_server.iPort) + " " + sEntry + "\n";
  // The folder as ssh makes it, private to the user; it may exist already.
  const std::size_t lSlash = sFile.rfind('/');
  if (lSlash != std::string::npos && lSlash > 0) ::mkdir(sFile.substr(0, lSlash).c_str(), 0700);
  const int iFd = ::open(sFile.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  auto fnFail = [&](const char* sWhat) {
    Log(FtpConnectionText(m_lHandle) + "cannot " + sWhat + " " + sFile + ": " + std::strerror(errno));
    if (iFd >= 0) ::close(iFd);
    return -static_cast<int32_t>(CURLE_WRITE_ERROR);
  };
  if (iFd < 0) return fnFail("open");
  // A last line without its line break would swallow the new entry.
  std::string sText = sLine;
  struct stat st {};
  char cLast = '\n';
  if (::fstat(iFd, &st) != 0) return fnFail("read");
  if (st.st_size > 0 && ::pread(iFd, &cLast, 1, st.st_size - 1) != 1) return fnFail("read");
  if (cLast != '\n') sText = "\n" + sLine;
  for (std::size_t lDone = 0; lDone < sText.size();) {
    const ssize_t n = ::write(iFd, sText.data() + lDone, sText.size() - lDone);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fnFail("write");
    lDone += static_cast<std::size_t>(n);
  }
  if (::fsync(iFd) != 0 || ::close(iFd) != 0) {
    Log(FtpConnectionText(m_lHandle) + "cannot write " + sFile + ": " + std::strerror(errno));
    return -static_cast<int32_t>(CURLE_WRITE_ERROR);
  }
  {
    std::lock_guard<std::mutex> lock(m_hostKeyMutex);
    m_sUnknownKeyText.clear();
    m_sUnknownKeyEntry.clear();
  }
  Log(FtpConnectionText(m_lHandle) + "host key added to " + sFile + ": " + sLine.substr(0, sLine.size() - 1));
  return 0;
}
