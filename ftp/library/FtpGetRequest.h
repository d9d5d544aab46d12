#pragma once

#include <cstddef>

#include "FtpRequest.h"
#include "OrvFtpLibrary.h"

// A file into memory, up to a chunk size: a larger file yields its first
// chunk with end flag 0 and its transfer is abandoned.
class FtpGetRequest : public FtpRequestKind {
 public:
  FtpGetRequest(std::size_t lMaxChunkSize, OrvFtpGetCallback pfnCallback)
      : m_lMax(lMaxChunkSize), m_pfnCallback(pfnCallback) {}

  std::string Name() const override { return "get"; }
  bool Prepare(const std::string& sPath, FtpOutcome& failure) override;
  bool MovesData() const override { return true; }
  FtpTransfer Start(const std::string& sPath, FtpSession& session) override;
  std::optional<FtpTransfer> Continue(FtpOutcome& outcome, FtpSession& session) override;
  std::function<void()> Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                               intptr_t lUserValue) override;

 private:
  static std::size_t OnData(char* p, std::size_t lSize, std::size_t lCount, void* pSelf);

  const std::size_t m_lMax;
  const OrvFtpGetCallback m_pfnCallback;
  std::string m_sData;
  bool m_bTruncated = false;
  bool m_bEndOfData = true;
};
