#include "FtpGetFileRequest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  if (m_sLocalPath.empty() || m_sLocalPath.back() == '/') {
    failure.rc = CURLE_WRITE_ERROR;
    failure.sWhy = "the local path names no file";
    return false;
  }
  if (const int iErrno = NewTemporary())
    return LocalFailure(failure, "cannot create a file beside " + m_sLocalPath, iErrno);
  return true;
}

int FtpGetFileRequest::NewTemporary() {
  Discard();
  m_lWritten = 0;
  m_lFileEnd = 0;
  m_bStartAfresh = false;
  const std::size_t lSlash = m_sLocalPath.rfind('/');
  const std::string sFolder = lSlash == std::string::npos ? std::string() : m_sLocalPath.substr(0, lSlash + 1);
  std::string sPattern = sFolder + TemporaryPattern(m_sLocalPath.substr(sFolder.size()));
  std::vector<char> acPattern(sPattern.begin(), sPattern.end());
  acPattern.push_back('\0');
  // A new file is empty: it needs no truncation, which on ext4 would cost
  // a flush of the data at its close.
  m_iFd = ::mkostemp(acPattern.data(), O_CLOEXEC);
  if (m_iFd < 0) return errno;
  m_sTemporary = acPattern.data();
  return 0;
}

// "150 Opening BINARY mode data connection for a.jpg (15233 bytes)." and
// the like: the size, or -1.
std::int64_t FtpGetFileRequest::AnnouncedSize(const std::string& sReply) {
  const std::size_t lEnd = sReply.rfind(" bytes)");
  const std::size_t lOpen = sReply.rfind('(', lEnd);
  if (lEnd == std::string::npos || lOpen == std::string::npos || lEnd - lOpen < 2 || lEnd - lOpen > 19) return -1;
  std::int64_t lSize = 0;
  for (std::size_t i = lOpen + 1; i < lEnd; ++i) {
    if (sReply[i] < '0' || sReply[i] > '9') return -1;
    lSize = lSize * 10 + (sReply[i] - '0');
  }
  return lSize;
}

FtpTransfer FtpGetFileRequest::Start(const std::string& sPath, FtpSession& session) {
  m_sPath = sPath;
  m_lResumeFrom = 0;
  m_iErrno = 0;
  if (m_lWritten > 0 && !m_bStartAfresh && !session.facts.bNoResume) {
    m_lResumeFrom = m_lWritten;
  } else if (m_lFileEnd > 0 || m_bStartAfresh) {
    m_iErrno = NewTemporary();
  }
  // libcurl sends REST only after a SIZE.
  m_bWithoutSize = m_lResumeFrom == 0 && !session.IsSftp() && session.facts.bSizeInOpening;
  m_lAnnounced = -1;
  m_lSized = -1;
  FtpTransfer transfer = Transfer();
  if (session.IsSftp()) {
    // SFTP just reads on from where it stopped.
    if (m_lResumeFrom > 0) session.Note(Name() + " " + sPath + " resumed from byte " + std::to_string(m_lResumeFrom));
    return transfer;
  }
  transfer.plAnnounced = m_bWithoutSize ? &m_lAnnounced : nullptr;
  transfer.fnReply = [this, &session](const std::string& sCommand, const std::string& sReply) {
    if (sCommand.rfind("SIZE ", 0) == 0 && sReply.rfind("213 ", 0) == 0) {
      m_lSized = AnnouncedSize("(" + sReply.substr(4) + " bytes)");
    } else if (sCommand.rfind("RETR ", 0) == 0 && (sReply.rfind("150", 0) == 0 || sReply.rfind("125", 0) == 0)) {
      m_lAnnounced = AnnouncedSize(sReply);
    } else if (sCommand.rfind("REST ", 0) == 0 && sReply.rfind("350", 0) == 0) {
      // Told once the server has taken the REST.
      session.Note(Name() + " " + m_sPath + " resumed from byte " + std::to_string(m_lResumeFrom));
    }
  };
  return transfer;
}

FtpTransfer FtpGetFileRequest::Transfer() {
  m_lWritten = m_lResumeFrom;
  FtpTransfer transfer{m_sPath,
                       [this](EasyOptions& options) {
                         options.Set(CURLOPT_WRITEFUNCTION, &FtpGetFileRequest::OnData)
                             .Set(CURLOPT_WRITEDATA, static_cast<void*>(this))
                             // Large reads and writes: libcurl's 16 KiB
                             // default costs a large file twice the system
                             // calls it needs.
                             .Set(CURLOPT_BUFFERSIZE, kReceiveBuffer);
                         if (m_lResumeFrom > 0)
                           options.Set(CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(m_lResumeFrom));
                         // The RETR's own reply tells the size instead.
                         if (m_bWithoutSize) options.Set(CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
                       },
                       [this] {
                         // What the attempt wrote is written once more, at
                         // the same place.
                         m_lWritten = m_lResumeFrom;
                         if (m_iFd >= 0) m_iErrno = 0;
                       }};
  transfer.lDoneBefore = m_lResumeFrom;
  return transfer;
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
    self->m_lFileEnd = std::max(self->m_lFileEnd, self->m_lWritten);
  }
  return n;
}

std::optional<FtpTransfer> FtpGetFileRequest::Continue(FtpOutcome& outcome, FtpSession& session) {
  if (m_iFd < 0) {
    LocalFailure(outcome, "cannot create a file beside " + m_sLocalPath, m_iErrno);
    return std::nullopt;
  }
  if (outcome.rc != CURLE_OK) {
    if (m_iErrno != 0) {
      LocalFailure(outcome, "cannot write " + m_sTemporary, m_iErrno);
      return std::nullopt;
    }
    // A server that will not go on from a byte, or whose file is now
    // shorter than what arrived of it, gets the whole file asked for anew.
    const bool bRefused = outcome.rc == CURLE_FTP_COULDNT_USE_REST;
    if (m_lResumeFrom > 0 && (bRefused || outcome.rc == CURLE_BAD_DOWNLOAD_RESUME)) {
      if (bRefused) session.facts.bNoResume = true;
      session.Note((bRefused ? "the server refuses " + outcome.sCommand + " (" + outcome.sReply + ")"
                             : "the file on the server is shorter than the " + std::to_string(m_lResumeFrom) +
                                   " bytes received of it") +
                   "; the get starts again from byte 0");
      m_bStartAfresh = true;
      return Start(m_sPath, session);
    }
    return std::nullopt;
  }
  if (m_bWithoutSize) {
    outcome.lExpectedSize = m_lAnnounced;
    // A server that stops telling it is asked with SIZE again.
    if (m_lAnnounced < 0) session.facts.bSizeInOpening = false;
  } else if (m_lResumeFrom == 0 && m_lSized >= 0 && m_lAnnounced == m_lSized) {
    session.facts.bSizeInOpening = true;
  }
  Finish(outcome);
  return std::nullopt;
}

bool FtpGetFileRequest::Finish(FtpOutcome& outcome) {
  // libcurl announces the bytes that follow the byte it resumed from; for
  // a file that was whole already, the file's size, and it sends nothing.
  const std::uint64_t lReceived = m_lWritten - m_lResumeFrom;
  const auto lExpected = static_cast<std::uint64_t>(outcome.lExpectedSize);
  if (outcome.lExpectedSize >= 0 && lExpected != lReceived && !(lReceived == 0 && lExpected == m_lWritten)) {
    outcome.rc = CURLE_PARTIAL_FILE;
    outcome.sWhy = "the server announced " + std::to_string(outcome.lExpectedSize) + " bytes and sent " +
                   std::to_string(lReceived);
    // What the temporary file holds may not be the file's start.
    m_bStartAfresh = true;
    return false;
  }
  // An attempt written once more from an earlier byte may have left bytes
  // beyond the end.
  if (m_lFileEnd > m_lWritten && ::ftruncate(m_iFd, static_cast<off_t>(m_lWritten)) != 0)
    return LocalFailure(outcome, "cannot write " + m_sTemporary, errno);
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
