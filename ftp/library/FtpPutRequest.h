#pragma once

#include <cstdint>

#include "FtpRequest.h"
#include "OrvFtpLibrary.h"

// The open local file a put reads on from while it sends; closed when the
// request lets go of it, whether it ran, failed or was dropped.
struct FtpPutFile {
  FtpPutFile(int iFd, std::uint64_t lSize) : iFd(iFd), lSize(lSize) {}
  ~FtpPutFile();
  FtpPutFile(const FtpPutFile&) = delete;
  FtpPutFile& operator=(const FtpPutFile&) = delete;
  const int iFd;
  // The length of the whole data: the data in memory, then the file's
  // bytes from offset sData.size() on.
  const std::uint64_t lSize;
};

// A file stored in binary: data in memory, followed by the rest of an open
// local file if there is one, read while it is sent.
class FtpPutRequest : public FtpRequestKind {
 public:
  FtpPutRequest(std::string&& sData, std::unique_ptr<FtpPutFile> pFile, OrvFtpPutCallback pfnCallback)
      : m_sData(std::move(sData)), m_pFile(std::move(pFile)), m_pfnCallback(pfnCallback) {}

  std::string Name() const override { return "put"; }
  std::string Refusal(const std::string& sPath) const override;
  FtpTransfer Start(const std::string& sPath, FtpServerFacts& facts) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpServerFacts& facts) override;
  void Release() override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

 private:
  static std::size_t OnRead(char* p, std::size_t lSize, std::size_t lCount, void* pSelf);

  std::string m_sData;
  std::unique_ptr<FtpPutFile> m_pFile;
  const OrvFtpPutCallback m_pfnCallback;
  std::uint64_t m_lOffset = 0;
  int m_iErrno = 0;
};
