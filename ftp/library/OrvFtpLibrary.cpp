#include "OrvFtpLibrary.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FtpConnection.h"
#include "FtpCommandRequest.h"
#include "FtpDispatcher.h"
#include "FtpGetFileRequest.h"
#include "FtpGetRequest.h"
#include "FtpListRequest.h"
#include "FtpPutRequest.h"
#include "FtpText.h"
#include "LibOrv.h"

namespace {

constexpr int32_t kDefaultInactivityMs = 10000;

using Clock = FtpConnection::Clock;

// Cuts off exchanges that have been idle for their limit, also while
// libcurl waits inside a call on a worker thread.
class Watchdog {
 public:
  using Source = std::function<std::vector<std::shared_ptr<FtpConnection>>()>;
  explicit Watchdog(Source fnConnections) : m_fnConnections(std::move(fnConnections)) {
    m_thread = std::thread(&Watchdog::Run, this);
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bStop = true;
    }
    m_wake.notify_one();
    m_thread.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // A new deadline that comes after the next round needs no early round:
  // that round sees it, so the watchdog is not woken for every request.
  void Poke(Clock::time_point deadline) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_bWaiting && deadline >= m_nextRound) return;
      m_bPoked = true;
    }
    m_wake.notify_one();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bStop) {
      m_bPoked = false;
      lock.unlock();
      const Clock::time_point now = Clock::now();
      Clock::time_point next = now + std::chrono::seconds(1);
      for (const std::shared_ptr<FtpConnection>& pConnection : m_fnConnections())
        next = std::min(next, pConnection->EnforceInactivity(now));
      lock.lock();
      m_nextRound = next;
      m_bWaiting = true;
      m_wake.wait_until(lock, next, [this] { return m_bStop || m_bPoked; });
      m_bWaiting = false;
    }
  }

  Source m_fnConnections;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_bStop = false;
  bool m_bPoked = false;
  // While it waits, the time of its next round.
  bool m_bWaiting = false;
  Clock::time_point m_nextRound;
  std::thread m_thread;
};

// The library's state. Threads: the host's thread (requests, Pump), one
// worker per connection with requests, and the watchdog. Locks, always in
// this order: Library::mutex, then a connection's locks (FtpConnection.h)
// or the watchdog's, then FtpDispatcher's, which it never holds while it
// calls out.
struct Library {
  Library();
  // A process that ends without a shutdown still stops its threads before
  // the library's state goes away.
  ~Library();

  std::mutex mutex;
  bool bRunning = false;
  OrvFtpLogCallback pfnLog = nullptr;
  std::map<int32_t, std::shared_ptr<FtpConnection>> connections;
  // Closed connections whose threads are still finishing.
  std::vector<std::shared_ptr<FtpConnection>> closing;
  // Handles are never reused, so a late answer can never reach a newer
  // connection.
  int32_t lLastHandle = 0;
  std::unique_ptr<Watchdog> pWatchdog;
  bool bCurlReady = false;
};

Library& Lib() {
  static Library library;
  return library;
}

void StopEverything(Library& lib);

// The queue is made first so that it outlives the library's threads.
Library::Library() { FtpDispatcher::Instance(); }

Library::~Library() {
  // The host's notifier may already be gone at this point.
  FtpDispatcher::Instance().SetNotifier(nullptr);
  StopEverything(*this);
}

std::vector<std::shared_ptr<FtpConnection>> AllConnections(Library& lib) {
  std::lock_guard<std::mutex> lock(lib.mutex);
  std::vector<std::shared_ptr<FtpConnection>> all = lib.closing;
  for (const auto& [lHandle, pConnection] : lib.connections) all.push_back(pConnection);
  return all;
}

void PostLogLine(Library& lib, const std::string& s) {
  OrvFtpLogCallback pfnLog;
  {
    std::lock_guard<std::mutex> lock(lib.mutex);
    pfnLog = lib.pfnLog;
  }
  if (pfnLog == nullptr) return;
  FtpDispatcher::Instance().PostUnbound([pfnLog, s] { pfnLog(s.c_str()); });
}

void PokeWatchdog(Library& lib, Clock::time_point deadline) {
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (lib.pWatchdog) lib.pWatchdog->Poke(deadline);
}

// Joins the threads of closed connections that have finished. Caller holds
// the library's lock.
void ReapClosedLocked(Library& lib) {
  std::erase_if(lib.closing, [](const std::shared_ptr<FtpConnection>& pConnection) {
    if (!pConnection->Finished()) return false;
    pConnection->Join();
    return true;
  });
}

std::string Text(const char* s) { return s == nullptr ? std::string() : std::string(s); }

int32_t Limit(int32_t lInactivityMs) { return lInactivityMs > 0 ? lInactivityMs : kDefaultInactivityMs; }

std::shared_ptr<FtpConnection> Find(int32_t lHandle) {
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  auto it = lib.connections.find(lHandle);
  return it == lib.connections.end() ? nullptr : it->second;
}

// Hands the request to its connection, or answers it at once (through the
// queue, never inside this call) when the handle names no connection.
void Submit(int32_t lHandle, FtpRequest request) {
  Library& lib = Lib();
  if (std::shared_ptr<FtpConnection> pConnection = Find(lHandle)) {
    pConnection->Enqueue(std::move(request));
    return;
  }
  const int32_t lCode = -static_cast<int32_t>(CURLE_BAD_FUNCTION_ARGUMENT);
  PostLogLine(lib, FtpConnectionText(lHandle) + FtpRequestText(request.sRequestId) +
                       " failed with " + std::to_string(lCode) + ": no such connection");
  request.pKind->Release();
  if (std::function<void()> fnAnswer =
          request.pKind->Answer(lHandle, lCode, request.sRequestId, request.lUserValue))
    FtpDispatcher::Instance().PostUnbound(std::move(fnAnswer));
}

}  // namespace

// The codes the header names are minus libcurl's own.
static_assert(OrvFtpResult::kMalformed == -CURLE_URL_MALFORMAT);
static_assert(OrvFtpResult::kCannotConnect == -CURLE_COULDNT_CONNECT);
static_assert(OrvFtpResult::kShortFile == -CURLE_PARTIAL_FILE);
static_assert(OrvFtpResult::kLocalWriteError == -CURLE_WRITE_ERROR);
static_assert(OrvFtpResult::kLocalReadError == -CURLE_READ_ERROR);
static_assert(OrvFtpResult::kTimedOut == -CURLE_OPERATION_TIMEDOUT);
static_assert(OrvFtpResult::kCancelled == -CURLE_ABORTED_BY_CALLBACK);
static_assert(OrvFtpResult::kNoConnection == -CURLE_BAD_FUNCTION_ARGUMENT);
static_assert(OrvFtpResult::kPeerNotVerified == -CURLE_PEER_FAILED_VERIFICATION);
static_assert(OrvFtpResult::kTooLarge == -CURLE_FILESIZE_EXCEEDED);
static_assert(OrvFtpResult::kTlsRefused == -CURLE_USE_SSL_FAILED);
static_assert(OrvFtpResult::kCaFileUnreadable == -CURLE_SSL_CACERT_BADFILE);

void OrvFtpClientInit(OrvFtpLogCallback pfnLog) {
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  lib.pfnLog = pfnLog;
  if (lib.bRunning) return;
  if (!lib.bCurlReady) {
    // Stays initialised for the life of the process: libcurl's global
    // set-up is not safe to repeat while other threads may use libcurl.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    lib.bCurlReady = true;
  }
  lib.pWatchdog = std::make_unique<Watchdog>([&lib] { return AllConnections(lib); });
  lib.bRunning = true;
}

void OrvFtpClientShutdown() { StopEverything(Lib()); }

namespace {

void StopEverything(Library& lib) {
  std::vector<std::shared_ptr<FtpConnection>> stopping;
  std::unique_ptr<Watchdog> pWatchdog;
  {
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.bRunning = false;
    // They stay in sight of the watchdog, which bounds their goodbye to
    // the server.
    for (auto& [lHandle, pConnection] : lib.connections) {
      FtpDispatcher::Instance().CloseConnection(lHandle);
      lib.closing.push_back(std::move(pConnection));
    }
    lib.connections.clear();
    stopping = lib.closing;
  }
  for (const auto& pConnection : stopping) pConnection->Stop();
  for (const auto& pConnection : stopping) pConnection->Join();
  stopping.clear();
  {
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.closing.clear();
    pWatchdog = std::move(lib.pWatchdog);
    lib.pfnLog = nullptr;
  }
  pWatchdog.reset();
  FtpDispatcher::Instance().Clear();
}

}  // namespace

int32_t OrvFtpClientCreate(const char* sHost, int16_t iPort, const char* sUser, const char* sPassword) {
  return OrvFtpClientCreateSecure(sHost, iPort, sUser, sPassword, OrvFtpSecurity::kPlain);
}

int32_t OrvFtpClientCreateSecure(const char* sHost, int16_t iPort, const char* sUser, const char* sPassword,
                                 OrvFtpSecurity eSecurity) {
  const uint16_t iUnsignedPort = static_cast<uint16_t>(iPort);
  if (iUnsignedPort == 0 || LibOrv_HasLineBreak(Text(sUser)) || LibOrv_HasLineBreak(Text(sPassword))) return 0;
  if (eSecurity != OrvFtpSecurity::kPlain && eSecurity != OrvFtpSecurity::kExplicitTls &&
      eSecurity != OrvFtpSecurity::kImplicitTls && eSecurity != OrvFtpSecurity::kSftp)
    return 0;
  std::optional<std::string> sUrlHost = FtpUrlHost(Text(sHost));
  if (!sUrlHost) return 0;
  FtpServer server{*sUrlHost, iUnsignedPort, Text(sUser), Text(sPassword), eSecurity, {}, {}, {}};
  if (eSecurity == OrvFtpSecurity::kSftp) {
    const std::string sSsh = Text(std::getenv("HOME")) + "/.ssh/";
    server.sKnownHosts = sSsh + "known_hosts";
    // The keys ssh tries, in its order; the first that exists logs in.
    for (const char* sName : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
      if (::access((sSsh + sName).c_str(), R_OK) != 0) continue;
      server.sKeyFile = sSsh + sName;
      break;
    }
  } else if (eSecurity != OrvFtpSecurity::kPlain) {
    server.sCaFile = Text(std::getenv("ORV_FTP_CA_FILE"));
  }

  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (!lib.bRunning) return 0;
  ReapClosedLocked(lib);
  const int32_t lHandle = lib.lLastHandle + 1;
  FtpConnection::Hooks hooks{[&lib](const std::string& sLine) { PostLogLine(lib, sLine); },
                             [&lib](Clock::time_point deadline) { PokeWatchdog(lib, deadline); }};
  auto pConnection = std::make_shared<FtpConnection>(lHandle, std::move(server), std::move(hooks));
  if (!pConnection->Open()) return 0;
  lib.lLastHandle = lHandle;
  lib.connections.emplace(lHandle, std::move(pConnection));
  return lHandle;
}

// The parts every request has, copied from the caller's texts.
static void Submit(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                   intptr_t lUserValue, std::unique_ptr<FtpRequestKind> pKind) {
  FtpRequest request;
  request.sPath = Text(sPath);
  request.sRequestId = Text(sRequestId);
  request.lInactivityMs = Limit(lInactivityMs);
  request.lUserValue = lUserValue;
  request.pKind = std::move(pKind);
  Submit(lHandle, std::move(request));
}

void OrvFtpClientDirReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                        OrvFtpDirCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue, std::make_unique<FtpListRequest>(pfnCallback));
}

void OrvFtpClientDirFactsReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                             OrvFtpDirFactsCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue, std::make_unique<FtpListRequest>(pfnCallback));
}

void OrvFtpClientGetReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                        std::size_t lMaxChunkSize, OrvFtpGetCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpGetRequest>(lMaxChunkSize, pfnCallback));
}

void OrvFtpClientPutReq(int32_t lHandle, const char* sPath, const char* sRequestId, std::size_t lDataLength,
                        const void* pData, int32_t lInactivityMs, OrvFtpPutCallback pfnCallback,
                        intptr_t lUserValue) {
  std::string sData;
  if (lDataLength > 0) sData.assign(static_cast<const char*>(pData), lDataLength);
  OrvFtpClientPutReqMove(lHandle, sPath, sRequestId, std::move(sData), lInactivityMs, pfnCallback, lUserValue);
}

void OrvFtpClientPutReqMove(int32_t lHandle, const char* sPath, const char* sRequestId, std::string&& sData,
                            int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue) {
  OrvFtpClientPutFileReq(lHandle, sPath, sRequestId, std::move(sData), -1, 0, lInactivityMs, pfnCallback,
                         lUserValue);
}

void OrvFtpClientPutFileReq(int32_t lHandle, const char* sPath, const char* sRequestId, std::string&& sHead,
                            int iFd, std::uint64_t lSize, int32_t lInactivityMs, OrvFtpPutCallback pfnCallback,
                            intptr_t lUserValue) {
  OrvFtpClientPutFileReqAs(lHandle, sPath, "", sRequestId, std::move(sHead), iFd, lSize, lInactivityMs,
                           pfnCallback, lUserValue);
}

std::string OrvFtpClientTemporaryName(const std::string& sName) { return FtpPutRequest::NewTemporaryName(sName); }

void OrvFtpClientPutFileReqAs(int32_t lHandle, const char* sPath, const char* sTemporaryName,
                              const char* sRequestId, std::string&& sHead, int iFd, std::uint64_t lSize,
                              int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue) {
  std::unique_ptr<FtpPutFile> pFile;
  if (iFd >= 0) pFile = std::make_unique<FtpPutFile>(iFd, std::max<std::uint64_t>(lSize, sHead.size()));
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpPutRequest>(std::move(sHead), std::move(pFile), pfnCallback,
                                         sTemporaryName ? sTemporaryName : ""));
}

void OrvFtpClientMkDirReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                          OrvFtpCmdCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpCommandRequest>(FtpCommandRequest::Command::kMakeFolder, "", pfnCallback));
}

void OrvFtpClientRenameReq(int32_t lHandle, const char* sPath, const char* sNewName, const char* sRequestId,
                           int32_t lInactivityMs, OrvFtpCmdCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpCommandRequest>(FtpCommandRequest::Command::kRename, Text(sNewName), pfnCallback));
}

void OrvFtpClientDeleteReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                           OrvFtpCmdCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpCommandRequest>(FtpCommandRequest::Command::kDelete, "", pfnCallback));
}

void OrvFtpClientSizeReq(int32_t lHandle, const char* sPath, const char* sRequestId, int32_t lInactivityMs,
                         OrvFtpCmdCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpCommandRequest>(FtpCommandRequest::Command::kSize, "", pfnCallback));
}

void OrvFtpClientGetFileReq(int32_t lHandle, const char* sPath, const char* sLocalPath, const char* sRequestId,
                            int32_t lInactivityMs, OrvFtpPutCallback pfnCallback, intptr_t lUserValue) {
  Submit(lHandle, sPath, sRequestId, lInactivityMs, lUserValue,
         std::make_unique<FtpGetFileRequest>(Text(sLocalPath), pfnCallback));
}

void OrvFtpClientSetProgress(int32_t lHandle, OrvFtpProgressCallback pfnProgress) {
  if (std::shared_ptr<FtpConnection> pConnection = Find(lHandle)) pConnection->SetProgress(pfnProgress);
}

std::string OrvFtpClientLastFailure(int32_t lHandle) { return FtpDispatcher::Instance().LastFailure(lHandle); }

std::string OrvFtpClientUnknownHostKey(int32_t lHandle) {
  std::shared_ptr<FtpConnection> pConnection = Find(lHandle);
  return pConnection ? pConnection->UnknownHostKey() : std::string();
}

std::string OrvFtpClientLoginFolder(int32_t lHandle) {
  std::shared_ptr<FtpConnection> pConnection = Find(lHandle);
  return pConnection ? pConnection->LoginFolder() : std::string();
}

int32_t OrvFtpClientTrustHostKey(int32_t lHandle) {
  std::shared_ptr<FtpConnection> pConnection = Find(lHandle);
  if (!pConnection) return -static_cast<int32_t>(CURLE_BAD_FUNCTION_ARGUMENT);
  return pConnection->TrustHostKey();
}

void OrvFtpClientCancel(int32_t lHandle) {
  if (std::shared_ptr<FtpConnection> pConnection = Find(lHandle)) pConnection->CancelRunning();
}

void OrvFtpClientCancelWaiting(int32_t lHandle) {
  if (std::shared_ptr<FtpConnection> pConnection = Find(lHandle)) pConnection->CancelWaiting();
}

void OrvFtpClientClose(int32_t lHandle, int32_t) {
  std::shared_ptr<FtpConnection> pConnection;
  {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    auto it = lib.connections.find(lHandle);
    if (it == lib.connections.end()) return;
    pConnection = it->second;
    lib.connections.erase(it);
    lib.closing.push_back(pConnection);
    ReapClosedLocked(lib);
  }
  // Refuse the connection's answers first, so that none slips through
  // between the stop and the purge of the queue.
  FtpDispatcher::Instance().CloseConnection(lHandle);
  pConnection->Stop();
}

void GetStringFromPointer(const char* sSource, char* sDestination, std::size_t lBufferSize) {
  if (sDestination == nullptr || lBufferSize == 0) return;
  std::size_t n = 0;
  if (sSource != nullptr) {
    n = ::strnlen(sSource, lBufferSize - 1);
    std::memcpy(sDestination, sSource, n);
  }
  sDestination[n] = '\0';
}

void OrvFtpClientSetNotifier(std::function<void()> fnNotify) {
  FtpDispatcher::Instance().SetNotifier(std::move(fnNotify));
}

void OrvFtpClientPump() { FtpDispatcher::Instance().Pump(); }
