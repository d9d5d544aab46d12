// GCC 12 with the sanitizers warns that libstdc++'s regex compiler moves a
// std::function it has not yet set (-Wmaybe-uninitialized, in the
// library's regex_automaton.h and std_function.h): a false positive inside
// the library's headers, which this file's std::regex instantiates. It is
// silenced for the headers only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "OrvFtpClient.h"

#include <algorithm>
#include <cstring>
#include <regex>

#include "AppChannel.h"
#include "LibOrv.h"
#include "OrvError.h"
#include "OrvFtpLibrary.h"
#include "cOrvFtpClient.h"
#pragma GCC diagnostic pop

namespace {

constexpr long kLogRegistry = 1;
constexpr long kLogFtp = 24;
constexpr std::size_t kTextBufferSize = 65536;

std::vector<tSubscriber> Subscribers;
bool bFtpInitialized = false;

void LogLine(const std::string& s, long eTyp) {
  if (AppChannel* pApp = OrvApp()) pApp->Log(s, eTyp);
}

bool AppIsRunning() {
  AppChannel* pApp = OrvApp();
  return pApp != nullptr && pApp->Status() == 1;
}

// The library's texts are only valid during its callback; copy them through
// a text buffer of fixed size, as every library text is.
class TextCopier {
 public:
  TextCopier() : m_sBuffer(kTextBufferSize, '\0') {}
  std::string Copy(const char* p) {
    GetStringFromPointer(p, m_sBuffer.data(), m_sBuffer.size());
    return LibOrv_CutAtNull(m_sBuffer);
  }

 private:
  std::string m_sBuffer;
};

// A numeric port text as the library's 16-bit port; 0, which the library
// refuses, for anything that is no TCP port.
int16_t PortForLibrary(const std::string& sTcpPort) {
  long lPort = 0;
  try {
    lPort = LibOrv_String2Long(sTcpPort);
  } catch (const OrvError&) {
    return 0;
  }
  if (lPort < 1 || lPort > 65535) return 0;
  return static_cast<int16_t>(static_cast<uint16_t>(lPort));
}

void ReportPortText(const std::string& sIpAddress, const std::string& sProblem, const std::string& sTcpPort) {
  if (AppChannel* pApp = OrvApp()) pApp->Msg(1, "FTP-Client", "Connect to " + sIpAddress + sProblem + sTcpPort);
}

void LogUndeliverable(const std::string& sEvent, int32_t lHandle) {
  LogLine("FTP-" + sEvent + "-Event mit dem Handle " + std::to_string(lHandle) +
              " konnte nicht zugestellt werden, weil kein FTP-Objekt" + " f\xC3\xBCr dieses Handle registriert ist.",
          kLogRegistry);
}

// Hands a callback to the object that owns lHandle. The counted reference
// keeps the object alive for the whole call, even when the call releases or
// re-registers it; the registry is not read again afterwards.
template <typename Call>
bool Deliver(int32_t lHandle, Call call) {
  auto it = std::find_if(Subscribers.begin(), Subscribers.end(),
                         [lHandle](const tSubscriber& e) { return e.lHandle == lHandle; });
  if (it == Subscribers.end()) return false;
  std::shared_ptr<cOrvFtpClient> oClient = LibOrv_PtrToObj<cOrvFtpClient>(it->lWref);
  if (!oClient) return false;
  call(*oClient);
  return true;
}

}  // namespace

void FTP_Init() {
  OrvFtpClientInit(FTP_LogCallback);
  bFtpInitialized = true;
}

void FTP_Shutdown() {
  bFtpInitialized = false;
  OrvFtpClientShutdown();
}

long FTP_Subscribe(const std::shared_ptr<cOrvFtpClient>& oClient, const std::string& sIpAddress,
                   const std::string& sTcpPort, const std::string& sUsr, const std::string& sPwd,
                   OrvFtpSecurity eSecurity) {
  if (sTcpPort.size() > 5) {
    ReportPortText(sIpAddress, ": TCP-Port-Eintrag ist zu lang: ", sTcpPort);
    return 0;
  }
  if (!LibOrv_IsNumeric(sTcpPort)) {
    ReportPortText(sIpAddress, ": TCP-Port-Eintrag ist nicht numerisch: ", sTcpPort);
    return 0;
  }
  const int16_t iPort = PortForLibrary(sTcpPort);
  if (!bFtpInitialized) FTP_Init();
  FTP_Unsubscribe(oClient);

  const int32_t lHandle = OrvFtpClientCreateSecure(sIpAddress.c_str(), iPort, sUsr.c_str(), sPwd.c_str(), eSecurity);
  if (lHandle == 0) return 0;

  const long lWref = LibOrv_ObjToPtr(oClient);
  if (lWref == 0) {
    // Nobody could ever receive this connection's results.
    OrvFtpClientClose(lHandle, -1);
    LogLine("FTP_Subscribe: lWref = 0", kLogRegistry);
    return 0;
  }
  LogLine("FTP_Subscribe " + std::to_string(lHandle) + " (" + std::to_string(lWref) +
              "): SubscriberCnt=" + std::to_string(Subscribers.size()),
          kLogFtp);
  Subscribers.push_back({lWref, lHandle});
  return lHandle;
}

void FTP_Unsubscribe(const std::shared_ptr<cOrvFtpClient>& oClient) {
  if (!oClient) return;
  FTP_UnsubscribeWref(LibOrv_ObjToPtr(oClient));
}

void FTP_UnsubscribeWref(long lWref) {
  if (lWref == 0) return;
  auto it = std::find_if(Subscribers.begin(), Subscribers.end(),
                         [lWref](const tSubscriber& e) { return e.lWref == lWref; });
  if (it == Subscribers.end()) return;
  if (it->lHandle != 0) {
    LogLine("FTP_Unsubscribe " + std::to_string(it->lHandle), kLogFtp);
    OrvFtpClientClose(static_cast<int32_t>(it->lHandle), -1);
    it->lHandle = 0;
  } else {
    LogLine("FTP_Unsubscribe was called, but lHandle was 0!", kLogRegistry);
  }
  Subscribers.erase(it);
}

const std::vector<tSubscriber>& FTP_Subscribers() { return Subscribers; }

long FTP_SubscriberCnt() { return static_cast<long>(Subscribers.size()); }

namespace {

// The library's line for a connection that failed before any command went
// out and is tried again: "FTP connection 3: request failed with -7:
// connect to 127.0.0.1:2199 -> <why>; trying again in 1 s (1 of 3)". The
// connection's owner hears of the coming try (the 2nd of 4 here).
void TellConnectRetry(const std::string& sLine) {
  // Most lines are of other kinds: they need no regular expression, whose
  // compilation alone costs a short transfer more than the rest of the
  // line's handling.
  if (sLine.find(": connect to ") == std::string::npos || sLine.find("; trying again in ") == std::string::npos) return;
  static const std::regex kRetry(
      R"(^FTP connection (\d+): .* failed with -?\d+: connect to (\S+) -> .*; trying again in \d+ s \((\d+) of (\d+)\)$)");
  std::smatch m;
  if (!std::regex_match(sLine, m, kRetry)) return;
  try {
    const auto lHandle = static_cast<int32_t>(std::stol(m[1].str()));
    const int iTry = std::stoi(m[3].str()) + 1;
    const int iTries = std::stoi(m[4].str()) + 1;
    Deliver(lHandle, [&](cOrvFtpClient& o) { o.FtpRetryCallback(m[2].str(), iTry, iTries); });
  } catch (const std::exception&) {
    // A number out of range is no line of that kind.
  }
}

}  // namespace

int32_t FTP_LogCallback(const char* sText) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sLine = copier.Copy(sText);
  LogLine(sLine, kLogFtp);
  TellConnectRetry(sLine);
  return 0;
}

int32_t FTP_DirCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lIgnored,
                        int32_t lFolderCount, const char* const* asFolders, int32_t lFileCount,
                        const char* const* asFiles) {
  return FTP_DirFactsCallback(lHandle, lErrCode, sRequestId, lIgnored, lFolderCount, asFolders, lFileCount, asFiles,
                              nullptr);
}

int32_t FTP_DirFactsCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t, int32_t lFolderCount,
                             const char* const* asFolders, int32_t lFileCount, const char* const* asFiles,
                             const OrvFtpFileFacts* aFileFacts) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sRequestID = copier.Copy(sRequestId);
  std::string sDirList;
  std::size_t lLength = 0;
  for (int32_t i = 0; i < lFolderCount; ++i) lLength += std::strlen(asFolders[i]) + 3;
  for (int32_t i = 0; i < lFileCount; ++i) lLength += std::strlen(asFiles[i]) + 2;
  sDirList.reserve(lLength);
  for (int32_t i = 0; i < lFolderCount; ++i) sDirList.append(copier.Copy(asFolders[i])).append("/\r\n");
  for (int32_t i = 0; i < lFileCount; ++i) sDirList.append(copier.Copy(asFiles[i])).append("\r\n");
  std::vector<OrvFtpFileFacts> vFacts;
  if (aFileFacts != nullptr && lFileCount > 0) vFacts.assign(aFileFacts, aFileFacts + lFileCount);
  const bool bDelivered = Deliver(
      lHandle, [&](cOrvFtpClient& o) { o.FtpDirCallback(sDirList, sRequestID, lErrCode, std::move(vFacts)); });
  if (!bDelivered) LogUndeliverable("Dir", lHandle);
  return 0;
}

int32_t FTP_PutCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sRequestID = copier.Copy(sRequestId);
  if (!Deliver(lHandle, [&](cOrvFtpClient& o) { o.FtpPutCallback(sRequestID, lErrCode); }))
    LogUndeliverable("Put", lHandle);
  return 0;
}

int32_t FTP_GetCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t, std::size_t lDataLength,
                        const char* pData, int32_t lEndOfData) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sRequestID = copier.Copy(sRequestId);
  const std::string sData = lDataLength == 0 ? std::string() : std::string(pData, lDataLength);
  const bool bEndOfData = lEndOfData != 0;
  if (!Deliver(lHandle, [&](cOrvFtpClient& o) { o.FtpGetCallback(sData, sRequestID, bEndOfData, lErrCode); }))
    LogUndeliverable("Get", lHandle);
  return 0;
}

int32_t FTP_CommandCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lCommand,
                            int64_t lValue) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sRequestID = copier.Copy(sRequestId);
  const auto eCommand = static_cast<cOrvFtpClient::Command>(lCommand);
  if (!Deliver(lHandle, [&](cOrvFtpClient& o) { o.FtpCommandCallback(eCommand, sRequestID, lErrCode, lValue); }))
    LogUndeliverable("Command", lHandle);
  return 0;
}

int32_t FTP_GetFileCallback(int32_t lHandle, int32_t lErrCode, const char* sRequestId, intptr_t lCommand) {
  return FTP_CommandCallback(lHandle, lErrCode, sRequestId, lCommand, 0);
}

int32_t FTP_ProgressCallback(int32_t lHandle, const char* sRequestId, intptr_t, uint64_t lDone, uint64_t lTotal) {
  if (!AppIsRunning()) return 0;
  TextCopier copier;
  const std::string sRequestID = copier.Copy(sRequestId);
  // Progress of a connection that has gone meanwhile is no news.
  Deliver(lHandle, [&](cOrvFtpClient& o) { o.FtpProgressCallback(sRequestID, lDone, lTotal); });
  return 0;
}
