#include "FtpPutRequest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "FtpText.h"

FtpPutFile::~FtpPutFile() {
  if (iFd >= 0) ::close(iFd);
}

std::string FtpPutRequest::Refusal(const std::string& sPath) const {
  return FtpPathNamesAFile(sPath) ? std::string() : "the path names no file";
}

FtpTransfer FtpPutRequest::Start(const std::string& sPath, FtpServerFacts&) {
  const std::uint64_t lSize = m_pFile ? m_pFile->lSize : m_sData.size();
  return {FtpUrlPath(sPath), false,
          [this, lSize](EasyOptions& options) {
            options.Set(CURLOPT_UPLOAD, 1L)
                .Set(CURLOPT_READFUNCTION, &FtpPutRequest::OnRead)
                .Set(CURLOPT_READDATA, static_cast<void*>(this))
                .Set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(lSize));
          },
          [this] {
            m_lOffset = 0;
            m_iErrno = 0;
          }};
}

// The data in memory first, then the file's bytes, read as they are needed.
std::size_t FtpPutRequest::OnRead(char* p, std::size_t lSize, std::size_t lCount, void* pSelf) {
  auto* self = static_cast<FtpPutRequest*>(pSelf);
  const std::size_t lRoom = lSize * lCount;
  const std::string& sData = self->m_sData;
  if (self->m_lOffset < sData.size()) {
    const std::size_t n = std::min<std::size_t>(lRoom, sData.size() - self->m_lOffset);
    std::copy_n(sData.data() + self->m_lOffset, n, p);
    self->m_lOffset += n;
    return n;
  }
  const FtpPutFile* pFile = self->m_pFile.get();
  if (pFile == nullptr || self->m_lOffset >= pFile->lSize) return 0;
  const std::size_t lWant = static_cast<std::size_t>(std::min<std::uint64_t>(lRoom, pFile->lSize - self->m_lOffset));
  for (;;) {
    // A file that ends before its size makes libcurl fail the upload as
    // partial.
    const ssize_t n = ::pread(pFile->iFd, p, lWant, static_cast<off_t>(self->m_lOffset));
    if (n >= 0) {
      self->m_lOffset += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno == EINTR) continue;
    self->m_iErrno = errno;
    return CURL_READFUNC_ABORT;
  }
}

std::optional<FtpTransfer> FtpPutRequest::Continue(FtpOutcome& outcome, FtpServerFacts&) {
  if (m_iErrno != 0 && outcome.rc != CURLE_OK) {
    outcome.rc = CURLE_READ_ERROR;
    outcome.sWhy = std::string("cannot read the local file: ") + std::strerror(m_iErrno);
  }
  return std::nullopt;
}

void FtpPutRequest::Release() {
  std::string().swap(m_sData);
  m_pFile.reset();
}

std::function<void()> FtpPutRequest::Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                            intptr_t lUserValue) {
  if (m_pfnCallback == nullptr) return {};
  return [lHandle, lCode, pfn = m_pfnCallback, lUserValue, sId = sRequestId] {
    pfn(lHandle, lCode, sId.c_str(), lUserValue);
  };
}
