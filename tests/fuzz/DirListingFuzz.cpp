// The registry's directory callback on any names: the listing text it hands
// the client object is every folder name with "/" and every file name, each
// ended by CR LF, and cutting that text at CR LF (skipping "", "./" and
// "../", a piece with "/" being a folder) gives the names back. A callback
// reaches the object only while the program runs and only for its own
// handle; one for an unknown handle is logged.
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "OrvFtpClient.h"
#include "RecordingApp.h"
#include "cOrvFtpClient.h"

namespace {

using orvfuzz::FuzzInput;

constexpr int kMaxNames = 24;

struct DirEventRecord {
  std::string sDirList, sRequestID;
  long lErrCode;
};

// One client object with a registered connection, kept for the whole run;
// creating a connection does not reach the network.
cOrvFtpClient& Client() {
  static const std::shared_ptr<cOrvFtpClient> oClient = [] {
    RecordingApp app;
    FTP_Init();
    auto o = cOrvFtpClient::Create();
    if (!o->FtpConnect("127.0.0.1", "21", "user", "pwd")) std::abort();
    return o;
  }();
  return *oClient;
}

std::string UpToNul(const std::string& s) { return s.substr(0, s.find('\0')); }

std::vector<const char*> Pointers(const std::vector<std::string>& as) {
  std::vector<const char*> ap;
  for (const std::string& s : as) ap.push_back(s.c_str());
  return ap;
}

struct Listing {
  std::vector<std::string> asFolders, asFiles;
};

Listing SplitListing(const std::string& sDirList) {
  Listing listing;
  std::size_t p = 0;
  for (;;) {
    const std::size_t e = sDirList.find("\r\n", p);
    if (e == std::string::npos) break;
    const std::string sPiece = sDirList.substr(p, e - p);
    p = e + 2;
    if (sPiece.empty() || sPiece == "./" || sPiece == "../") continue;
    if (sPiece.find('/') != std::string::npos) listing.asFolders.push_back(sPiece.substr(0, sPiece.size() - 1));
    else listing.asFiles.push_back(sPiece);
  }
  ORV_FUZZ_CHECK(p == sDirList.size());  // nothing after the last CR LF
  return listing;
}

// A listing whose names hold no CR LF and whose file names hold no "/"
// splits back into its names.
void CheckSplit(const std::string& sDirList, const std::vector<std::string>& asFolders,
                const std::vector<std::string>& asFiles) {
  Listing expected;
  bool bPlain = true;
  for (const std::string& s : asFolders) {
    bPlain = bPlain && s.find("\r\n") == std::string::npos;
    if (s != "." && s != "..") expected.asFolders.push_back(s);
  }
  for (const std::string& s : asFiles) {
    bPlain = bPlain && s.find("\r\n") == std::string::npos && s.find('/') == std::string::npos;
    if (!s.empty()) expected.asFiles.push_back(s);
  }
  const Listing listing = SplitListing(sDirList);
  if (!bPlain) return;
  ORV_FUZZ_CHECK(listing.asFolders == expected.asFolders);
  ORV_FUZZ_CHECK(listing.asFiles == expected.asFiles);
}

}  // namespace

void orvfuzz::DirListing(const uint8_t* pData, std::size_t lSize) {
  cOrvFtpClient& o = Client();
  FuzzInput in(pData, lSize);
  const uint8_t bSetup = in.Byte();
  const long lStatus = (bSetup & 3) == 3 ? static_cast<long>(bSetup >> 2) - 8 : 1;
  const bool bOwnHandle = (bSetup & 4) == 0;
  const bool bNoRequestId = (bSetup & 8) != 0 && (bSetup & 16) != 0;
  RecordingApp app(lStatus);

  const int32_t lHandle = bOwnHandle ? static_cast<int32_t>(o.Handle()) : static_cast<int32_t>(in.Between(-3, 100000));
  const int32_t lErrCode = static_cast<int32_t>(in.Between(-100, 600));
  const std::string sRequestId = in.Text(64);
  std::vector<std::string> asFolders, asFiles;
  const int iFolders = in.Byte() % (kMaxNames + 1);
  const int iFiles = in.Byte() % (kMaxNames + 1);
  for (int i = 0; i < iFolders; ++i) asFolders.push_back(in.Text(200));
  for (int i = 0; i < iFiles; ++i) asFiles.push_back(in.Text(200));

  std::vector<DirEventRecord> events;
  o.DirEvent = [&events](const std::string& sDirList, const std::string& sRequestID, long lErr) {
    events.push_back({sDirList, sRequestID, lErr});
  };
  // The library hands no arrays along with a failed listing.
  const std::vector<const char*> apFolders = Pointers(asFolders);
  const std::vector<const char*> apFiles = Pointers(asFiles);
  FTP_DirCallback(lHandle, lErrCode, bNoRequestId ? nullptr : sRequestId.c_str(), 0, iFolders,
                  iFolders == 0 ? nullptr : apFolders.data(), iFiles, iFiles == 0 ? nullptr : apFiles.data());
  o.DirEvent = nullptr;

  if (lStatus != 1) {
    ORV_FUZZ_CHECK(events.empty() && app.logs.empty());
    return;
  }
  const bool bRegistered = lHandle == static_cast<int32_t>(o.Handle());
  if (!bRegistered) {
    ORV_FUZZ_CHECK(events.empty());
    ORV_FUZZ_CHECK(app.logs.size() == 1 && app.logs[0].eTyp == 1);
    ORV_FUZZ_CHECK(app.logs[0].s.rfind("FTP-Dir-Event mit dem Handle " + std::to_string(lHandle) + " ", 0) == 0);
    return;
  }
  ORV_FUZZ_CHECK(app.logs.empty() && app.messages.empty());
  ORV_FUZZ_CHECK(events.size() == 1);
  const DirEventRecord& event = events[0];
  ORV_FUZZ_CHECK(event.lErrCode == lErrCode);
  ORV_FUZZ_CHECK(event.sRequestID == (bNoRequestId ? "" : UpToNul(sRequestId)));

  // The names as the library's C texts carry them: up to their first NUL.
  for (std::string& s : asFolders) s = UpToNul(s);
  for (std::string& s : asFiles) s = UpToNul(s);
  std::string sExpected;
  for (const std::string& s : asFolders) sExpected += s + "/\r\n";
  for (const std::string& s : asFiles) sExpected += s + "\r\n";
  ORV_FUZZ_CHECK(event.sDirList == sExpected);
  CheckSplit(event.sDirList, asFolders, asFiles);
}
