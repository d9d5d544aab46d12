#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "CurlHandles.h"
#include "FtpRequest.h"
#include "OrvFtpLibrary.h"

struct FtpServer {
  std::string sUrlHost;  // as it goes into a URL
  uint16_t iPort = 21;
  std::string sUser;
  std::string sPassword;
  OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain;
  // Certificate authorities trusted besides the system's; empty for none.
  std::string sCaFile;
  // SFTP: the user's known_hosts file and the key that logs in without a
  // password.
  std::string sKnownHosts;
  std::string sKeyFile;
};

// One connection handle: a worker thread that runs the handle's requests in
// order, each through the same path (Execute): the request's kind names its
// transfers, the connection runs them and answers with one callback. Its
// libcurl multi handle keeps the control connection open between requests.
//
// Locks, always taken in this order: the library's registry lock, then
// m_mutex (queue, stop flag, the running exchange), then m_socketMutex
// (the sockets libcurl opened). No lock is held while a callback, libcurl
// or the log hook runs, except that m_socketMutex is held around the
// socket calls of OnOpenSocket and OnCloseSocket, and both are held while
// the watchdog looks at the sockets' send queues and while the sockets
// kept to drain are closed.
class FtpConnection : private FtpSession {
 public:
  using Clock = std::chrono::steady_clock;
  struct Hooks {
    std::function<void(const std::string&)> fnLog;
    // Called with the deadline when a new inactivity deadline starts.
    std::function<void(Clock::time_point)> fnDeadlineChanged;
  };

  FtpConnection(int32_t lHandle, FtpServer server, Hooks hooks);
  ~FtpConnection();
  FtpConnection(const FtpConnection&) = delete;
  FtpConnection& operator=(const FtpConnection&) = delete;

  // False when libcurl cannot provide the handles.
  bool Open();
  void Enqueue(FtpRequest request);
  // Drops every request, abandons the running one and closes the connection;
  // no callback follows. Returns at once; Join waits for the thread.
  void Stop();
  void Join();
  bool Finished() const { return m_bFinished; }
  // Ends the running request, which answers as failed; between two
  // requests, the next one, as soon as it starts.
  void CancelRunning();
  // Every request waiting behind the running one answers as cancelled in
  // its turn, without being started.
  void CancelWaiting();
  void SetProgress(OrvFtpProgressCallback pfnProgress) { m_pfnProgress = pfnProgress; }
  // SFTP: the host key last refused because known_hosts did not hold it
  // (never one that changed), as SshKeyText gives it; empty for none.
  std::string UnknownHostKey();
  // Appends that key to the known_hosts file as ssh would; 0, -43 without
  // such a key, or -23 when the file cannot be written.
  int32_t TrustHostKey();
  // FTP: the folder the server put the user in at log-in, as its reply to
  // PWD named it; empty before a log-in, over SFTP, or when it did not say.
  std::string LoginFolder();

  // Abandons the running exchange when it has been idle for its limit: no
  // command, reply or data, and no byte of what libcurl has handed to the
  // kernel acknowledged by the server. Also when it has moved less than
  // kFloorBytesPerSecond on average over a whole kFloorWindow: a server
  // that sends a byte now and then, or answers a line at a time without
  // end, holds no request for ever. The next time this needs to be asked
  // again.
  Clock::time_point EnforceInactivity(Clock::time_point now);

  // The floor: 64 bytes a second over 60 s, far below any link that
  // carries an alarm (a 32 kbit/s uplink moves 4 KiB a second).
  static constexpr long long kFloorBytesPerSecond = 64;
  static constexpr std::chrono::seconds kFloorWindow{60};

 private:
  enum class Interrupt { kNone, kTimedOut, kTooSlow, kCancelled, kCancelledByUser, kWrongServer };

  void Run();
  // The one path every request takes.
  void Execute(FtpRequest& request);
  // The request's transfers, from its first to its last.
  FtpOutcome RunTransfers(FtpRequest& request);
  // Waits before a passing fault is tried again; false when the
  // connection is stopped meanwhile.
  bool WaitBeforeRetry(std::chrono::seconds delay);
  // Whether the outcome is a server's refusal of a data connection that
  // did not resume the TLS session.
  bool WantsAFreshSession(const FtpOutcome& outcome) const;
  // New libcurl handles (and so a new control connection), the old
  // connection closed; false when libcurl cannot provide them.
  bool OpenHandles();
  bool Reopen();
  void Note(const std::string& sText) override;
  bool WillTryAgain(const FtpOutcome& outcome) const override;
  bool IsSftp() const override { return m_server.eSecurity == OrvFtpSecurity::kSftp; }
  std::string UrlPath(const FtpTransfer& transfer) const;
  void CloseControlConnection(int32_t lLimitMs);

  // Prepares pEasy for the next transfer.
  CURLcode Configure(CURL* pEasy, const std::string& sUrlPath, int32_t lLimitMs);
  // Configures the transfer's handle, sets its own options and runs it;
  // once more on a new connection when the old one turns out to be dead
  // before the transfer began.
  FtpOutcome Perform(const FtpTransfer& transfer, const FtpRequest& request);
  bool FoundConnectionDead(const FtpOutcome& outcome, bool bWasOpen) const;
  FtpOutcome Transfer(int32_t lLimitMs);
  long ReplyCode() const;
  int32_t ResultCode(const FtpOutcome& outcome) const;
  // Logs why the request failed and returns that reason ("STOR /a -> ...").
  std::string LogFailure(const FtpRequest& request, const FtpOutcome& outcome, int32_t lCode,
                         const std::string& sAfter = {});
  void NoteLogin();
  void NoteControlClosed();
  void Log(const std::string& s) const;
  std::string Where() const;
  std::string SecurityText() const;

  void BeginExchange(int32_t lLimitMs);
  Interrupt EndExchange();
  void InterruptLocked(Interrupt eWhy);
  // Ends the running exchange: the server speaks the other protocol.
  void RefuseWrongServer(const std::string& sWhy);
  // SFTP: a handshake that has heard nothing of an SSH server for a while
  // looks at the server's greeting on a connection of its own, once.
  void ProbeSshGreeting();
  void NoteActivity();
  // Starts the floor's first window; caller holds m_mutex.
  void StartFloorLocked(Clock::time_point now);
  // Whether the bytes any socket still has to send changed since the last
  // look; closes draining sockets that have sent all. Caller holds both locks.
  bool SendQueuesMovedLocked(long long& lUnsent);
  void CloseDrainingLocked();

  static int OnHostKey(CURL*, const curl_khkey* pKnown, const curl_khkey* pFound, curl_khmatch eMatch, void* pSelf);
  void ReadSftpOutcome(FtpOutcome& outcome) const;
  static int OnProgress(void* pSelf, curl_off_t lDownTotal, curl_off_t lDownNow, curl_off_t lUpTotal,
                        curl_off_t lUpNow);
  static int OnDebug(CURL*, curl_infotype eType, char* p, std::size_t n, void* pSelf);
  static curl_socket_t OnOpenSocket(void* pSelf, curlsocktype ePurpose, struct curl_sockaddr* pAddress);
  static int OnCloseSocket(void* pSelf, curl_socket_t s);

  const int32_t m_lHandle;
  const FtpServer m_server;
  const Hooks m_hooks;

  // Sockets libcurl opened for this connection, so that an abandoned
  // exchange can be cut off even while libcurl waits inside a call.
  std::mutex m_socketMutex;
  std::set<curl_socket_t> m_sockets;
  bool m_bRefuseSockets = false;
  // The control connection's socket once logged in.
  curl_socket_t m_controlSocket = CURL_SOCKET_BAD;
  // Data sockets libcurl closed while the kernel still held bytes of
  // theirs to send (over a slow link, most of a file): their sending side
  // is shut, so that the end of the data follows the data, and they stay
  // open, so that the watchdog sees those bytes go, until they are gone or
  // the exchange ends. Only while an exchange runs that was not cut.
  std::set<curl_socket_t> m_draining;
  bool m_bMayDrain = false;
  // The bytes each open or draining socket had still to send when the
  // watchdog looked last.
  std::map<curl_socket_t, int> m_unsent;

  // The TLS session of the control connection, which every data
  // connection resumes (servers such as vsftpd insist on it), whichever
  // easy handle runs the transfer. Declared first: it outlives the handles.
  CurlSharePtr m_pShare;
  CurlMultiPtr m_pMulti;
  CurlEasyPtr m_pEasy;
  CURL* m_pActive = nullptr;                 // the handle of the running transfer
  const FtpTransfer* m_pTransfer = nullptr;  // the running transfer
  const FtpRequest* m_pRequest = nullptr;    // the running request
  char m_sErrorBuffer[CURL_ERROR_SIZE] = {};
  std::string m_hostKeyRefusal;  // why OnHostKey turned the server away
  // The host key OnHostKey refused as unknown: its text and its known_hosts
  // entry. Guarded by m_hostKeyMutex, a lock under which no other is taken.
  std::mutex m_hostKeyMutex;
  std::string m_sUnknownKeyText;
  std::string m_sUnknownKeyEntry;
  // Guarded by m_loginFolderMutex, under which no other lock is taken.
  std::mutex m_loginFolderMutex;
  std::string m_sLoginFolder;
  std::string m_sLastCommand;
  std::string m_sLastReply;
  long m_lLastReplyCode = 0;
  bool m_bTransferStarted = false;  // the server has opened the data transfer
  bool m_bSessionUsed = false;      // SFTP: the transfer ran on a logged-in session
  bool m_bOpen = false;             // a logged-in control connection is open

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<FtpRequest> m_queue;
  bool m_bStop = false;
  bool m_bExchange = false;  // an exchange with the server is running
  Interrupt m_eInterrupt = Interrupt::kNone;
  // Why the exchange ended as kWrongServer (FtpWrongServer.h).
  std::string m_sWrongServer;
  std::chrono::milliseconds m_limit{0};
  std::atomic<Clock::rep> m_lastActivity{0};

  bool m_bRequestRunning = false;
  std::size_t m_lRetry = 0;       // how often the running request was tried again
  bool m_bCancelWaiting = false;  // a cancel for the request's next exchange
  bool m_bCancelNext = false;     // a cancel for the request about to start

  std::atomic<OrvFtpProgressCallback> m_pfnProgress{nullptr};
  Clock::time_point m_lastProgress;
  std::uint64_t m_lToldDone = 0;  // the running transfer's figure last told
  bool m_bTellProgress = false;   // the running transfer's progress is told
  // The bytes libcurl has moved in the running exchange, up and down, as
  // its progress tells them; and the floor's window: its start and the
  // bytes that had reached their side by then (guarded by m_mutex).
  std::atomic<long long> m_lCurlMoved{0};
  Clock::time_point m_floorSince;
  long long m_lFloorBase = 0;

  std::thread m_thread;
  std::atomic<bool> m_bFinished{false};
};
