#include "FtpPutRequest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "FtpText.h"
#include "LibOrv.h"

namespace {

// The longest file name most file systems (and so most servers) allow.
constexpr std::size_t kMaxNameBytes = 255;

std::uint32_t NewTag() {
  static thread_local std::mt19937 engine{std::random_device{}()};
  return static_cast<std::uint32_t>(engine());
}

std::size_t OnDiscard(char*, std::size_t lSize, std::size_t lCount, void*) { return lSize * lCount; }

bool IsSizeReply(const std::string& sCommand, const std::string& sReply) {
  return sCommand.rfind("SIZE ", 0) == 0 && sReply.rfind("213 ", 0) == 0;
}

}  // namespace

std::string FtpPutRequest::TemporaryName(const std::string& sName, std::uint32_t lTag) {
  char sSuffix[16];
  std::snprintf(sSuffix, sizeof sSuffix, ".%08x.part", static_cast<unsigned>(lTag));
  const std::size_t lRoom = kMaxNameBytes - 1 - std::strlen(sSuffix);
  std::string sTemporary(1, '.');
  sTemporary.append(sName, 0, lRoom).append(sSuffix);
  return sTemporary;
}

std::string FtpPutRequest::NewTemporaryName(const std::string& sName) { return TemporaryName(sName, NewTag()); }

bool FtpPutRequest::Prepare(const std::string& sPath, FtpOutcome& failure) {
  if (!FtpCheckFilePath(sPath, failure)) return false;
  // A temporary name the caller gave must name a file in the target folder.
  if (m_sTemporary.size() > kMaxNameBytes || m_sTemporary == "." || m_sTemporary == ".." ||
      m_sTemporary.find_first_of(std::string("/\r\n\0", 4)) != std::string::npos) {
    failure.rc = CURLE_URL_MALFORMAT;
    failure.sWhy = "the temporary name is not a plain file name";
    return false;
  }
  return true;
}

FtpTransfer FtpPutRequest::Start(const std::string& sPath, FtpSession& session) {
  m_sFolder = LibOrv_GetRemoteFolder(sPath);
  m_sName = LibOrv_GetRemoteName(sPath);
  // The same name when the put starts over, so that a new attempt
  // replaces what a broken one left.
  if (m_sTemporary.empty()) m_sTemporary = TemporaryName(m_sName, NewTag());
  m_failure = FtpOutcome();
  m_bRenameRefused = false;
  m_bSftp = session.IsSftp();
  // This put replaces its own; others that broke off earlier go now.
  std::vector<std::string>& vsLeft = session.facts.vsLeftTemporaries;
  std::erase(vsLeft, m_sFolder + m_sTemporary);
  m_vsRemoveFirst = std::exchange(vsLeft, {});
  if (std::exchange(m_bResume, false) && !session.facts.bNoResume && !session.facts.bNoRename)
    return TemporarySize(Stage::kResumeSize);
  return session.facts.bNoRename ? Upload(m_sName, true) : Upload(m_sTemporary, false);
}

FtpTransfer FtpPutRequest::Upload(const std::string& sName, bool bDirect, bool bDropTemporary, std::uint64_t lFrom) {
  m_eStage = bDirect ? Stage::kDirect : Stage::kUpload;
  m_lResumeFrom = lFrom;
  m_lOffset = lFrom;
  m_iErrno = 0;
  m_lServerSize.reset();
  m_pCommands.reset();
  m_pBefore.reset();
  if (m_bSftp) {
    // The size is asked for afterwards; a refused rename never falls back
    // here, as SFTP servers rename.
  } else {
    // A "*" lets the transfer succeed when the server has no SIZE; then
    // the size goes unchecked.
    m_pCommands = FtpCommandList({"*SIZE " + sName});
    if (bDropTemporary) m_pBefore = FtpCommandList({"*DELE " + m_sTemporary});
  }
  if (!m_vsRemoveFirst.empty()) m_pBefore = RemoveFirst(std::move(m_pBefore));
  FtpTransfer transfer{m_sFolder + sName,
                       [this](EasyOptions& options) {
                         options.Set(CURLOPT_UPLOAD, 1L)
                             .Set(CURLOPT_READFUNCTION, &FtpPutRequest::OnRead)
                             .Set(CURLOPT_READDATA, static_cast<void*>(this))
                             .Set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(Size()))
                             // One folder at a time, so that each missing one is made.
                             .Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD))
                             .Set(CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_RETRY))
                             .Set(CURLOPT_PREQUOTE, m_pBefore.get())
                             .Set(CURLOPT_POSTQUOTE, m_pCommands.get());
                         // libcurl appends (APPE over FTP) and reads the data on from
                         // the byte it seeks to.
                         if (m_lResumeFrom > 0)
                           options.Set(CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(m_lResumeFrom))
                               .Set(CURLOPT_SEEKFUNCTION, &FtpPutRequest::OnSeek)
                               .Set(CURLOPT_SEEKDATA, static_cast<void*>(this));
                       },
                       [this] {
                         m_lOffset = m_lResumeFrom;
                         m_iErrno = 0;
                         m_lServerSize.reset();
                       },
                       [this](const std::string& sCommand, const std::string& sReply) { ReadSize(sCommand, sReply); }};
  transfer.lDoneBefore = lFrom;
  return transfer;
}

void FtpPutRequest::ReadSize(const std::string& sCommand, const std::string& sReply) {
  if (!IsSizeReply(sCommand, sReply)) return;
  char* pEnd = nullptr;
  const unsigned long long lSize = std::strtoull(sReply.c_str() + 4, &pEnd, 10);
  if (pEnd != sReply.c_str() + 4) m_lServerSize = lSize;
}

CurlSlistPtr FtpPutRequest::RemoveFirst(CurlSlistPtr pCommands) {
  CurlSlistPtr pList;
  for (const std::string& sPath : std::exchange(m_vsRemoveFirst, {})) {
    curl_slist* pLonger = curl_slist_append(pList.get(), ("*DELE " + sPath).c_str());
    if (pLonger == nullptr) return pCommands;
    (void)pList.release();
    pList.reset(pLonger);
  }
  for (curl_slist* p = pCommands.get(); p != nullptr; p = p->next) {
    curl_slist* pLonger = curl_slist_append(pList.get(), p->data);
    if (pLonger == nullptr) return pCommands;
    (void)pList.release();
    pList.reset(pLonger);
  }
  return pList;
}

FtpTransfer FtpPutRequest::TemporarySize(Stage eStage) {
  // Over FTP libcurl asks in binary mode (TYPE I, SIZE), as many servers
  // want, and writes the size as a header line ("Content-Length: ...")
  // into the data, which must not reach standard output.
  m_eStage = eStage;
  return {m_sFolder + m_sTemporary,
          [](EasyOptions& options) { options.Set(CURLOPT_NOBODY, 1L).Set(CURLOPT_WRITEFUNCTION, &OnDiscard); }, [] {}};
}

FtpTransfer FtpPutRequest::Resume(std::optional<std::uint64_t> lHeld, FtpSession& session) {
  const std::string sAfresh = "; the put starts again from byte 0";
  if (!lHeld) {
    session.Note("the server tells no size of " + m_sTemporary + sAfresh);
    return Upload(m_sTemporary, false);
  }
  if (*lHeld > Size()) {
    session.Note("the server holds " + std::to_string(*lHeld) + " bytes of " + m_sTemporary + ", more than the " +
                 std::to_string(Size()) + " to send" + sAfresh);
    return Upload(m_sTemporary, false);
  }
  if (*lHeld == 0) return Upload(m_sTemporary, false);
  const std::string sResumed = Name() + " " + m_sFolder + m_sName + " resumed from byte " + std::to_string(*lHeld);
  if (*lHeld < Size()) {
    FtpTransfer transfer = Upload(m_sTemporary, false, false, *lHeld);
    // Told once the server has taken the APPE; SFTP just writes on.
    if (m_bSftp) {
      session.Note(sResumed);
    } else {
      transfer.fnReply = [this, &session, sResumed](const std::string& sCommand, const std::string& sReply) {
        ReadSize(sCommand, sReply);
        if (sCommand.rfind("APPE ", 0) == 0 && (sReply.rfind("150", 0) == 0 || sReply.rfind("125", 0) == 0))
          session.Note(sResumed);
      };
    }
    return transfer;
  }
  // All of it had arrived: the size is checked, the rename is left. The
  // temporaries to remove wait for the next put.
  session.Note(sResumed);
  m_lServerSize = lHeld;
  std::vector<std::string>& vsLeft = session.facts.vsLeftTemporaries;
  vsLeft.insert(vsLeft.end(), m_vsRemoveFirst.begin(), m_vsRemoveFirst.end());
  m_vsRemoveFirst.clear();
  return Rename();
}

FtpTransfer FtpPutRequest::Rename() {
  if (m_bSftp) {
    // An SFTP rename does not replace a file, so the old one goes first:
    // for a moment there is no file, but never half of one.
    const std::string sFinal = SftpCommandPath(m_sFolder + m_sName);
    return Commands(
        Stage::kRename,
        FtpCommandList({"*rm " + sFinal, "rename " + SftpCommandPath(m_sFolder + m_sTemporary) + " " + sFinal}));
  }
  return Commands(Stage::kRename, FtpCommandList({"RNFR " + m_sTemporary, "RNTO " + m_sName}));
}

FtpTransfer FtpPutRequest::CleanUp() {
  if (m_bSftp) return Commands(Stage::kCleanUp, FtpCommandList({"*rm " + SftpCommandPath(m_sFolder + m_sTemporary)}));
  return Commands(Stage::kCleanUp, FtpCommandList({"*DELE " + m_sTemporary}));
}

FtpTransfer FtpPutRequest::Commands(Stage eStage, CurlSlistPtr pCommands) {
  m_eStage = eStage;
  m_pBefore = std::move(pCommands);
  // A folder without a body asked for: the commands run in it and nothing
  // is transferred. FTP sends them after the changes of folder, SFTP
  // before its (empty) transfer.
  return {m_sFolder,
          [this](EasyOptions& options) {
            options.Set(CURLOPT_NOBODY, 1L)
                .Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD))
                .Set(m_bSftp ? CURLOPT_QUOTE : CURLOPT_PREQUOTE, m_pBefore.get());
          },
          [] {}};
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
    const ssize_t n = ::pread(pFile->fd.Get(), p, lWant, static_cast<off_t>(self->m_lOffset));
    if (n >= 0) {
      self->m_lOffset += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno == EINTR) continue;
    self->m_iErrno = errno;
    return CURL_READFUNC_ABORT;
  }
}

int FtpPutRequest::OnSeek(void* pSelf, curl_off_t lOffset, int iOrigin) {
  auto* self = static_cast<FtpPutRequest*>(pSelf);
  if (iOrigin != SEEK_SET || lOffset < 0 || static_cast<std::uint64_t>(lOffset) > self->Size())
    return CURL_SEEKFUNC_FAIL;
  self->m_lOffset = static_cast<std::uint64_t>(lOffset);
  return CURL_SEEKFUNC_OK;
}

void FtpPutRequest::CheckUpload(FtpOutcome& outcome) {
  if (outcome.rc != CURLE_OK) {
    if (m_iErrno != 0) {
      outcome.rc = CURLE_READ_ERROR;
      outcome.sWhy = std::string("cannot read the local file: ") + std::strerror(m_iErrno);
    }
    return;
  }
  if (m_lServerSize && *m_lServerSize != Size()) {
    outcome.rc = CURLE_PARTIAL_FILE;
    outcome.sWhy = "the server holds " + std::to_string(*m_lServerSize) + " bytes of the " + std::to_string(Size()) +
                   " sent";
  }
}

std::optional<FtpTransfer> FtpPutRequest::Continue(FtpOutcome& outcome, FtpSession& session) {
  switch (m_eStage) {
    case Stage::kResumeSize: {
      std::optional<std::uint64_t> lHeld;
      if (outcome.rc == CURLE_OK) {
        if (outcome.lExpectedSize >= 0) lHeld = static_cast<std::uint64_t>(outcome.lExpectedSize);
      } else if (outcome.bTimedOut || outcome.lResponse < 500 || outcome.bUserCancelled) {
        // No answer, or one that may pass: the next attempt asks once more.
        return BrokenOff(outcome, session, outcome.bUserCancelled && !outcome.bTimedOut);
      }
      return Resume(lHeld, session);
    }
    case Stage::kSftpSize:
      if (outcome.rc == CURLE_OK && outcome.lExpectedSize >= 0)
        m_lServerSize = static_cast<std::uint64_t>(outcome.lExpectedSize);
      [[fallthrough]];
    case Stage::kUpload: {
      CheckUpload(outcome);
      if (outcome.rc == CURLE_OK)
        return m_bSftp && m_eStage == Stage::kUpload ? TemporarySize(Stage::kSftpSize) : Rename();
      if (m_eStage == Stage::kUpload && m_lResumeFrom > 0 && m_lOffset == m_lResumeFrom && !outcome.bTimedOut &&
          outcome.lResponse >= 500 && outcome.rc != CURLE_READ_ERROR) {
        // The server would not go on with the file (APPE refused).
        session.facts.bNoResume = true;
        session.Note("the server refuses " +
                     (outcome.sCommand.empty() ? "to go on with " + m_sTemporary : outcome.sCommand) + " (" +
                     (outcome.sReply.empty() ? outcome.sCurlText : outcome.sReply) +
                     "); the put starts again from byte 0");
        return Upload(m_sTemporary, false);
      }
      // A server that answered (or data of ours that was wrong, or a
      // cancel) leaves a server that can still remove what arrived.
      return BrokenOff(outcome, session,
                       !outcome.bTimedOut && (outcome.lResponse >= 400 || outcome.rc == CURLE_READ_ERROR ||
                                              outcome.rc == CURLE_PARTIAL_FILE || outcome.bUserCancelled));
    }
    case Stage::kRename:
      if (outcome.rc == CURLE_OK) return std::nullopt;
      if (outcome.rc == CURLE_QUOTE_ERROR && outcome.lResponse >= 500) {
        m_bRenameRefused = true;
        session.Note("the server refuses to rename " + m_sTemporary + " (" + outcome.sReply +
                     "); the data goes once more, directly under " + m_sName);
        return Upload(m_sName, true, true);
      }
      return BrokenOff(outcome, session, !outcome.bTimedOut && outcome.lResponse >= 400);
    case Stage::kCleanUp: outcome = m_failure; return std::nullopt;
    case Stage::kDirect:
      CheckUpload(outcome);
      // Only a server that took the file under its name but not the rename
      // is one that does not rename (a rename onto a folder fails both).
      if (m_bRenameRefused && outcome.rc == CURLE_OK) session.facts.bNoRename = true;
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<FtpTransfer> FtpPutRequest::BrokenOff(const FtpOutcome& outcome, FtpSession& session,
                                                    bool bConnectionUsable) {
  m_failure = outcome;
  m_bResume = m_lOffset > 0 && MayRetry(outcome) && session.WillTryAgain(outcome);
  if (bConnectionUsable && !m_bResume) return CleanUp();
  // The next put of the connection removes what stayed; only a path from
  // the root names it from wherever that put stands (FTP).
  if (!bConnectionUsable && !m_bSftp && !m_sFolder.empty() && m_sFolder.front() == '/' && !session.facts.bNoRename)
    session.facts.vsLeftTemporaries.push_back(m_sFolder + m_sTemporary);
  return std::nullopt;
}

bool FtpPutRequest::MayRetry(const FtpOutcome& outcome) const {
  // A local file that cannot be read or ended early, or a server that
  // holds another size than was sent, will not do better a second later;
  // a transfer the server broke off may.
  if (outcome.rc == CURLE_READ_ERROR) return false;
  return outcome.rc != CURLE_PARTIAL_FILE || outcome.lResponse >= 400;
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
