#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LocalFileSource.h"
#include "OrvFtpLibrary.h"

// One FTP server connection as the main window uses it. Requests return at
// once; their outcome arrives later as DirEvent, PutEvent or GetEvent on the
// user-interface thread. Objects live in shared_ptrs (Create), so that the
// registry can hand a callback a counted reference to its owner.
class cOrvFtpClient : public std::enable_shared_from_this<cOrvFtpClient> {
 public:
  // The per-request inactivity limit in milliseconds.
  static constexpr long kInactivityMs = 10000;
  static constexpr long kMaxChunkSize = 1048576;

  static std::shared_ptr<cOrvFtpClient> Create();
  ~cOrvFtpClient();
  cOrvFtpClient(const cOrvFtpClient&) = delete;
  cOrvFtpClient& operator=(const cOrvFtpClient&) = delete;

  bool FtpConnect(const std::string& sIpAddress, const std::string& sTcpPort, const std::string& sUsr,
                  const std::string& sPwd, OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain);
  void FtpDir(const std::string& sFtpPath, const std::string& sRequestID);
  void FtpPut(const std::string& sData, const std::string& sFtpPath, const std::string& sRequestID);
  // Takes the content over, so a large file is not copied once more.
  // sTemporaryName, when not empty, is the name the data goes under before
  // it is renamed (OrvFtpClientTemporaryName), so that a later put of the
  // same file replaces what a broken one left.
  void FtpPut(std::string&& sData, const std::string& sFtpPath, const std::string& sRequestID,
              const std::string& sTemporaryName = "");
  // Puts an opened local file; what was not read at the opening is read
  // while it is sent.
  void FtpPut(LocalFileSource&& oFile, const std::string& sFtpPath, const std::string& sRequestID,
              const std::string& sTemporaryName = "");
  void FtpGet(const std::string& sFtpPath, const std::string& sRequestID);
  // A file of any size into sLocalPath, which is replaced only once the
  // whole file is there; GetFileEvent tells the outcome.
  void FtpGetFile(const std::string& sFtpPath, const std::string& sLocalPath, const std::string& sRequestID);
  // The remote commands, each answered by its own event.
  void FtpMkDir(const std::string& sFtpPath, const std::string& sRequestID);
  void FtpRename(const std::string& sFtpPath, const std::string& sNewName, const std::string& sRequestID);
  // A file, or the empty folder when sFtpPath ends with "/".
  void FtpDelete(const std::string& sFtpPath, const std::string& sRequestID);
  void FtpSize(const std::string& sFtpPath, const std::string& sRequestID);
  // Ends the running request, which then fails with -42; between two
  // requests, the next one as it starts.
  void FtpCancel();
  // The requests waiting behind the running one end unstarted, as cancelled.
  void FtpCancelWaiting();
  // ProgressEvent while gets and puts move data.
  void FtpWatchProgress(bool bWatch);
  // Why the request whose event runs, or ran last, failed: the server's
  // reply or the connection's fault; empty after a success.
  std::string FtpLastFailure() const;
  // SFTP: the server's host key after a connection refused it as unknown
  // ("ssh-ed25519 SHA256:..."), else empty; FtpTrustHostKey adds it to the
  // user's known_hosts (0 when done, else the library's error code).
  std::string FtpUnknownHostKey() const;
  long FtpTrustHostKey();
  // FTP: the folder the server put the user in at log-in ("/home/u");
  // empty before a log-in, over SFTP, or when the server did not say.
  std::string FtpLoginFolder() const;

  // While DirEvent runs: the size and time of each file of its listing, in
  // the order the files stand in it; empty for a listing without them.
  const std::vector<OrvFtpFileFacts>& FtpListedFileFacts() const { return m_vListedFileFacts; }

  // Called by the registry only.
  void FtpDirCallback(const std::string& sDirList, const std::string& sRequestID, long lErrCode,
                      std::vector<OrvFtpFileFacts> vFileFacts = {});
  void FtpPutCallback(const std::string& sRequestID, long lErrCode);
  void FtpGetCallback(const std::string& sData, const std::string& sRequestID, bool bEndOfData, long lErrCode);
  enum class Command { kMkDir = 1, kRename, kDelete, kSize, kGetFile };
  void FtpCommandCallback(Command eCommand, const std::string& sRequestID, long lErrCode, std::int64_t lValue);
  void FtpProgressCallback(const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal);
  void FtpRetryCallback(const std::string& sWhere, int iTry, int iTries);

  long Handle() const { return m_lHandle; }

  std::function<void(const std::string& sDirList, const std::string& sRequestID, long lErrCode)> DirEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> PutEvent;
  std::function<void(const std::string& sData, const std::string& sRequestID, bool bEndOfData, long lErrCode)> GetEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> GetFileEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> MkDirEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> RenameEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> DeleteEvent;
  std::function<void(const std::string& sRequestID, long lErrCode, std::int64_t lSize)> SizeEvent;
  std::function<void(const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal)> ProgressEvent;
  // The connection to sWhere ("host:port") could not be made and is tried
  // again: try iTry of iTries comes next.
  std::function<void(const std::string& sWhere, int iTry, int iTries)> RetryEvent;

 private:
  cOrvFtpClient() = default;

  long m_lHandle = 0;
  std::vector<OrvFtpFileFacts> m_vListedFileFacts;
  // The object's registry key (LibOrv_ObjToPtr), kept so that its
  // termination can find its entry once no counted reference to it can be
  // made any more.
  long m_lWref = 0;
};
