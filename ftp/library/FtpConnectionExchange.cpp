// The connection's exchanges with libcurl: how a transfer is set up and
// driven, cut off when idle or cancelled, and what libcurl tells of it on
// the way (commands, replies, sockets, progress).
#include "FtpConnection.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "FtpDispatcher.h"
#include "FtpText.h"
#include "FtpWrongServer.h"
#include "SshKeyText.h"

namespace {

std::string OneLine(const char* p, std::size_t n) {
  std::string s(p, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

bool IsCommand(const std::string& sLine, const char* sCommand) {
  const std::size_t n = std::strlen(sCommand);
  if (sLine.size() < n || (sLine.size() > n && sLine[n] != ' ')) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(sLine[i])) != sCommand[i]) return false;
  return true;
}

bool IsPassCommand(const std::string& s) { return IsCommand(s, "PASS"); }

bool IsLoginCommand(const std::string& s) { return IsCommand(s, "USER") || IsPassCommand(s); }

// "550 No such file": three digits and a space end a server reply.
bool IsFinalReplyLine(const std::string& s) {
  return s.size() >= 4 && std::isdigit(static_cast<unsigned char>(s[0])) &&
         std::isdigit(static_cast<unsigned char>(s[1])) && std::isdigit(static_cast<unsigned char>(s[2])) &&
         s[3] == ' ';
}

// How long to wait for the multi handle's sockets. With no socket to offer,
// libcurl would sit out the whole wait even where it only needs to be
// called again (between an EPSV reply and opening the data connection, for
// one), which stalls every such transfer by a second. So without a socket
// it is called again at once the first time, and every millisecond while
// that lasts (a state that waits for a timer of its own must not spin).
int PollWaitMs(CURLM* pMulti, int& iRoundsWithoutSocket) {
  constexpr int kSocketWaitMs = 1000;
  constexpr int kNoSocketWaitMs = 1;
  fd_set read, write, except;
  FD_ZERO(&read);
  FD_ZERO(&write);
  FD_ZERO(&except);
  int iMaxFd = -1;
  if (curl_multi_fdset(pMulti, &read, &write, &except, &iMaxFd) == CURLM_OK && iMaxFd >= 0) {
    iRoundsWithoutSocket = 0;
    return kSocketWaitMs;
  }
  return iRoundsWithoutSocket++ == 0 ? 0 : kNoSocketWaitMs;
}

}  // namespace

FtpConnection::Clock::time_point FtpConnection::EnforceInactivity(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bExchange || m_eInterrupt != Interrupt::kNone) return Clock::time_point::max();
  long long lUnsent = 0;
  {
    // The kernel takes in up to megabytes of a transfer at once and sends
    // them at the link's pace: meanwhile libcurl has nothing to write and
    // tells of no data, yet the transfer moves.
    std::lock_guard<std::mutex> socketLock(m_socketMutex);
    if (SendQueuesMovedLocked(lUnsent)) NoteActivity();
  }
  const Clock::time_point deadline = Clock::time_point(Clock::duration(m_lastActivity.load())) + m_limit;
  if (now >= deadline) {
    InterruptLocked(Interrupt::kTimedOut);
    return Clock::time_point::max();
  }
  // What has reached its side: what libcurl received, and what it sent
  // less what the kernel still holds.
  const long long lMoved = m_lCurlMoved.load() - lUnsent;
  if (now - m_floorSince >= kFloorWindow) {
    if (lMoved - m_lFloorBase < kFloorBytesPerSecond * kFloorWindow.count()) {
      InterruptLocked(Interrupt::kTooSlow);
      return Clock::time_point::max();
    }
    m_floorSince = now;
    m_lFloorBase = lMoved;
  }
  return std::min(deadline, m_floorSince + kFloorWindow);
}

void FtpConnection::StartFloorLocked(Clock::time_point now) {
  m_lCurlMoved = 0;
  m_floorSince = now;
  m_lFloorBase = 0;
}

void FtpConnection::InterruptLocked(Interrupt eWhy) {
  m_eInterrupt = eWhy;
  {
    // Cutting the sockets ends waits inside libcurl too, which a wake-up
    // of the multi handle would not reach.
    std::lock_guard<std::mutex> socketLock(m_socketMutex);
    m_bRefuseSockets = true;
    m_bMayDrain = false;
    for (curl_socket_t s : m_sockets) ::shutdown(s, SHUT_RDWR);
    CloseDrainingLocked();
  }
  // A failed wake-up costs at most the worker's poll interval.
  if (m_pMulti) (void)curl_multi_wakeup(m_pMulti.get());
}

void FtpConnection::RefuseWrongServer(const std::string& sWhy) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bExchange || m_eInterrupt != Interrupt::kNone) return;
  m_sWrongServer = sWhy;
  InterruptLocked(Interrupt::kWrongServer);
}

void FtpConnection::ProbeSshGreeting() {
  char* szIp = nullptr;
  long lPort = 0;
  if (curl_easy_getinfo(m_pActive, CURLINFO_PRIMARY_IP, &szIp) != CURLE_OK || szIp == nullptr || *szIp == '\0' ||
      curl_easy_getinfo(m_pActive, CURLINFO_PRIMARY_PORT, &lPort) != CURLE_OK || lPort <= 0)
    return;
  const std::string sLine = FtpWrongServer_FirstLine(szIp, lPort, std::chrono::milliseconds(1500));
  if (FtpWrongServer_IsFtpReply(sLine)) RefuseWrongServer(FtpWrongServer_FtpText(Where()));
}

void FtpConnection::BeginExchange(int32_t lLimitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lLimitMs);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bExchange = true;
    m_limit = std::chrono::milliseconds(lLimitMs);
    NoteActivity();
    StartFloorLocked(Clock::now());
    if (m_bStop && m_pMulti) {
      InterruptLocked(Interrupt::kCancelled);
    } else if (m_bCancelWaiting) {
      m_bCancelWaiting = false;
      InterruptLocked(Interrupt::kCancelledByUser);
    } else {
      m_eInterrupt = Interrupt::kNone;
      std::lock_guard<std::mutex> socketLock(m_socketMutex);
      m_bRefuseSockets = false;
      m_bMayDrain = true;
    }
  }
  if (m_hooks.fnDeadlineChanged) m_hooks.fnDeadlineChanged(deadline);
}

FtpConnection::Interrupt FtpConnection::EndExchange() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bExchange = false;
  Interrupt eWhy = m_eInterrupt;
  m_eInterrupt = Interrupt::kNone;
  {
    // The server has answered for the data, or the exchange failed.
    std::lock_guard<std::mutex> socketLock(m_socketMutex);
    m_bMayDrain = false;
    CloseDrainingLocked();
  }
  return eWhy;
}

void FtpConnection::NoteActivity() { m_lastActivity = Clock::now().time_since_epoch().count(); }

bool FtpConnection::SendQueuesMovedLocked(long long& lUnsent) {
  bool bMoved = false;
  lUnsent = 0;
  auto fnLook = [&](curl_socket_t s) {
    // Bytes not yet acknowledged by the other side; a socket that cannot
    // tell (one that is still connecting or already reset) shows none.
    int iUnsent = 0;
    if (::ioctl(s, SIOCOUTQ, &iUnsent) != 0) iUnsent = 0;
    int& iBefore = m_unsent[s];
    if (iUnsent != iBefore) bMoved = true;
    iBefore = iUnsent;
    lUnsent += iUnsent;
    return iUnsent;
  };
  for (curl_socket_t s : m_sockets) fnLook(s);
  for (auto it = m_draining.begin(); it != m_draining.end();) {
    if (fnLook(*it) > 0) {
      ++it;
      continue;
    }
    m_unsent.erase(*it);
    (void)::close(*it);  // all is sent; nothing is lost whatever close says
    it = m_draining.erase(it);
  }
  return bMoved;
}

void FtpConnection::CloseDrainingLocked() {
  for (curl_socket_t s : m_draining) {
    m_unsent.erase(s);
    // The kernel sends what is left on its own, as after any close.
    (void)::close(s);
  }
  m_draining.clear();
}

CURLcode FtpConnection::Configure(CURL* pEasy, const std::string& sUrlPath, int32_t lLimitMs) {
  m_pActive = pEasy;
  curl_easy_reset(pEasy);
  m_sErrorBuffer[0] = '\0';
  m_sLastCommand.clear();
  m_sLastReply.clear();
  m_lLastReplyCode = 0;
  m_bTransferStarted = false;
  m_bSessionUsed = m_bOpen;
  const char* sScheme = IsSftp()                                             ? "sftp"
                        : m_server.eSecurity == OrvFtpSecurity::kImplicitTls ? "ftps"
                                                                             : "ftp";
  const std::string sUrl =
      std::string(sScheme) + "://" + m_server.sUrlHost + ":" + std::to_string(m_server.iPort) + sUrlPath;
  EasyOptions options(pEasy);
  options.Set(CURLOPT_URL, sUrl.c_str())
      .Set(CURLOPT_PROTOCOLS_STR, sScheme)
      .Set(CURLOPT_NOSIGNAL, 1L)
      .Set(CURLOPT_ERRORBUFFER, m_sErrorBuffer)
      .Set(CURLOPT_VERBOSE, 1L)
      .Set(CURLOPT_DEBUGFUNCTION, &FtpConnection::OnDebug)
      .Set(CURLOPT_DEBUGDATA, static_cast<void*>(this))
      .Set(CURLOPT_OPENSOCKETFUNCTION, &FtpConnection::OnOpenSocket)
      .Set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(this))
      .Set(CURLOPT_CLOSESOCKETFUNCTION, &FtpConnection::OnCloseSocket)
      .Set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(this))
      .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(lLimitMs))
      // A silent server is the watchdog's to cut, which counts replies,
      // data and bytes still leaving the sockets as activity. libcurl's own
      // limit would also cut the wait for the reply to an upload whose last
      // bytes are still on their way through a slow link, so it is set as
      // far off as libcurl allows.
      .Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(INT_MAX / 1000))
      .Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD))
      // Data connections go to the server's own address, whatever address
      // its PASV reply names.
      .Set(CURLOPT_FTP_SKIP_PASV_IP, 1L)
      .Set(CURLOPT_TCP_KEEPALIVE, 1L)
      .Set(CURLOPT_SHARE, m_pShare.get());
  // Progress is followed for every transfer: the watchdog's floor counts
  // its bytes; it is told only for gets and puts.
  m_bTellProgress = m_pRequest != nullptr && m_pRequest->pKind->MovesData() && m_pfnProgress.load() != nullptr;
  m_lastProgress = Clock::time_point();
  options.Set(CURLOPT_NOPROGRESS, 0L)
      .Set(CURLOPT_XFERINFOFUNCTION, &FtpConnection::OnProgress)
      .Set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
  if (IsSftp()) {
    // The host key must be one the user's known_hosts holds; OnHostKey
    // turns any other away before anything of the user's is sent.
    m_hostKeyRefusal.clear();
    options.Set(CURLOPT_SSH_KNOWNHOSTS, m_server.sKnownHosts.c_str())
        .Set(CURLOPT_SSH_KEYFUNCTION, &FtpConnection::OnHostKey)
        .Set(CURLOPT_SSH_KEYDATA, static_cast<void*>(this));
    if (m_server.sPassword.empty()) {
      // The user's own key, its public half worked out from it.
      options.Set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PUBLICKEY))
          .Set(CURLOPT_SSH_PRIVATE_KEYFILE, m_server.sKeyFile.c_str())
          .Set(CURLOPT_SSH_PUBLIC_KEYFILE, "");
    } else {
      options.Set(CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
    }
  } else if (m_server.eSecurity != OrvFtpSecurity::kPlain) {
    // TLS or nothing, on the control and on every data connection; the
    // certificate is checked, host name included.
    options.Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL))
        .Set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS))
        .Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2))
        .Set(CURLOPT_SSL_VERIFYPEER, 1L)
        .Set(CURLOPT_SSL_VERIFYHOST, 2L);
    // Replaces only the bundle file; the system's certificate folder stays.
    if (!m_server.sCaFile.empty()) options.Set(CURLOPT_CAINFO, m_server.sCaFile.c_str());
  }
  if (!m_server.sUser.empty())
    options.Set(CURLOPT_USERNAME, m_server.sUser.c_str()).Set(CURLOPT_PASSWORD, m_server.sPassword.c_str());
  return options.Result();
}

FtpOutcome FtpConnection::Transfer(int32_t lLimitMs) {
  FtpOutcome outcome;
  CURLM* pMulti = m_pMulti.get();
  CURLMcode mc = curl_multi_add_handle(pMulti, m_pActive);
  if (mc != CURLM_OK) {
    outcome.rc = CURLE_FAILED_INIT;
    std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "%s", curl_multi_strerror(mc));
    return outcome;
  }
  BeginExchange(lLimitMs);
  bool bDone = false;
  bool bInterrupted = false;
  int iRoundsWithoutSocket = 0;
  // An SSH server greets at once; a handshake that is still under way after
  // this long, not logged in, may be talking to a server of another
  // protocol.
  constexpr auto kSshGreetingWait = std::chrono::seconds(1);
  const Clock::time_point tStarted = Clock::now();
  bool bProbed = !IsSftp() || m_bOpen;
  while (!bDone && mc == CURLM_OK) {
    int iRunning = 0;
    mc = curl_multi_perform(pMulti, &iRunning);
    if (mc != CURLM_OK) break;
    if (!bProbed && !m_bOpen && Clock::now() - tStarted >= kSshGreetingWait) {
      bProbed = true;
      ProbeSshGreeting();
    }
    int iLeft = 0;
    while (CURLMsg* pMsg = curl_multi_info_read(pMulti, &iLeft)) {
      if (pMsg->msg != CURLMSG_DONE) continue;
      outcome.rc = pMsg->data.result;
      bDone = true;
    }
    if (bDone) break;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      bInterrupted = m_eInterrupt != Interrupt::kNone;
    }
    if (bInterrupted) break;
    mc = curl_multi_poll(pMulti, nullptr, 0, PollWaitMs(pMulti, iRoundsWithoutSocket), nullptr);
  }
  if (mc != CURLM_OK) {
    outcome.rc = CURLE_FAILED_INIT;
    std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "%s", curl_multi_strerror(mc));
  } else if (bInterrupted) {
    outcome.rc = CURLE_OPERATION_TIMEDOUT;
  }
  // Taking a handle out in mid-transfer makes libcurl drop its connection,
  // whose state is unknown then.
  const CURLMcode mcRemove = curl_multi_remove_handle(pMulti, m_pActive);
  if (mcRemove != CURLM_OK && outcome.rc == CURLE_OK) {
    outcome.rc = CURLE_FAILED_INIT;
    std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "%s", curl_multi_strerror(mcRemove));
  }
  const Interrupt eWhy = EndExchange();
  outcome.bCancelled = eWhy == Interrupt::kCancelled;
  if (eWhy == Interrupt::kCancelledByUser && outcome.rc != CURLE_OK) {
    outcome.bUserCancelled = true;
    outcome.rc = CURLE_ABORTED_BY_CALLBACK;
  }
  outcome.bTooSlow = eWhy == Interrupt::kTooSlow && outcome.rc != CURLE_OK;
  outcome.bTimedOut = (eWhy == Interrupt::kTimedOut || outcome.bTooSlow) && outcome.rc != CURLE_OK;
  outcome.lResponse = ReplyCode();
  if (curl_easy_getinfo(m_pActive, CURLINFO_SSL_VERIFYRESULT, &outcome.lVerifyResult) != CURLE_OK)
    outcome.lVerifyResult = 0;
  curl_off_t lExpected = -1;
  if (curl_easy_getinfo(m_pActive, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &lExpected) == CURLE_OK)
    outcome.lExpectedSize = lExpected;
  outcome.sCommand = m_sLastCommand;
  outcome.sReply = m_sLastReply;
  outcome.sCurlText = m_sErrorBuffer;
  if (eWhy == Interrupt::kWrongServer) {
    // Final: the same address speaks the same protocol a moment later.
    outcome.rc = CURLE_UNSUPPORTED_PROTOCOL;
    outcome.lResponse = 0;
    outcome.sWhy = m_sWrongServer;
  }
  if (IsSftp()) ReadSftpOutcome(outcome);
  // libcurl asks PWD after each log-in, so knowing costs no command.
  const char* szLoginFolder = nullptr;
  if (!IsSftp() && curl_easy_getinfo(m_pActive, CURLINFO_FTP_ENTRY_PATH, &szLoginFolder) == CURLE_OK &&
      szLoginFolder != nullptr) {
    std::lock_guard<std::mutex> lock(m_loginFolderMutex);
    m_sLoginFolder = szLoginFolder;
  }
  return outcome;
}

long FtpConnection::ReplyCode() const {
  long lCode = 0;
  if (curl_easy_getinfo(m_pActive, CURLINFO_RESPONSE_CODE, &lCode) != CURLE_OK) lCode = 0;
  // A transfer that failed before a reply of its own keeps no code.
  return lCode != 0 ? lCode : m_lLastReplyCode;
}

// Once logged in, the control connection is the connection's only socket:
// data connections open later, and a losing connect attempt to another
// address of the host has been closed.
void FtpConnection::NoteLogin() {
  {
    std::lock_guard<std::mutex> lock(m_socketMutex);
    m_controlSocket = m_sockets.size() == 1 ? *m_sockets.begin() : CURL_SOCKET_BAD;
  }
  if (m_bOpen) NoteControlClosed();
  m_bOpen = true;
  m_bSessionUsed = true;
  Log(FtpConnectionText(m_lHandle) + "connection to " + Where() + " opened" +
      SecurityText() + (m_server.sUser.empty() ? std::string() : " for user " + m_server.sUser));
}

void FtpConnection::NoteControlClosed() {
  if (!m_bOpen) return;
  m_bOpen = false;
  Log(FtpConnectionText(m_lHandle) + "connection to " + Where() + " closed");
}

int FtpConnection::OnProgress(void* pSelf, curl_off_t lDownTotal, curl_off_t lDownNow, curl_off_t lUpTotal,
                              curl_off_t lUpNow) {
  auto* self = static_cast<FtpConnection*>(pSelf);
  self->m_lCurlMoved = static_cast<long long>(std::max<curl_off_t>(0, lDownNow)) +
                       static_cast<long long>(std::max<curl_off_t>(0, lUpNow));
  const OrvFtpProgressCallback pfn = self->m_pfnProgress.load();
  if (!self->m_bTellProgress || pfn == nullptr || self->m_pRequest == nullptr) return 0;
  const bool bUp = lUpTotal > 0 || lUpNow > 0;
  // A transfer that goes on from where an earlier one broke off counts
  // what that one moved.
  const std::uint64_t lBefore = self->m_pTransfer != nullptr ? self->m_pTransfer->lDoneBefore : 0;
  const auto lDone = static_cast<uint64_t>(bUp ? lUpNow : lDownNow) + lBefore;
  auto lTotal = static_cast<uint64_t>(std::max<curl_off_t>(0, bUp ? lUpTotal : lDownTotal));
  if (lTotal > 0) lTotal += lBefore;
  // A few times a second, and once more when the data is complete.
  constexpr auto kInterval = std::chrono::milliseconds(250);
  const Clock::time_point now = Clock::now();
  if (now - self->m_lastProgress < kInterval && !(lTotal > 0 && lDone == lTotal)) return 0;
  if (lDone == 0) return 0;
  self->m_lastProgress = now;
  FtpDispatcher::Instance().PostCallback(
      self->m_lHandle, [lHandle = self->m_lHandle, pfn, sId = self->m_pRequest->sRequestId,
                        lUser = self->m_pRequest->lUserValue, lDone, lTotal] {
        pfn(lHandle, sId.c_str(), lUser, lDone, lTotal);
      });
  return 0;
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

int FtpConnection::OnHostKey(CURL*, const curl_khkey*, const curl_khkey* pFound, curl_khmatch eMatch,
                             void* pSelf) {
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

std::string FtpConnection::LoginFolder() {
  std::lock_guard<std::mutex> lock(m_loginFolderMutex);
  return m_sLoginFolder;
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
    Log(FtpConnectionText(m_lHandle) + "cannot " + sWhat + " " + sFile + ": " +
        std::strerror(errno));
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

int FtpConnection::OnDebug(CURL*, curl_infotype eType, char* p, std::size_t n, void* pSelf) {
  auto* self = static_cast<FtpConnection*>(pSelf);
  switch (eType) {
    case CURLINFO_HEADER_OUT:
      self->m_sLastCommand = OneLine(p, n);
      // The password never leaves this function.
      if (IsPassCommand(self->m_sLastCommand)) self->m_sLastCommand = "PASS ***";
      self->NoteActivity();
      break;
    case CURLINFO_HEADER_IN:
      self->m_sLastReply = OneLine(p, n);
      if (!self->m_bOpen && FtpWrongServer_IsSshGreeting(self->m_sLastReply)) {
        self->RefuseWrongServer(FtpWrongServer_SshText(self->Where()));
        break;
      }
      if (IsFinalReplyLine(self->m_sLastReply)) {
        self->m_lLastReplyCode = std::stol(self->m_sLastReply.substr(0, 3));
        // 125 and 150 open the data transfer.
        if (self->m_lLastReplyCode == 125 || self->m_lLastReplyCode == 150) self->m_bTransferStarted = true;
        if (self->m_lLastReplyCode == 230 && IsLoginCommand(self->m_sLastCommand)) self->NoteLogin();
        if (self->m_pTransfer != nullptr && self->m_pTransfer->fnReply)
          self->m_pTransfer->fnReply(self->m_sLastCommand, self->m_sLastReply);
        // A reply counts once it is whole: the lines of one that never
        // ends keep nothing alive.
        self->NoteActivity();
      }
      break;
    case CURLINFO_TEXT:
      // The one sign of an SSH log-in that libcurl gives.
      if (self->IsSftp() && !self->m_bOpen && std::string_view(p, n).rfind("Authentication complete", 0) == 0)
        self->NoteLogin();
      break;
    case CURLINFO_DATA_IN:
      if (self->m_pTransfer != nullptr && self->m_pTransfer->fnRawData && !self->IsSftp())
        self->m_pTransfer->fnRawData(p, n);
      self->NoteActivity();
      break;
    case CURLINFO_DATA_OUT:
      self->NoteActivity();
      break;
    default:
      break;
  }
  return 0;
}

curl_socket_t FtpConnection::OnOpenSocket(void* pSelf, curlsocktype, struct curl_sockaddr* pAddress) {
  auto* self = static_cast<FtpConnection*>(pSelf);
  std::lock_guard<std::mutex> lock(self->m_socketMutex);
  if (self->m_bRefuseSockets) return CURL_SOCKET_BAD;
  const int s = ::socket(pAddress->family, pAddress->socktype | SOCK_CLOEXEC, pAddress->protocol);
  if (s < 0) return CURL_SOCKET_BAD;
  self->m_sockets.insert(s);
  self->m_unsent[s] = 0;
  return s;
}

int FtpConnection::OnCloseSocket(void* pSelf, curl_socket_t s) {
  auto* self = static_cast<FtpConnection*>(pSelf);
  bool bControl = false;
  int iResult;
  {
    std::lock_guard<std::mutex> lock(self->m_socketMutex);
    self->m_sockets.erase(s);
    bControl = s == self->m_controlSocket;
    if (bControl) self->m_controlSocket = CURL_SOCKET_BAD;
    // libcurl closes a data connection once it has written the last byte
    // and then waits for the server's reply, which comes once those bytes
    // arrived. Shutting the sending side puts the end of the data after
    // them, as a close would; the socket stays to be watched.
    int iUnsent = 0;
    if (!bControl && self->m_bMayDrain && ::ioctl(s, SIOCOUTQ, &iUnsent) == 0 && iUnsent > 0 &&
        ::shutdown(s, SHUT_WR) == 0) {
      self->m_draining.insert(s);
      return 0;
    }
    self->m_unsent.erase(s);
    iResult = ::close(s);
  }
  if (bControl) self->NoteControlClosed();
  return iResult;
}
