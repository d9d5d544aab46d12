#pragma once

#include <cstdint>

#include "FtpRequest.h"
#include "OrvFtpLibrary.h"

// A file of any size into a local file: written while it arrives into a
// temporary file beside the target, which replaces the target only once
// the whole file is there and its size is the server's. On any failure the
// old local file is untouched and the temporary file is gone. A transfer
// tried again after a passing fault goes on from the bytes the temporary
// file holds (REST over FTP); one that cannot starts a new temporary file
// from byte 0.
class FtpGetFileRequest : public FtpRequestKind {
 public:
  FtpGetFileRequest(std::string sLocalPath, OrvFtpPutCallback pfnCallback)
      : m_sLocalPath(std::move(sLocalPath)), m_pfnCallback(pfnCallback) {}
  ~FtpGetFileRequest() override;

  std::string Name() const override { return "get"; }
  bool Prepare(const std::string& sPath, FtpOutcome& failure) override;
  FtpTransfer Start(const std::string& sPath, FtpSession& session) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) override;
  bool MayRetry(const FtpOutcome& outcome) const override;
  bool MovesData() const override { return true; }
  void Release() override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

  // The temporary file's name pattern for a target name, for mkstemp: it
  // fits where the name fits.
  static std::string TemporaryPattern(const std::string& sName);

 private:
  static std::size_t OnData(char* p, std::size_t lSize, std::size_t lCount, void* pSelf);
  static std::int64_t AnnouncedSize(const std::string& sReply);
  // The transfer of the file from byte m_lResumeFrom on.
  FtpTransfer Transfer();
  // A new, empty temporary file in place of any earlier one, for a
  // transfer from byte 0; 0, or the errno value of the failure.
  int NewTemporary();
  // Makes the temporary file the whole, new target.
  bool Finish(FtpOutcome& outcome);
  void Discard();

  const std::string m_sLocalPath;
  const OrvFtpPutCallback m_pfnCallback;
  std::string m_sPath;  // the remote file
  std::string m_sTemporary;
  int m_iFd = -1;
  std::uint64_t m_lWritten = 0;     // the bytes from the start of the file that are in place
  std::uint64_t m_lFileEnd = 0;     // where the temporary file's data ends
  std::uint64_t m_lResumeFrom = 0;  // where the running transfer started
  bool m_bStartAfresh = false;      // what the temporary file holds is not to be trusted
  int m_iErrno = 0;                 // why writing failed
  // Without SIZE before RETR (FtpServerFacts::bSizeInOpening): the size
  // the reply that opened the download announced, or -1.
  bool m_bWithoutSize = false;
  std::int64_t m_lAnnounced = -1;
  std::int64_t m_lSized = -1;  // what SIZE answered, or -1
};
