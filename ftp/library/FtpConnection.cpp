#include "FtpConnection.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "FtpDispatcher.h"
#include "FtpText.h"
#include "Waits.h"

namespace {

// Clears a pointer to something that lives only as long as the scope.
template <typename T>
struct ForgetOnExit {
  T*& p;
  ~ForgetOnExit() { p = nullptr; }
};
template <typename T>
ForgetOnExit(T*&) -> ForgetOnExit<T>;

// A polite QUIT at closing, but a server that does not answer must not hold
// up the end of the program.
constexpr int32_t kQuitWaitMs = 300;

// A request that fails for a reason that may pass is tried again after
// these waits.
constexpr std::chrono::seconds kRetryDelays[] = {std::chrono::seconds(1), std::chrono::seconds(2),
                                                 std::chrono::seconds(4)};

// Whether a result may be different a moment later: no connection, a
// connection lost or reset, a time-out, or a server that said it is busy
// or lost the data connection. Refusals that will not change (a login
// refused, a missing file, a full disk, TLS and certificate refusals) are
// final.
bool MayPass(int32_t lCode) {
  switch (lCode) {
    case 421:
    case 425:
    case 426:
    case 450:
    case 451:
    case -static_cast<int32_t>(CURLE_COULDNT_CONNECT):
    case -static_cast<int32_t>(CURLE_OPERATION_TIMEDOUT):
    case -static_cast<int32_t>(CURLE_GOT_NOTHING):
    case -static_cast<int32_t>(CURLE_SEND_ERROR):
    case -static_cast<int32_t>(CURLE_RECV_ERROR):
    case -static_cast<int32_t>(CURLE_PARTIAL_FILE): return true;
    default: return false;
  }
}

}  // namespace

FtpConnection::FtpConnection(int32_t lHandle, FtpServer server, Hooks hooks)
    : m_lHandle(lHandle), m_server(std::move(server)), m_hooks(std::move(hooks)) {}

FtpConnection::~FtpConnection() {
  Stop();
  Join();
}

bool FtpConnection::Open() {
  m_pShare.reset(curl_share_init());
  if (!m_pShare || !OpenHandles()) return false;
  // One worker uses the share, so it needs no lock functions.
  return curl_share_setopt(m_pShare.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
}

bool FtpConnection::OpenHandles() {
  CurlMultiPtr pMulti(curl_multi_init());
  m_pEasy.reset(curl_easy_init());
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pMulti = std::move(pMulti);
  }
  return m_pMulti && m_pEasy;
}

bool FtpConnection::Reopen() {
  CloseControlConnection(kQuitWaitMs);
  return OpenHandles();
}

void FtpConnection::Enqueue(FtpRequest request) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bStop) return;
    m_queue.push_back(std::move(request));
    if (!m_thread.joinable()) m_thread = std::thread(&FtpConnection::Run, this);
  }
  // Told once the lock is free: a worker woken while it is still held
  // would only wake to wait for it, a second sleep and wake-up for every
  // request. The caller's reference keeps the connection alive meanwhile.
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

void FtpConnection::CancelRunning() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bRequestRunning) {
    // Between two requests the cancel is for the one about to start.
    if (!m_queue.empty()) m_bCancelNext = true;
    return;
  }
  if (m_bExchange && m_eInterrupt == Interrupt::kNone) InterruptLocked(Interrupt::kCancelledByUser);
  else m_bCancelWaiting = true;
}

void FtpConnection::CancelWaiting() {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (FtpRequest& request : m_queue) request.bWithdrawn = true;
}

void FtpConnection::Join() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

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
      // Running from the moment it leaves the queue, so that a cancel
      // never falls between the two.
      m_bRequestRunning = true;
      m_bCancelWaiting = std::exchange(m_bCancelNext, false);
    }
    lLastLimitMs = request.lInactivityMs;
    Execute(request);
  }
  CloseControlConnection(std::min(lLastLimitMs, kQuitWaitMs));
  m_bFinished = true;
}

void FtpConnection::Execute(FtpRequest& request) {
  FtpRequestKind& kind = *request.pKind;
  m_pRequest = &request;
  const ForgetOnExit forget{m_pRequest};
  struct NotRunning {
    FtpConnection& self;
    ~NotRunning() {
      std::lock_guard<std::mutex> lock(self.m_mutex);
      self.m_bRequestRunning = false;
      self.m_bCancelWaiting = false;
    }
  } notRunning{*this};
  FtpOutcome outcome;
  bool bSent = false;
  if (request.bWithdrawn) {
    outcome.rc = CURLE_ABORTED_BY_CALLBACK;
    outcome.bUserCancelled = true;
    outcome.sWhy = "cancelled before it started";
  }
  // A request that cannot be prepared fails before anything goes out.
  if (!request.bWithdrawn && kind.Prepare(request.sPath, outcome)) {
    for (std::size_t lRetry = 0;; ++lRetry) {
      m_lRetry = lRetry;
      outcome = RunTransfers(request);
      if (outcome.bCancelled) return;
      bSent = true;
      if (WantsAFreshSession(outcome)) {
        // The ticket libcurl holds was used up by a data connection whose
        // new ticket it never read (an upload reads nothing); a new control
        // connection brings fresh ones.
        if (!facts.bSessionReuseRequired)
          Note("the server refused a data connection that did not resume the TLS session (" + outcome.sReply +
               "); the connection is opened anew whenever that happens");
        facts.bSessionReuseRequired = true;
        if (!Reopen()) {
          outcome.rc = CURLE_OUT_OF_MEMORY;
          outcome.sWhy = "no new connection could be prepared";
          break;
        }
        outcome = RunTransfers(request);
        if (outcome.bCancelled) return;
      }
      const int32_t lCode = ResultCode(outcome);
      if (lCode == 0 || lRetry == std::size(kRetryDelays) || !MayPass(lCode) || !kind.MayRetry(outcome)) break;
      const std::chrono::seconds delay = kRetryDelays[lRetry];
      LogFailure(request, outcome, lCode,
                 "; trying again in " + std::to_string(delay.count()) + " s (" + std::to_string(lRetry + 1) + " of " +
                     std::to_string(std::size(kRetryDelays)) + ")");
      if (!WaitBeforeRetry(delay)) return;
    }
  }
  // The data has gone out or failed; it need not wait for the callback.
  kind.Release();
  const int32_t lCode = ResultCode(outcome);
  std::string sFailure;
  if (lCode != 0) {
    // SFTP tells no commands; what the request was for stands in for them
    // once logged in.
    if (!bSent || (IsSftp() && m_bOpen && outcome.sCommand.empty()))
      outcome.sCommand = kind.Name() + " " + request.sPath;
    sFailure = LogFailure(request, outcome, lCode);
  }
  std::function<void()> fnAnswer = kind.Answer(m_lHandle, lCode, request.sRequestId, request.lUserValue);
  // The failure's reason is the handle's last one while the answer runs.
  FtpDispatcher::Instance().PostCallback(
      m_lHandle, [lHandle = m_lHandle, sFailure = std::move(sFailure), fnAnswer = std::move(fnAnswer)] {
        FtpDispatcher::Instance().SetLastFailure(lHandle, sFailure);
        if (fnAnswer) fnAnswer();
      });
}

FtpOutcome FtpConnection::RunTransfers(FtpRequest& request) {
  FtpRequestKind& kind = *request.pKind;
  FtpOutcome outcome;
  std::optional<FtpTransfer> transfer = kind.Start(request.sPath, *this);
  while (transfer) {
    outcome = Perform(*transfer, request);
    if (outcome.bCancelled) break;
    transfer = kind.Continue(outcome, *this);
  }
  return outcome;
}

bool FtpConnection::WantsAFreshSession(const FtpOutcome& outcome) const {
  const bool bTls = m_server.eSecurity == OrvFtpSecurity::kExplicitTls ||
                    m_server.eSecurity == OrvFtpSecurity::kImplicitTls;
  if (!bTls || outcome.bTimedOut) return false;
  // vsftpd says "522 SSL connection failed: session reuse required",
  // ProFTPD "425 Unable to build data connection: Operation not permitted".
  return outcome.lResponse == 522 || outcome.lResponse == 425;
}

bool FtpConnection::WillTryAgain(const FtpOutcome& outcome) const {
  return m_lRetry < std::size(kRetryDelays) && MayPass(ResultCode(outcome));
}

bool FtpConnection::WaitBeforeRetry(std::chrono::seconds delay) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return !m_wake.wait_for(lock, Waits_Scaled(delay), [this] { return m_bStop; });
}

std::string FtpConnection::UrlPath(const FtpTransfer& transfer) const {
  if (IsSftp()) return SftpUrlPath(transfer.sPath);
  return FtpUrlPath(transfer.sPath);
}

void FtpConnection::Note(const std::string& sText) {
  Log(FtpConnectionText(m_lHandle) + FtpRequestText(m_pRequest ? m_pRequest->sRequestId : std::string()) + ": " +
      sText);
}

void FtpConnection::CloseControlConnection(int32_t lLimitMs) {
  // Closing says QUIT on a live connection; lLimitMs bounds the wait for
  // its answer.
  CurlMultiPtr pMulti;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(lLimitMs);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    pMulti = std::move(m_pMulti);
    m_bExchange = true;
    m_eInterrupt = Interrupt::kNone;
    m_limit = std::chrono::milliseconds(lLimitMs);
    NoteActivity();
    StartFloorLocked(Clock::now());
  }
  if (m_hooks.fnDeadlineChanged) m_hooks.fnDeadlineChanged(deadline);
  m_pEasy.reset();
  pMulti.reset();
  EndExchange();
  NoteControlClosed();
}

int32_t FtpConnection::ResultCode(const FtpOutcome& outcome) const {
  if (outcome.rc == CURLE_OK) return 0;
  if (outcome.bTimedOut) return -static_cast<int32_t>(CURLE_OPERATION_TIMEDOUT);
  if (outcome.bUserCancelled) return -static_cast<int32_t>(CURLE_ABORTED_BY_CALLBACK);
  // The server answered AUTH TLS or PROT P with a refusal; what failed is
  // our demand for TLS, not the command the caller asked for.
  if (outcome.rc == CURLE_USE_SSL_FAILED) return -static_cast<int32_t>(CURLE_USE_SSL_FAILED);
  if (outcome.lResponse >= 400 && outcome.lResponse <= 999) return static_cast<int32_t>(outcome.lResponse);
  return -static_cast<int32_t>(outcome.rc);
}

std::string FtpConnection::LogFailure(const FtpRequest& request, const FtpOutcome& outcome, int32_t lCode,
                                      const std::string& sAfter) {
  const std::string sCommand = outcome.sCommand.empty() ? "connect to " + Where() : outcome.sCommand;
  std::string sWhy;
  const bool bServerSaidWhy = lCode == outcome.lResponse || outcome.rc == CURLE_USE_SSL_FAILED;
  if (outcome.bTooSlow)
    sWhy = "less than " + std::to_string(kFloorBytesPerSecond) + " bytes a second for " +
           std::to_string(kFloorWindow.count()) + " s";
  else if (outcome.bTimedOut) sWhy = "no reply and no data for " + std::to_string(request.lInactivityMs) + " ms";
  else if (outcome.bUserCancelled) sWhy = "cancelled";
  else if (!outcome.sWhy.empty()) sWhy = outcome.sWhy;
  else if (bServerSaidWhy && !outcome.sReply.empty()) sWhy = outcome.sReply;
  else if (!outcome.sCurlText.empty()) sWhy = outcome.sCurlText;
  else sWhy = curl_easy_strerror(outcome.rc);
  if (!outcome.bTimedOut && !IsSftp()) {
    const std::string sTls = TlsFailureText(outcome.rc, outcome.lVerifyResult, outcome.sCommand, sWhy);
    if (!sTls.empty()) sWhy = sTls + " (" + sWhy + ")";
  }
  Log(FtpConnectionText(m_lHandle) + FtpRequestText(request.sRequestId) + " failed with " + std::to_string(lCode) +
      ": " + sCommand + " -> " + sWhy + sAfter);
  return sCommand + " -> " + sWhy;
}

void FtpConnection::Log(const std::string& s) const {
  if (m_hooks.fnLog) m_hooks.fnLog(s);
}

std::string FtpConnection::SecurityText() const {
  switch (m_server.eSecurity) {
    case OrvFtpSecurity::kExplicitTls: return " with explicit TLS";
    case OrvFtpSecurity::kImplicitTls: return " with implicit TLS";
    case OrvFtpSecurity::kSftp: return " over SFTP";
    case OrvFtpSecurity::kPlain: break;
  }
  return {};
}

std::string FtpConnection::Where() const { return m_server.sUrlHost + ":" + std::to_string(m_server.iPort); }

FtpOutcome FtpConnection::Perform(const FtpTransfer& transfer, const FtpRequest& request) {
  CURL* pEasy = m_pEasy.get();
  m_pTransfer = &transfer;
  const ForgetOnExit forget{m_pTransfer};
  for (int iAttempt = 1;; ++iAttempt) {
    const bool bWasOpen = m_bOpen;
    CURLcode rc = Configure(pEasy, UrlPath(transfer), request.lInactivityMs);
    EasyOptions options(pEasy);
    transfer.fnOptions(options);
    if (rc == CURLE_OK) rc = options.Result();
    if (rc != CURLE_OK) {
      FtpOutcome failed;
      failed.rc = rc;
      return failed;
    }
    const FtpOutcome outcome = Transfer(request.lInactivityMs);
    if (iAttempt > 1 || !FoundConnectionDead(outcome, bWasOpen)) return outcome;
    // Servers end idle sessions (often with a 421 that waits unread until
    // the next command); the request did not start, so it may run again.
    Log(FtpConnectionText(m_lHandle) + "the server had ended the session; " + FtpRequestText(request.sRequestId) +
        " goes over a new connection");
    transfer.fnRestart();
  }
}

bool FtpConnection::FoundConnectionDead(const FtpOutcome& outcome, bool bWasOpen) const {
  if (outcome.rc == CURLE_OK || outcome.bCancelled || outcome.bTimedOut) return false;
  // Data that moved (SFTP tells of no transfer that starts) shows a
  // transfer that began; trying it again is for the retries, which go on
  // from where it broke off.
  if (!bWasOpen || m_bOpen || m_bTransferStarted || m_lCurlMoved.load() > 0) return false;
  const int32_t lCode = ResultCode(outcome);
  return lCode == 421 || lCode < 0;
}
