#include "FtpGetFileRequest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FtpText.h"

namespace {

constexpr std::size_t kMaxNameBytes = 255;
constexpr long kReceiveBuffer = 1024 * 1024;
const char kPatternEnd[] = ".XXXXXX";

bool LocalFailure(FtpOutcome& failure, const std::string& sWhat, int iErrno) {
  failure.rc = CURLE_WRITE_ERROR;
  failure.sWhy = sWhat + ": " + std::strerror(iErrno);
  return false;
}

}  // namespace

FtpGetFileRequest::~FtpGetFileRequest() { Discard(); }

std::string FtpGetFileRequest::TemporaryPattern(const std::string& sName) {
  const std::size_t lRoom = kMaxNameBytes - 1 - (sizeof kPatternEnd - 1);
  std::string sPattern(1, '.');
  sPattern.append(sName, 0, lRoom).append(kPatternEnd);
  return sPattern;
}

bool FtpGetFileRequest::Prepare(const std::string& sPath, FtpOutcome& failure) {
  if (!FtpCheckFilePath(sPath, failure)) return false;
  const std::size_t lSlash = m_sLocalPath.rfind('/');
  const std::string sFolder = lSlash == std::string::npos ? std::string() : m_sLocalPath.substr(0, lSlash + 1);
  const std::string sName = m_sLocalPath.substr(sFolder.size());
  if (sName.empty()) {
    failure.rc = CURLE_WRITE_ERROR;
    failure.sWhy = "the local path names no file";
    return false;
  }
  std::string sPattern = sFolder + TemporaryPattern(sName);
  std::vector<char> acPattern(sPattern.begin(), sPattern.end());
  acPattern.push_back('\0');
  m_iFd = ::mkostemp(acPattern.data(), O_CLOEXEC);
  if (m_iFd < 0) return LocalFailure(failure, "cannot create a file beside " + m_sLocalPath, errno);
  m_sTemporary = acPattern.data();
  return true;
}

FtpTransfer FtpGetFileRequest::Start(const std::string& sPath, FtpSession&) {
  auto fnRestart = [this] {
    m_lWritten = 0;
    m_iErrno = 0;
    if (::ftruncate(m_iFd, 0) != 0) m_iErrno = errno;
  };
  fnRestart();
  return {sPath,
          [this](EasyOptions& options) {
            options.Set(CURLOPT_WRITEFUNCTION, &FtpGetFileRequest::OnData)
                .Set(CURLOPT_WRITEDATA, static_cast<void*>(this))
                // Large reads and writes: libcurl's 16 KiB default costs a
                // large file twice the system calls it needs.
                .Set(CURLOPT_BUFFERSIZE, kReceiveBuffer);
          },
          fnRestart};
}

std::size_t FtpGetFileRequest::OnData(char* p, std::size_t lSize, std::size_t lCount, void* pSelf) {
  auto* self = static_cast<FtpGetFileRequest*>(pSelf);
  const std::size_t n = lSize * lCount;
  if (self->m_iErrno != 0) return 0;
  std::size_t lDone = 0;
  while (lDone < n) {
    const ssize_t lWritten = ::pwrite(self->m_iFd, p + lDone, n - lDone, static_cast<off_t>(self->m_lWritten));
    if (lWritten < 0) {
      if (errno == EINTR) continue;
      self->m_iErrno = errno;
      return 0;  // libcurl fails the transfer
    }
    lDone += static_cast<std::size_t>(lWritten);
    self->m_lWritten += static_cast<std::uint64_t>(lWritten);
  }
  return n;
}

std::optional<FtpTransfer> FtpGetFileRequest::Continue(FtpOutcome& outcome, FtpSession&) {
  if (outcome.rc != CURLE_OK) {
    if (m_iErrno != 0) LocalFailure(outcome, "cannot write " + m_sTemporary, m_iErrno);
    return std::nullopt;
  }
  Finish(outcome);
  return std::nullopt;
}

bool FtpGetFileRequest::Finish(FtpOutcome& outcome) {
  if (outcome.lExpectedSize >= 0 && static_cast<std::uint64_t>(outcome.lExpectedSize) != m_lWritten) {
    outcome.rc = CURLE_PARTIAL_FILE;
    outcome.sWhy = "the server announced " + std::to_string(outcome.lExpectedSize) + " bytes and sent " +
                   std::to_string(m_lWritten);
    return false;
  }
  // The file gets the mode a new file of the user gets. It is not forced to
  // the disk before the rename (curl, wget and browsers do not either): that
  // cost a 512 MiB get half its time again, while the rename alone already
  // keeps a half-written file from ever standing under the target's name.
  const mode_t lMask = ::umask(0);
  ::umask(lMask);
  if (::fchmod(m_iFd, 0666 & ~lMask) != 0) return LocalFailure(outcome, "cannot write " + m_sTemporary, errno);
  if (::close(m_iFd) != 0) {
    m_iFd = -1;
    return LocalFailure(outcome, "cannot write " + m_sTemporary, errno);
  }
  m_iFd = -1;
  if (::rename(m_sTemporary.c_str(), m_sLocalPath.c_str()) != 0)
    return LocalFailure(outcome, "cannot replace " + m_sLocalPath, errno);
  m_sTemporary.clear();
  return true;
}

bool FtpGetFileRequest::MayRetry(const FtpOutcome& outcome) const {
  // A local file that cannot be written will not be better a second later.
  return outcome.rc != CURLE_WRITE_ERROR;
}

void FtpGetFileRequest::Discard() {
  if (m_iFd >= 0) ::close(m_iFd);
  m_iFd = -1;
  if (!m_sTemporary.empty()) ::unlink(m_sTemporary.c_str());
  m_sTemporary.clear();
}

void FtpGetFileRequest::Release() { Discard(); }

std::function<void()> FtpGetFileRequest::Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                                intptr_t lUserValue) {
  Discard();
  if (m_pfnCallback == nullptr) return {};
  return [lHandle, lCode, pfn = m_pfnCallback, lUserValue, sId = sRequestId] {
    pfn(lHandle, lCode, sId.c_str(), lUserValue);
  };
}
