#include "FtpConnection.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FtpDispatcher.h"
#include "FtpText.h"

// Sets options one after another and keeps the first failure.
class EasyOptions {
 public:
  explicit EasyOptions(CURL* pEasy) : m_pEasy(pEasy) {}
  template <typename T>
  EasyOptions& Set(CURLoption eOption, T value) {
    if (m_rc == CURLE_OK) m_rc = curl_easy_setopt(m_pEasy, eOption, value);
    return *this;
  }
  CURLcode Result() const { return m_rc; }

 private:
  CURL* m_pEasy;
  CURLcode m_rc = CURLE_OK;
};

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

bool NamesAFile(const std::string& sPath) { return !sPath.empty() && sPath.back() != '/'; }

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

struct GetSink {
  std::string sData;
  std::size_t lMax = 0;
  bool bTruncated = false;
};

std::size_t OnGetData(char* p, std::size_t lSize, std::size_t lCount, void* pSink) {
  auto* pGet = static_cast<GetSink*>(pSink);
  const std::size_t n = lSize * lCount;
  const std::size_t lRoom = pGet->lMax - pGet->sData.size();
  const std::size_t lTake = std::min(n, lRoom);
  const std::size_t lNeeded = pGet->sData.size() + lTake;
  if (pGet->sData.capacity() < lNeeded)
    pGet->sData.reserve(std::min(pGet->lMax, std::max(lNeeded, 2 * pGet->sData.capacity())));
  pGet->sData.append(p, lTake);
  if (lTake < n) {
    // The file is larger than one chunk: keep the chunk, abandon the rest.
    pGet->bTruncated = true;
    return 0;
  }
  return n;
}

struct PutSource {
  const std::string* pData = nullptr;
  const FtpPutFile* pFile = nullptr;
  std::uint64_t lOffset = 0;
  int iErrno = 0;  // why reading the file failed
};

// The data in memory first, then the file's bytes, read as they are needed.
std::size_t OnPutRead(char* p, std::size_t lSize, std::size_t lCount, void* pSource) {
  auto* pPut = static_cast<PutSource*>(pSource);
  const std::size_t lRoom = lSize * lCount;
  const std::string& sData = *pPut->pData;
  if (pPut->lOffset < sData.size()) {
    const std::size_t n = std::min<std::size_t>(lRoom, sData.size() - pPut->lOffset);
    std::copy_n(sData.data() + pPut->lOffset, n, p);
    pPut->lOffset += n;
    return n;
  }
  if (pPut->pFile == nullptr || pPut->lOffset >= pPut->pFile->lSize) return 0;
  const std::size_t lWant =
      static_cast<std::size_t>(std::min<std::uint64_t>(lRoom, pPut->pFile->lSize - pPut->lOffset));
  for (;;) {
    // A file that ends before its size makes libcurl fail the upload as
    // partial.
    const ssize_t n = ::pread(pPut->pFile->iFd, p, lWant, static_cast<off_t>(pPut->lOffset));
    if (n >= 0) {
      pPut->lOffset += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno == EINTR) continue;
    pPut->iErrno = errno;
    return CURL_READFUNC_ABORT;
  }
}

std::size_t OnMlsdData(char* p, std::size_t lSize, std::size_t lCount, void* pParser) {
  static_cast<MlsdParser*>(pParser)->Feed(p, lSize * lCount);
  return lSize * lCount;
}

std::size_t OnDiscard(char*, std::size_t lSize, std::size_t lCount, void*) { return lSize * lCount; }

// libcurl's own LIST parser hands over one entry after the other; skipping
// each keeps it from fetching anything.
long OnListEntry(const void* pInfo, void* pListing, int) {
  const auto* pEntry = static_cast<const curl_fileinfo*>(pInfo);
  auto* pList = static_cast<FtpListing*>(pListing);
  if (pEntry->filename != nullptr) {
    if (pEntry->filetype == CURLFILETYPE_DIRECTORY) pList->asFolders.emplace_back(pEntry->filename);
    else pList->asFiles.emplace_back(pEntry->filename);
  }
  return CURL_CHUNK_BGN_FUNC_SKIP;
}

}  // namespace

FtpConnection::FtpConnection(int32_t lHandle, FtpServer server, Hooks hooks)
    : m_lHandle(lHandle), m_server(std::move(server)), m_hooks(std::move(hooks)) {}

FtpConnection::~FtpConnection() {
  Stop();
  Join();
}

bool FtpConnection::Open() {
  m_pMulti.reset(curl_multi_init());
  m_pEasy.reset(curl_easy_init());
  m_pListEasy.reset(curl_easy_init());
  return m_pMulti && m_pEasy && m_pListEasy;
}

void FtpConnection::Enqueue(FtpRequest request) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bStop) return;
  m_queue.push_back(std::move(request));
  if (!m_thread.joinable()) m_thread = std::thread(&FtpConnection::Run, this);
  m_wake.notify_one();
}

void FtpConnection::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bStop = true;
  m_queue.clear();
  if (m_bExchange) InterruptLocked(Interrupt::kCancelled);
  if (!m_thread.joinable()) m_bFinished = true;
  m_wake.notify_one();
}

void FtpConnection::Join() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

FtpConnection::Clock::time_point FtpConnection::EnforceInactivity(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bExchange || m_eInterrupt != Interrupt::kNone) return Clock::time_point::max();
  const Clock::time_point deadline = Clock::time_point(Clock::duration(m_lastActivity.load())) + m_limit;
  if (now < deadline) return deadline;
  InterruptLocked(Interrupt::kTimedOut);
  return Clock::time_point::max();
}

void FtpConnection::InterruptLocked(Interrupt eWhy) {
  m_eInterrupt = eWhy;
  {
    // Cutting the sockets ends waits inside libcurl too, which a wake-up
    // of the multi handle would not reach.
    std::lock_guard<std::mutex> socketLock(m_socketMutex);
    m_bRefuseSockets = true;
    for (curl_socket_t s : m_sockets) ::shutdown(s, SHUT_RDWR);
  }
  // A failed wake-up costs at most the worker's poll interval.
  if (m_pMulti) (void)curl_multi_wakeup(m_pMulti.get());
}

void FtpConnection::BeginExchange(int32_t lLimitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lLimitMs);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bExchange = true;
    m_limit = std::chrono::milliseconds(lLimitMs);
    NoteActivity();
    if (m_bStop && m_pMulti) {
      InterruptLocked(Interrupt::kCancelled);
    } else {
      m_eInterrupt = Interrupt::kNone;
      std::lock_guard<std::mutex> socketLock(m_socketMutex);
      m_bRefuseSockets = false;
    }
  }
  if (m_hooks.fnDeadlineChanged) m_hooks.fnDeadlineChanged(deadline);
}

FtpConnection::Interrupt FtpConnection::EndExchange() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bExchange = false;
  Interrupt eWhy = m_eInterrupt;
  m_eInterrupt = Interrupt::kNone;
  return eWhy;
}

void FtpConnection::NoteActivity() { m_lastActivity = Clock::now().time_since_epoch().count(); }

void FtpConnection::Run() {
  int32_t lLastLimitMs = 10000;
  for (;;) {
    FtpRequest request;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
      if (m_bStop) break;
      request = std::move(m_queue.front());
      m_queue.pop_front();
    }
    lLastLimitMs = request.lInactivityMs;
    Execute(request);
  }
  CloseControlConnection(lLastLimitMs);
  m_bFinished = true;
}

void FtpConnection::Execute(FtpRequest& request) {
  switch (request.eKind) {
    case FtpRequest::Kind::kDir: ExecuteDir(request); break;
    case FtpRequest::Kind::kGet: ExecuteGet(request); break;
    case FtpRequest::Kind::kPut: ExecutePut(request); break;
  }
}

void FtpConnection::CloseControlConnection(int32_t lLimitMs) {
  // Closing says QUIT on a live connection; the inactivity limit bounds the
  // wait for its answer.
  CurlMultiPtr pMulti;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lLimitMs);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    pMulti = std::move(m_pMulti);
    m_bExchange = true;
    m_eInterrupt = Interrupt::kNone;
    m_limit = std::chrono::milliseconds(lLimitMs);
    NoteActivity();
  }
  if (m_hooks.fnDeadlineChanged) m_hooks.fnDeadlineChanged(deadline);
  m_pEasy.reset();
  m_pListEasy.reset();
  pMulti.reset();
  EndExchange();
  NoteControlClosed();
}

CURLcode FtpConnection::Configure(CURL* pEasy, const std::string& sUrlPath, int32_t lLimitMs) {
  m_pActive = pEasy;
  curl_easy_reset(pEasy);
  m_sErrorBuffer[0] = '\0';
  m_sLastCommand.clear();
  m_sLastReply.clear();
  m_lLastReplyCode = 0;
  m_bTransferStarted = false;
  const bool bImplicitTls = m_server.eSecurity == OrvFtpSecurity::kImplicitTls;
  const char* sScheme = bImplicitTls ? "ftps" : "ftp";
  const std::string sUrl =
      std::string(sScheme) + "://" + m_server.sUrlHost + ":" + std::to_string(m_server.iPort) + sUrlPath;
  const long lLimitSeconds = std::max<long>(1, (lLimitMs + 999) / 1000);
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
      .Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, lLimitSeconds)
      .Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD))
      .Set(CURLOPT_TCP_KEEPALIVE, 1L);
  if (m_server.eSecurity != OrvFtpSecurity::kPlain) {
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

FtpConnection::Outcome FtpConnection::Transfer(int32_t lLimitMs) {
  Outcome outcome;
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
  while (!bDone && mc == CURLM_OK) {
    int iRunning = 0;
    mc = curl_multi_perform(pMulti, &iRunning);
    if (mc != CURLM_OK) break;
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
  outcome.bTimedOut = eWhy == Interrupt::kTimedOut && outcome.rc != CURLE_OK;
  outcome.lResponse = ReplyCode();
  if (curl_easy_getinfo(m_pActive, CURLINFO_SSL_VERIFYRESULT, &outcome.lVerifyResult) != CURLE_OK)
    outcome.lVerifyResult = 0;
  return outcome;
}

long FtpConnection::ReplyCode() const {
  long lCode = 0;
  if (curl_easy_getinfo(m_pActive, CURLINFO_RESPONSE_CODE, &lCode) != CURLE_OK) lCode = 0;
  // A wildcard transfer ends with a pass that forgets the code.
  return lCode != 0 ? lCode : m_lLastReplyCode;
}

int32_t FtpConnection::ResultCode(const Outcome& outcome) const {
  if (outcome.rc == CURLE_OK) return 0;
  if (outcome.bTimedOut) return -static_cast<int32_t>(CURLE_OPERATION_TIMEDOUT);
  // The server answered AUTH TLS or PROT P with a refusal; what failed is
  // our demand for TLS, not the command the caller asked for.
  if (outcome.rc == CURLE_USE_SSL_FAILED) return -static_cast<int32_t>(CURLE_USE_SSL_FAILED);
  if (outcome.lResponse >= 400 && outcome.lResponse <= 999) return static_cast<int32_t>(outcome.lResponse);
  return -static_cast<int32_t>(outcome.rc);
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
  Log("FTP connection " + std::to_string(m_lHandle) + ": connection to " + Where() + " opened" +
      SecurityText() + (m_server.sUser.empty() ? std::string() : " for user " + m_server.sUser));
}

void FtpConnection::NoteControlClosed() {
  if (!m_bOpen) return;
  m_bOpen = false;
  Log("FTP connection " + std::to_string(m_lHandle) + ": connection to " + Where() + " closed");
}

void FtpConnection::LogFailure(const FtpRequest& request, const Outcome& outcome, int32_t lCode) {
  const std::string sCommand = m_sLastCommand.empty() ? "connect to " + Where() : m_sLastCommand;
  std::string sWhy;
  const bool bServerSaidWhy = lCode == outcome.lResponse || outcome.rc == CURLE_USE_SSL_FAILED;
  if (outcome.bTimedOut) sWhy = "no reply and no data for " + std::to_string(request.lInactivityMs) + " ms";
  else if (bServerSaidWhy && !m_sLastReply.empty()) sWhy = m_sLastReply;
  else if (m_sErrorBuffer[0] != '\0') sWhy = m_sErrorBuffer;
  else sWhy = curl_easy_strerror(outcome.rc);
  if (!outcome.bTimedOut) {
    const std::string sTls = TlsFailureText(outcome.rc, outcome.lVerifyResult, m_sLastCommand, sWhy);
    if (!sTls.empty()) sWhy = sTls + " (" + sWhy + ")";
  }
  Log("FTP connection " + std::to_string(m_lHandle) + ": request " + request.sRequestId + " failed with " +
      std::to_string(lCode) + ": " + sCommand + " -> " + sWhy);
}

void FtpConnection::Log(const std::string& s) const {
  if (m_hooks.fnLog) m_hooks.fnLog(s);
}

std::string FtpConnection::SecurityText() const {
  switch (m_server.eSecurity) {
    case OrvFtpSecurity::kExplicitTls: return " with explicit TLS";
    case OrvFtpSecurity::kImplicitTls: return " with implicit TLS";
    case OrvFtpSecurity::kPlain: break;
  }
  return {};
}

std::string FtpConnection::Where() const { return m_server.sUrlHost + ":" + std::to_string(m_server.iPort); }

FtpConnection::Outcome FtpConnection::Perform(CURL* pEasy, const std::string& sUrlPath, const FtpRequest& request,
                                               const std::function<void(EasyOptions&)>& fnOptions,
                                               const std::function<void()>& fnRestart) {
  for (int iAttempt = 1;; ++iAttempt) {
    const bool bWasOpen = m_bOpen;
    CURLcode rc = Configure(pEasy, sUrlPath, request.lInactivityMs);
    EasyOptions options(pEasy);
    fnOptions(options);
    if (rc == CURLE_OK) rc = options.Result();
    if (rc != CURLE_OK) return Outcome{rc};
    const Outcome outcome = Transfer(request.lInactivityMs);
    if (iAttempt > 1 || !FoundConnectionDead(outcome, bWasOpen)) return outcome;
    // Servers end idle sessions (often with a 421 that waits unread until
    // the next command); the request did not start, so it may run again.
    Log("FTP connection " + std::to_string(m_lHandle) + ": the server had ended the session; request " +
        request.sRequestId + " goes over a new connection");
    fnRestart();
  }
}

bool FtpConnection::FoundConnectionDead(const Outcome& outcome, bool bWasOpen) const {
  if (outcome.rc == CURLE_OK || outcome.bCancelled || outcome.bTimedOut) return false;
  if (!bWasOpen || m_bOpen || m_bTransferStarted) return false;
  const int32_t lCode = ResultCode(outcome);
  return lCode == 421 || lCode < 0;
}

void FtpConnection::ExecuteDir(FtpRequest& request) {
  std::string sFolder = request.sPath;
  if (!sFolder.empty() && sFolder.back() != '/') sFolder += '/';
  const std::string sUrlPath = FtpUrlPath(sFolder);
  FtpListing listing;
  Outcome outcome;
  bool bListed = false;
  if (!m_bNoMlsd) {
    MlsdParser parser(listing);
    outcome = Perform(
        m_pEasy.get(), sUrlPath, request,
        [&](EasyOptions& options) {
          options.Set(CURLOPT_CUSTOMREQUEST, "MLSD")
              .Set(CURLOPT_WRITEFUNCTION, &OnMlsdData)
              .Set(CURLOPT_WRITEDATA, static_cast<void*>(&parser));
        },
        [&] {
          listing = FtpListing();
          parser.Reset();
        });
    if (outcome.bCancelled) return;
    const bool bRefused = outcome.rc != CURLE_OK && !outcome.bTimedOut &&
                          (outcome.lResponse == 500 || outcome.lResponse == 502);
    if (bRefused) {
      m_bNoMlsd = true;
      listing = FtpListing();
    } else {
      parser.Finish();
      bListed = true;
    }
  }
  if (!bListed) {
    outcome = Perform(
        m_pListEasy.get(), sUrlPath + "*", request,
        [&](EasyOptions& options) {
          options.Set(CURLOPT_WILDCARDMATCH, 1L)
              .Set(CURLOPT_CHUNK_BGN_FUNCTION, &OnListEntry)
              .Set(CURLOPT_CHUNK_DATA, static_cast<void*>(&listing))
              .Set(CURLOPT_WRITEFUNCTION, &OnDiscard);
        },
        [&] { listing = FtpListing(); });
    if (outcome.bCancelled) return;
    // libcurl reports a folder without entries as nothing matched; some
    // servers answer the listing of an empty folder with 450.
    if (outcome.rc == CURLE_REMOTE_FILE_NOT_FOUND && !outcome.bTimedOut &&
        (outcome.lResponse < 400 || outcome.lResponse == 450) && listing.asFolders.empty() &&
        listing.asFiles.empty())
      outcome.rc = CURLE_OK;
  }
  const int32_t lCode = ResultCode(outcome);
  if (lCode != 0) {
    LogFailure(request, outcome, lCode);
    listing = FtpListing();
  }
  if (request.pfnDir == nullptr) return;
  FtpDispatcher::Instance().PostCallback(
      m_lHandle, [lHandle = m_lHandle, lCode, pfn = request.pfnDir, lUser = request.lUserValue,
                  sId = std::move(request.sRequestId), listing = std::move(listing)] {
        std::vector<const char*> asFolders, asFiles;
        asFolders.reserve(listing.asFolders.size());
        asFiles.reserve(listing.asFiles.size());
        for (const std::string& s : listing.asFolders) asFolders.push_back(s.c_str());
        for (const std::string& s : listing.asFiles) asFiles.push_back(s.c_str());
        pfn(lHandle, lCode, sId.c_str(), lUser, static_cast<int32_t>(asFolders.size()), asFolders.data(),
            static_cast<int32_t>(asFiles.size()), asFiles.data());
      });
}

void FtpConnection::ExecuteGet(FtpRequest& request) {
  GetSink sink;
  sink.lMax = request.lMaxChunkSize;
  Outcome outcome;
  if (!NamesAFile(request.sPath)) {
    outcome.rc = CURLE_URL_MALFORMAT;
    std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "the path names no file");
  } else {
    outcome = Perform(
        m_pEasy.get(), FtpUrlPath(request.sPath), request,
        [&](EasyOptions& options) {
          options.Set(CURLOPT_WRITEFUNCTION, &OnGetData).Set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
        },
        [&] {
          sink.sData.clear();
          sink.bTruncated = false;
        });
    if (outcome.bCancelled) return;
  }
  bool bEndOfData = true;
  if (sink.bTruncated && outcome.rc == CURLE_WRITE_ERROR) {
    outcome.rc = CURLE_OK;
    bEndOfData = false;
  }
  const int32_t lCode = ResultCode(outcome);
  if (lCode != 0) {
    LogFailure(request, outcome, lCode);
    sink.sData.clear();
  }
  if (request.pfnGet == nullptr) return;
  FtpDispatcher::Instance().PostCallback(
      m_lHandle, [lHandle = m_lHandle, lCode, pfn = request.pfnGet, lUser = request.lUserValue,
                  sId = std::move(request.sRequestId), sData = std::move(sink.sData), bEndOfData] {
        pfn(lHandle, lCode, sId.c_str(), lUser, sData.size(), sData.data(), bEndOfData ? 1 : 0);
      });
}

FtpPutFile::~FtpPutFile() {
  if (iFd >= 0) ::close(iFd);
}

void FtpConnection::ExecutePut(FtpRequest& request) {
  Outcome outcome;
  if (!NamesAFile(request.sPath)) {
    outcome.rc = CURLE_URL_MALFORMAT;
    std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "the path names no file");
  } else {
    PutSource source{&request.sData, request.pFile.get()};
    const std::uint64_t lSize = request.pFile ? request.pFile->lSize : request.sData.size();
    outcome = Perform(
        m_pEasy.get(), FtpUrlPath(request.sPath), request,
        [&](EasyOptions& options) {
          options.Set(CURLOPT_UPLOAD, 1L)
              .Set(CURLOPT_READFUNCTION, &OnPutRead)
              .Set(CURLOPT_READDATA, static_cast<void*>(&source))
              .Set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(lSize));
        },
        [&] {
          source.lOffset = 0;
          source.iErrno = 0;
        });
    if (outcome.bCancelled) return;
    if (source.iErrno != 0 && outcome.rc != CURLE_OK) {
      outcome.rc = CURLE_READ_ERROR;
      std::snprintf(m_sErrorBuffer, sizeof m_sErrorBuffer, "cannot read the local file: %s",
                    std::strerror(source.iErrno));
    }
  }
  // The data has gone out or failed; it need not wait for the callback.
  std::string().swap(request.sData);
  request.pFile.reset();
  const int32_t lCode = ResultCode(outcome);
  if (lCode != 0) LogFailure(request, outcome, lCode);
  if (request.pfnPut == nullptr) return;
  FtpDispatcher::Instance().PostCallback(
      m_lHandle, [lHandle = m_lHandle, lCode, pfn = request.pfnPut, lUser = request.lUserValue,
                  sId = std::move(request.sRequestId)] { pfn(lHandle, lCode, sId.c_str(), lUser); });
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
      if (IsFinalReplyLine(self->m_sLastReply)) {
        self->m_lLastReplyCode = std::stol(self->m_sLastReply.substr(0, 3));
        // 125 and 150 open the data transfer.
        if (self->m_lLastReplyCode == 125 || self->m_lLastReplyCode == 150) self->m_bTransferStarted = true;
        if (self->m_lLastReplyCode == 230 && IsLoginCommand(self->m_sLastCommand)) self->NoteLogin();
      }
      self->NoteActivity();
      break;
    case CURLINFO_DATA_IN:
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
    iResult = ::close(s);
  }
  if (bControl) self->NoteControlClosed();
  return iResult;
}
