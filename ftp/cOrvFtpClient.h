#pragma once

#include <functional>
#include <memory>
#include <string>

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
  void FtpPut(std::string&& sData, const std::string& sFtpPath, const std::string& sRequestID);
  // Puts an opened local file; what was not read at the opening is read
  // while it is sent.
  void FtpPut(LocalFileSource&& oFile, const std::string& sFtpPath, const std::string& sRequestID);
  void FtpGet(const std::string& sFtpPath, const std::string& sRequestID);

  // Called by the registry only.
  void FtpDirCallback(const std::string& sDirList, const std::string& sRequestID, long lErrCode);
  void FtpPutCallback(const std::string& sRequestID, long lErrCode);
  void FtpGetCallback(const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                      long lErrCode);

  long Handle() const { return m_lHandle; }

  std::function<void(const std::string& sDirList, const std::string& sRequestID, long lErrCode)> DirEvent;
  std::function<void(const std::string& sRequestID, long lErrCode)> PutEvent;
  std::function<void(const std::string& sData, const std::string& sRequestID, bool bEndOfData, long lErrCode)>
      GetEvent;

 private:
  cOrvFtpClient() = default;

  long m_lHandle = 0;
  // The object's registry key (LibOrv_ObjToPtr), kept so that its
  // termination can find its entry once no counted reference to it can be
  // made any more.
  long m_lWref = 0;
};
