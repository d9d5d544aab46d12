#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FtpRequest.h"
#include "OrvFtpLibrary.h"
#include "UniqueFd.h"

// The open local file a put reads on from while it sends; closed when the
// request lets go of it, whether it ran, failed or was dropped.
struct FtpPutFile {
  FtpPutFile(int iFd, std::uint64_t lSize) : fd(iFd), lSize(lSize) {}
  const UniqueFd fd;
  // The length of the whole data: the data in memory, then the file's
  // bytes from offset sData.size() on.
  const std::uint64_t lSize;
};

// A file stored in binary, whole or not at all: missing folders of its
// path are made, the data goes under a temporary name in the target
// folder, the server's size of it is checked against the bytes sent, and
// only then is it renamed over the target. A server that refuses the
// rename gets the data once more directly under its name, and later puts
// of the connection go there directly. The data is what is in memory,
// followed by the rest of an open local file if there is one, read while
// it is sent. An attempt that follows a passing fault after data moved asks
// the size of the temporary file and sends only what it lacks (APPE over
// FTP); a temporary file of unknown size or larger than the data, or a
// server that refuses that, gets the data from byte 0.
class FtpPutRequest : public FtpRequestKind {
 public:
  // An empty sTemporary is a new temporary name.
  FtpPutRequest(std::string&& sData, std::unique_ptr<FtpPutFile> pFile, OrvFtpPutCallback pfnCallback,
                std::string sTemporary = "")
      : m_sData(std::move(sData)),
        m_pFile(std::move(pFile)),
        m_pfnCallback(pfnCallback),
        m_sTemporary(std::move(sTemporary)) {}

  std::string Name() const override { return "put"; }
  bool Prepare(const std::string& sPath, FtpOutcome& failure) override;
  bool MovesData() const override { return true; }
  FtpTransfer Start(const std::string& sPath, FtpSession& session) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) override;
  bool MayRetry(const FtpOutcome& outcome) const override;
  void Release() override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

  // The temporary name for a file name: it starts with "." (hidden) and
  // does not end in the name's extension, so that a receiver watching for
  // "*.jpg" never picks it up; it fits where the name fits.
  static std::string TemporaryName(const std::string& sName, std::uint32_t lTag);
  // The same with a tag drawn at random.
  static std::string NewTemporaryName(const std::string& sName);

 private:
  enum class Stage { kResumeSize, kUpload, kSftpSize, kRename, kCleanUp, kDirect };

  // bDropTemporary: a rename was refused, and its temporary file goes
  // before the data goes directly under the name. lFrom: the bytes the
  // server holds already, which are not sent again.
  FtpTransfer Upload(const std::string& sName, bool bDirect, bool bDropTemporary = false, std::uint64_t lFrom = 0);
  // pCommands after the removal of the temporary files that earlier puts
  // of the connection left.
  CurlSlistPtr RemoveFirst(CurlSlistPtr pCommands);
  // The size of the temporary file, asked for on its own.
  FtpTransfer TemporarySize(Stage eStage);
  // Goes on from the bytes the temporary file holds (unknown when the
  // server tells no size), or from byte 0 when that cannot be.
  FtpTransfer Resume(std::optional<std::uint64_t> lHeld, FtpSession& session);
  // The temporary file's data broke off, or what follows it failed: it
  // stays for the next attempt when one follows, else it goes, now when
  // the connection is usable, or with the connection's next put.
  std::optional<FtpTransfer> BrokenOff(const FtpOutcome& outcome, FtpSession& session, bool bConnectionUsable);
  FtpTransfer Rename();
  FtpTransfer CleanUp();
  // A transfer that only runs the commands, in the target folder.
  FtpTransfer Commands(Stage eStage, CurlSlistPtr pCommands);
  // The outcome of an upload, with the check of the server's size.
  void CheckUpload(FtpOutcome& outcome);
  std::uint64_t Size() const { return m_pFile ? m_pFile->lSize : m_sData.size(); }
  void ReadSize(const std::string& sCommand, const std::string& sReply);
  static std::size_t OnRead(char* p, std::size_t lSize, std::size_t lCount, void* pSelf);
  static int OnSeek(void* pSelf, curl_off_t lOffset, int iOrigin);

  std::string m_sData;
  std::unique_ptr<FtpPutFile> m_pFile;
  const OrvFtpPutCallback m_pfnCallback;

  std::string m_sFolder;  // ends with "/", or is empty for the login folder
  std::string m_sName;
  std::string m_sTemporary;
  Stage m_eStage = Stage::kUpload;
  std::uint64_t m_lOffset = 0;
  std::uint64_t m_lResumeFrom = 0;  // where the running upload started
  bool m_bResume = false;           // the next attempt goes on from what the server holds
  int m_iErrno = 0;
  std::optional<std::uint64_t> m_lServerSize;  // from the server's SIZE reply
  FtpOutcome m_failure;                        // what failed, while the temporary file is removed
  bool m_bRenameRefused = false;
  bool m_bSftp = false;
  // The commands of the running transfer: before it (after the changes of
  // folder) and after it.
  CurlSlistPtr m_pBefore;
  CurlSlistPtr m_pCommands;
  std::vector<std::string> m_vsRemoveFirst;
};
