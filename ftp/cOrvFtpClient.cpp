#include "cOrvFtpClient.h"

#include "AppChannel.h"
#include "LibOrv.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"

std::shared_ptr<cOrvFtpClient> cOrvFtpClient::Create() {
  std::shared_ptr<cOrvFtpClient> o(new cOrvFtpClient());
  o->m_lWref = LibOrv_ObjToPtr(o);
  return o;
}

cOrvFtpClient::~cOrvFtpClient() {
  FTP_UnsubscribeWref(m_lWref);
  m_lHandle = 0;
}

bool cOrvFtpClient::FtpConnect(const std::string& sIpAddress, const std::string& sTcpPort, const std::string& sUsr,
                               const std::string& sPwd, OrvFtpSecurity eSecurity) {
  m_lHandle = FTP_Subscribe(shared_from_this(), sIpAddress, sTcpPort, sUsr, sPwd, eSecurity);
  if (m_lHandle != 0) {
    if (AppChannel* pApp = OrvApp())
      pApp->Log("ZEMO -> FTP: OrvFtpClientCreate FtpHandle=" + std::to_string(m_lHandle), 24);
    return true;
  }
  if (AppChannel* pApp = OrvApp()) pApp->Msg(1, "OrvFtpClient", "Konnte FTP-Client nicht anmelden!");
  return false;
}

void cOrvFtpClient::FtpDir(const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientDirFactsReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), kInactivityMs,
                          FTP_DirFactsCallback, 0);
}

void cOrvFtpClient::FtpPut(const std::string& sData, const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientPutReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), sData.size(), sData.data(),
                     kInactivityMs, FTP_PutCallback, 0);
}

void cOrvFtpClient::FtpPut(std::string&& sData, const std::string& sFtpPath, const std::string& sRequestID,
                           const std::string& sTemporaryName) {
  OrvFtpClientPutFileReqAs(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sTemporaryName.c_str(),
                           sRequestID.c_str(), std::move(sData), -1, 0, kInactivityMs, FTP_PutCallback, 0);
}

void cOrvFtpClient::FtpPut(LocalFileSource&& oFile, const std::string& sFtpPath, const std::string& sRequestID,
                           const std::string& sTemporaryName) {
  const std::uint64_t lSize = oFile.Size();
  std::string sHead = oFile.TakeHead();
  const int iFd = oFile.ReleaseDescriptor();
  OrvFtpClientPutFileReqAs(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sTemporaryName.c_str(),
                           sRequestID.c_str(), std::move(sHead), iFd, lSize, kInactivityMs, FTP_PutCallback, 0);
}

void cOrvFtpClient::FtpGet(const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientGetReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), kInactivityMs,
                     kMaxChunkSize, FTP_GetCallback, 0);
}

void cOrvFtpClient::FtpGetFile(const std::string& sFtpPath, const std::string& sLocalPath,
                               const std::string& sRequestID) {
  OrvFtpClientGetFileReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sLocalPath.c_str(), sRequestID.c_str(),
                         kInactivityMs, FTP_GetFileCallback, static_cast<intptr_t>(Command::kGetFile));
}

void cOrvFtpClient::FtpMkDir(const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientMkDirReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), kInactivityMs,
                       FTP_CommandCallback, static_cast<intptr_t>(Command::kMkDir));
}

void cOrvFtpClient::FtpRename(const std::string& sFtpPath, const std::string& sNewName, const std::string& sRequestID) {
  OrvFtpClientRenameReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sNewName.c_str(), sRequestID.c_str(),
                        kInactivityMs, FTP_CommandCallback, static_cast<intptr_t>(Command::kRename));
}

void cOrvFtpClient::FtpDelete(const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientDeleteReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), kInactivityMs,
                        FTP_CommandCallback, static_cast<intptr_t>(Command::kDelete));
}

void cOrvFtpClient::FtpSize(const std::string& sFtpPath, const std::string& sRequestID) {
  OrvFtpClientSizeReq(static_cast<int32_t>(m_lHandle), sFtpPath.c_str(), sRequestID.c_str(), kInactivityMs,
                      FTP_CommandCallback, static_cast<intptr_t>(Command::kSize));
}

void cOrvFtpClient::FtpCancel() { OrvFtpClientCancel(static_cast<int32_t>(m_lHandle)); }

void cOrvFtpClient::FtpCancelWaiting() { OrvFtpClientCancelWaiting(static_cast<int32_t>(m_lHandle)); }

void cOrvFtpClient::FtpWatchProgress(bool bWatch) {
  OrvFtpClientSetProgress(static_cast<int32_t>(m_lHandle), bWatch ? FTP_ProgressCallback : nullptr);
}

std::string cOrvFtpClient::FtpLastFailure() const {
  return m_lHandle == 0 ? std::string() : OrvFtpClientLastFailure(static_cast<int32_t>(m_lHandle));
}

std::string cOrvFtpClient::FtpUnknownHostKey() const {
  return m_lHandle == 0 ? std::string() : OrvFtpClientUnknownHostKey(static_cast<int32_t>(m_lHandle));
}

std::string cOrvFtpClient::FtpLoginFolder() const {
  return m_lHandle == 0 ? std::string() : OrvFtpClientLoginFolder(static_cast<int32_t>(m_lHandle));
}

long cOrvFtpClient::FtpTrustHostKey() { return OrvFtpClientTrustHostKey(static_cast<int32_t>(m_lHandle)); }

// An event handler may reassign the event it runs in; it runs from a copy so
// that reassignment does not destroy the running handler.
void cOrvFtpClient::FtpDirCallback(const std::string& sDirList, const std::string& sRequestID, long lErrCode,
                                   std::vector<OrvFtpFileFacts> vFileFacts) {
  m_vListedFileFacts = std::move(vFileFacts);
  auto event = DirEvent;
  if (event) event(sDirList, sRequestID, lErrCode);
  m_vListedFileFacts.clear();
}

void cOrvFtpClient::FtpPutCallback(const std::string& sRequestID, long lErrCode) {
  auto event = PutEvent;
  if (event) event(sRequestID, lErrCode);
}

void cOrvFtpClient::FtpGetCallback(const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                   long lErrCode) {
  auto event = GetEvent;
  if (event) event(sData, sRequestID, bEndOfData, lErrCode);
}

void cOrvFtpClient::FtpCommandCallback(Command eCommand, const std::string& sRequestID, long lErrCode,
                                       std::int64_t lValue) {
  switch (eCommand) {
    case Command::kGetFile: {
      auto event = GetFileEvent;
      if (event) event(sRequestID, lErrCode);
      break;
    }
    case Command::kMkDir: {
      auto event = MkDirEvent;
      if (event) event(sRequestID, lErrCode);
      break;
    }
    case Command::kRename: {
      auto event = RenameEvent;
      if (event) event(sRequestID, lErrCode);
      break;
    }
    case Command::kDelete: {
      auto event = DeleteEvent;
      if (event) event(sRequestID, lErrCode);
      break;
    }
    case Command::kSize: {
      auto event = SizeEvent;
      if (event) event(sRequestID, lErrCode, lValue);
      break;
    }
  }
}

void cOrvFtpClient::FtpProgressCallback(const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal) {
  auto event = ProgressEvent;
  if (event) event(sRequestID, lDone, lTotal);
}

void cOrvFtpClient::FtpRetryCallback(const std::string& sWhere, int iTry, int iTries) {
  auto event = RetryEvent;
  if (event) event(sWhere, iTry, iTries);
}
