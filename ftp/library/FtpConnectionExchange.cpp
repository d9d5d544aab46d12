// The connection's exchanges with libcurl: how a transfer is set up and
// driven, and cut off when idle or cancelled. What libcurl tells of it on
// the way is in FtpConnectionEvents.cpp, what is SFTP's own in
// FtpConnectionSsh.cpp.
#include "FtpConnection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {


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
  m_lToldDone = 0;
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
  outcome.lResponse = ReplyCode();
  // libcurl's own connect limit is the same inactivity limit as the
  // watchdog's: whichever of the two sees it first, the server was silent
  // for as long. (libcurl also reports a 421 greeting as a time-out; that
  // is the server's refusal.)
  const bool bCurlTimedOut =
      eWhy == Interrupt::kNone && outcome.rc == CURLE_OPERATION_TIMEDOUT && outcome.lResponse == 0;
  outcome.bTimedOut =
      (eWhy == Interrupt::kTimedOut || outcome.bTooSlow || bCurlTimedOut) && outcome.rc != CURLE_OK;
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

std::string FtpConnection::LoginFolder() {
  std::lock_guard<std::mutex> lock(m_loginFolderMutex);
  return m_sLoginFolder;
}
