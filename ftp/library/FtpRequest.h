#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CurlHandles.h"
#include "EasyOptions.h"

// How one libcurl transfer ended.
struct FtpOutcome {
  CURLcode rc = CURLE_OK;
  bool bCancelled = false;
  bool bTimedOut = false;
  bool bTooSlow = false;         // timed out for moving less than the floor
  long lResponse = 0;            // the server's last reply code
  long lVerifyResult = 0;        // the X.509 verification result of a TLS handshake
  long long lExpectedSize = -1;  // the size the server announced for a get
  bool bUserCancelled = false;   // OrvFtpClientCancel ended the transfer
  // The last command sent and the last reply line, libcurl's error text.
  std::string sCommand;
  std::string sReply;
  std::string sCurlText;
  // Why the request failed, when it knows better than those.
  std::string sWhy;
};

// What a connection has learnt about its server, kept for its later
// requests.
struct FtpServerFacts {
  bool bNoMlsd = false;    // the server refused MLSD once
  bool bNoRename = false;  // the server refused to rename a file once
  // The server wants every data connection to resume the control
  // connection's TLS session, and honours each TLS 1.3 ticket once.
  bool bSessionReuseRequired = false;
  // The server refused to go on with a transfer from a byte other than the
  // first (REST or APPE refused) once; later ones start from byte 0.
  bool bNoResume = false;
  // The server tells a download's size in the reply that opens it
  // ("150 … (15233 bytes)"), and told the size SIZE gave: later gets need
  // no SIZE before their RETR.
  bool bSizeInOpening = false;
  // Temporary files of puts that broke off where they could not be removed
  // (the connection was gone), by absolute path; the next put removes them.
  std::vector<std::string> vsLeftTemporaries;
};

// The connection as a request kind sees it.
class FtpSession {
 public:
  FtpServerFacts facts;
  // Whether the connection speaks SFTP rather than FTP.
  virtual bool IsSftp() const = 0;
  // A log line about the running request ("FTP connection 1: request x: "
  // goes before the text).
  virtual void Note(const std::string& sText) = 0;
  // Whether the request runs once more, from Start, after it ends with
  // this outcome (a fault that may pass, tries left), as long as the kind's
  // MayRetry agrees.
  virtual bool WillTryAgain(const FtpOutcome& outcome) const = 0;

 protected:
  ~FtpSession() = default;
};

// One transfer that a request asks libcurl for. The connection sets its
// own options (address, log-in, TLS, limits) first, then fnOptions.
struct FtpTransfer {
  // The remote path, a folder ending with "/"; the connection makes the
  // URL of it.
  std::string sPath;
  std::function<void(EasyOptions&)> fnOptions;
  // Forgets what an attempt received, before the transfer runs once more
  // on a new connection.
  std::function<void()> fnRestart;
  // Called with the command and the server's final reply line, for every
  // reply of the transfer; may be empty.
  std::function<void(const std::string& sCommand, const std::string& sReply)> fnReply{};
  // Called with the data as it arrives over FTP, before libcurl turns the
  // line ends of a text transfer (a listing) into "\n", bare CRs included;
  // may be empty.
  std::function<void(const char* p, std::size_t n)> fnRawData{};
  // The bytes of the file that an earlier attempt moved and this transfer
  // goes on from; progress counts them as done.
  std::uint64_t lDoneBefore = 0;
  // Where the transfer keeps the size the server announced for it, when
  // libcurl is not asked for it; progress tells it as the total.
  const std::int64_t* plAnnounced = nullptr;
};

// What one kind of request does, run by the connection's single request
// path: the transfers it needs, how their outcomes are read, and the
// callback that answers it.
class FtpRequestKind {
 public:
  virtual ~FtpRequestKind() = default;

  // How the log names the request when it fails before anything was sent.
  virtual std::string Name() const = 0;
  // Readies the request before anything is sent; false, with the failure
  // filled in, when it cannot go out at all.
  virtual bool Prepare(const std::string& sPath, FtpOutcome& failure) = 0;
  // The first transfer; also when the whole request starts over after a
  // passing fault, so it forgets whatever an earlier attempt left.
  virtual FtpTransfer Start(const std::string& sPath, FtpSession& session) = 0;
  // Reads the outcome of the transfer that just ended and gives the next
  // one, or nothing when the request is complete. May set the outcome to
  // the one that stands for the whole request.
  virtual std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) = 0;
  // Whether a failure that may pass (a lost connection, a time-out, a
  // busy server) is worth trying again for this request.
  virtual bool MayRetry(const FtpOutcome&) const { return true; }
  // Whether the transfers move a file's data, whose progress is told.
  virtual bool MovesData() const { return false; }
  // Lets go of what need not wait for the callback (a put's data).
  virtual void Release() {}
  // The callback with the request's result, or an empty function when the
  // caller gave none. A request that failed (lCode != 0) answers with no
  // data.
  virtual std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                       intptr_t lUserValue) = 0;
};

// Whether sPath names a file (it does not end with "/") that can go into a
// command of its own (no line break); if not, the failure says why.
bool FtpCheckFilePath(const std::string& sPath, FtpOutcome& failure);

// A list of FTP commands for libcurl's QUOTE options, or null when memory
// runs out.
CurlSlistPtr FtpCommandList(std::initializer_list<std::string> asCommands);

// A remote path as an argument of an SFTP command (libcurl's QUOTE over
// SFTP): in double quotes, relative to the login folder unless it starts
// with "//".
std::string SftpCommandPath(const std::string& sPath);

struct FtpRequest {
  std::string sPath;
  std::string sRequestId;
  int32_t lInactivityMs = 0;
  intptr_t lUserValue = 0;
  std::unique_ptr<FtpRequestKind> pKind;
  // Cancelled while it waited: it answers as cancelled in its turn, and
  // nothing of it is done.
  bool bWithdrawn = false;
};
