#include "FtpGetRequest.h"

#include <algorithm>

#include "FtpText.h"

bool FtpGetRequest::Prepare(const std::string& sPath, FtpOutcome& failure) { return FtpCheckFilePath(sPath, failure); }

FtpTransfer FtpGetRequest::Start(const std::string& sPath, FtpSession&) {
  m_sData.clear();
  m_bTruncated = false;
  m_bEndOfData = true;
  return {sPath,
          [this](EasyOptions& options) {
            options.Set(CURLOPT_WRITEFUNCTION, &FtpGetRequest::OnData).Set(CURLOPT_WRITEDATA, static_cast<void*>(this));
          },
          [this] {
            m_sData.clear();
            m_bTruncated = false;
          }};
}

std::size_t FtpGetRequest::OnData(char* p, std::size_t lSize, std::size_t lCount, void* pSelf) {
  auto* self = static_cast<FtpGetRequest*>(pSelf);
  std::string& sData = self->m_sData;
  const std::size_t n = lSize * lCount;
  const std::size_t lTake = std::min(n, self->m_lMax - sData.size());
  const std::size_t lNeeded = sData.size() + lTake;
  if (sData.capacity() < lNeeded) sData.reserve(std::min(self->m_lMax, std::max(lNeeded, 2 * sData.capacity())));
  sData.append(p, lTake);
  if (lTake < n) {
    // The file is larger than one chunk: keep the chunk, abandon the rest.
    self->m_bTruncated = true;
    return 0;
  }
  return n;
}

std::optional<FtpTransfer> FtpGetRequest::Continue(FtpOutcome& outcome, FtpSession&) {
  if (m_bTruncated && outcome.rc == CURLE_WRITE_ERROR) {
    outcome.rc = CURLE_OK;
    m_bEndOfData = false;
  }
  return std::nullopt;
}

std::function<void()> FtpGetRequest::Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                            intptr_t lUserValue) {
  std::string sData = lCode == 0 ? std::move(m_sData) : std::string();
  std::string().swap(m_sData);
  if (m_pfnCallback == nullptr) return {};
  const int32_t lEnd = lCode == 0 && !m_bEndOfData ? 0 : 1;
  return [lHandle, lCode, pfn = m_pfnCallback, lUserValue, sId = sRequestId, sData = std::move(sData), lEnd] {
    pfn(lHandle, lCode, sId.c_str(), lUserValue, sData.size(), sData.data(), lEnd);
  };
}
