// What libcurl tells the connection of a running transfer: the commands
// and replies, the data, its progress, and the sockets it opens and closes.
#include "FtpConnection.h"
#include "FtpText.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "FtpDispatcher.h"
#include "FtpWrongServer.h"

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

}  // namespace

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
  Log(FtpConnectionText(m_lHandle) + "connection to " + Where() + " opened" + SecurityText() +
      (m_server.sUser.empty() ? std::string() : " for user " + m_server.sUser));
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
  if (lTotal == 0 && !bUp && self->m_pTransfer != nullptr && self->m_pTransfer->plAnnounced != nullptr)
    lTotal = static_cast<uint64_t>(std::max<std::int64_t>(0, *self->m_pTransfer->plAnnounced));
  if (lTotal > 0) lTotal += lBefore;
  // A few times a second at most, and at once when the data is complete.
  // libcurl calls on with the whole while the last bytes drain through the
  // kernel and the server's reply is awaited; the whole is told again only
  // at the interval then, so the window can still show the transfer.
  constexpr auto kInterval = std::chrono::milliseconds(250);
  if (lDone == 0) return 0;
  const Clock::time_point now = Clock::now();
  const bool bNewWhole = lTotal > 0 && lDone == lTotal && lDone != self->m_lToldDone;
  if (now - self->m_lastProgress < kInterval && !bNewWhole) return 0;
  self->m_lastProgress = now;
  self->m_lToldDone = lDone;
  FtpDispatcher::Instance().PostCallback(
      self->m_lHandle,
      [lHandle = self->m_lHandle, pfn, sId = self->m_pRequest->sRequestId, lUser = self->m_pRequest->lUserValue, lDone,
       lTotal] { pfn(lHandle, sId.c_str(), lUser, lDone, lTotal); });
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
    case CURLINFO_DATA_OUT: self->NoteActivity(); break;
    default: break;
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
