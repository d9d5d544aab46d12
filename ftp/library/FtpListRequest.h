#pragma once

#include <cstddef>

#include "FtpRequest.h"
#include "FtpText.h"
#include "OrvFtpLibrary.h"

// A folder's listing: MLSD, or LIST read as it arrives on servers that
// refuse MLSD; over SFTP the server's long listing. A link is followed
// once with a change into it (over SFTP, a listing of it): a link that can
// be entered is a folder, any other (to a file, or dangling) a file.
// Listings without links cost no extra round trip.
class FtpListRequest : public FtpRequestKind {
 public:
  explicit FtpListRequest(OrvFtpDirCallback pfnCallback) : m_pfnCallback(pfnCallback) {}
  explicit FtpListRequest(OrvFtpDirFactsCallback pfnCallback) : m_pfnFactsCallback(pfnCallback) {}

  std::string Name() const override { return "list"; }
  bool Prepare(const std::string&, FtpOutcome&) override { return true; }
  FtpTransfer Start(const std::string& sPath, FtpSession& session) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

 private:
  enum class Stage { kMlsd, kList, kLinks };

  FtpTransfer Mlsd();
  // LIST over FTP, the folder's long listing over SFTP.
  FtpTransfer List();
  // The probe of the next link from m_lLink on, or nothing when every link
  // is known.
  std::optional<FtpTransfer> NextLink();
  // One log line when entries were left out of the listing.
  void NoteLeftOut(FtpSession& session) const;

  // One of them, or neither.
  const OrvFtpDirCallback m_pfnCallback = nullptr;
  const OrvFtpDirFactsCallback m_pfnFactsCallback = nullptr;
  std::string m_sFolder;  // ends with "/"
  Stage m_eStage = Stage::kMlsd;
  FtpListing m_listing;
  MlsdParser m_parser{m_listing};
  FtpListParser m_listParser{m_listing};  // LIST and SFTP
  bool m_bSftp = false;
  std::size_t m_lLink = 0;  // the entry the running probe is about
};
