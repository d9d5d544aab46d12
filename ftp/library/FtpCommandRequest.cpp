#include "FtpCommandRequest.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "FtpText.h"
#include "LibOrv.h"

namespace {

// The commands the request sends itself: a refusal of any of them is the
// request's failure. The first refusal is the one reported (RNTO after a
// refused RNFR only follows); a refused RNTO (the new name is taken by a
// folder, or the server will not replace a file) fails the rename just as
// a refused RNFR does, and so does a refused TYPE before SIZE.
const char* const kOurCommands[] = {"MKD ", "RNFR ", "RNTO ", "RMD ", "DELE ", "TYPE ", "SIZE "};

bool Refuse(FtpOutcome& failure, const char* sWhy) {
  failure.rc = CURLE_URL_MALFORMAT;
  failure.sWhy = sWhy;
  return false;
}

}  // namespace

std::string FtpCommandRequest::Name() const {
  switch (m_eCommand) {
    case Command::kMakeFolder: return "make folder";
    case Command::kRename: return "rename";
    case Command::kDelete: return "delete";
    case Command::kSize: return "size";
  }
  return {};
}

bool FtpCommandRequest::Prepare(const std::string& sPath, FtpOutcome& failure) {
  // A folder is named with or without its final "/"; delete tells a
  // folder by it.
  std::string sEntryPath = sPath;
  const bool bFolder = !sEntryPath.empty() && sEntryPath.back() == '/';
  if (bFolder) sEntryPath.pop_back();
  m_sFolder = LibOrv_GetRemoteFolder(sEntryPath);
  m_sEntry = LibOrv_GetRemoteName(sEntryPath);
  if (m_sEntry.empty() || m_sEntry == "." || m_sEntry == "..") return Refuse(failure, "the path names no entry");
  if (LibOrv_HasLineBreak(sPath)) return Refuse(failure, "the path holds a line break");
  // A folder is renamed as a file is; only a file has a size.
  if (m_eCommand == Command::kSize && bFolder) return Refuse(failure, "the path names no file");
  if (m_eCommand == Command::kRename &&
      (m_sNewName.empty() || m_sNewName.find('/') != std::string::npos || LibOrv_HasLineBreak(m_sNewName)))
    return Refuse(failure, "the new name is no plain name");
  m_bFolder = bFolder;
  return true;
}

CurlSlistPtr FtpCommandRequest::FtpCommands() const {
  // A "*" keeps libcurl from dropping the connection over a refusal, which
  // the replies tell instead; some servers tell sizes only in binary mode.
  switch (m_eCommand) {
    case Command::kMakeFolder: return FtpCommandList({"*MKD " + m_sEntry});
    case Command::kRename: return FtpCommandList({"*RNFR " + m_sEntry, "*RNTO " + m_sNewName});
    case Command::kDelete: return FtpCommandList({(m_bFolder ? "*RMD " : "*DELE ") + m_sEntry});
    case Command::kSize: return FtpCommandList({"*TYPE I", "*SIZE " + m_sEntry});
  }
  return nullptr;
}

CurlSlistPtr FtpCommandRequest::SftpCommands() const {
  const std::string sEntry = SftpCommandPath(m_sFolder + m_sEntry);
  switch (m_eCommand) {
    case Command::kMakeFolder: return FtpCommandList({"mkdir " + sEntry});
    case Command::kRename: return FtpCommandList({"rename " + sEntry + " " + SftpCommandPath(m_sFolder + m_sNewName)});
    case Command::kDelete: return FtpCommandList({(m_bFolder ? "rmdir " : "rm ") + sEntry});
    case Command::kSize: break;
  }
  return nullptr;
}

FtpTransfer FtpCommandRequest::Start(const std::string&, FtpSession& session) {
  m_lSize = -1;
  m_refusal = FtpOutcome();
  m_bSftp = session.IsSftp();
  if (m_bSftp && m_eCommand == Command::kSize) {
    // Without a body asked for, a file's transfer tells its size.
    return {m_sFolder + m_sEntry, [](EasyOptions& options) { options.Set(CURLOPT_NOBODY, 1L); }, [] {}};
  }
  m_pCommands = m_bSftp ? SftpCommands() : FtpCommands();
  if (m_bSftp) {
    return {m_sFolder,
            [this](EasyOptions& options) { options.Set(CURLOPT_NOBODY, 1L).Set(CURLOPT_QUOTE, m_pCommands.get()); },
            [] {}};
  }
  return {m_sFolder,
          [this](EasyOptions& options) {
            // A folder without a body asked for: the commands run in it and
            // nothing is transferred.
            options.Set(CURLOPT_NOBODY, 1L).Set(CURLOPT_PREQUOTE, m_pCommands.get());
          },
          [this] {
            m_lSize = -1;
            m_refusal = FtpOutcome();
          },
          [this](const std::string& sCommand, const std::string& sReply) {
            const bool bOurs = std::any_of(std::begin(kOurCommands), std::end(kOurCommands),
                                           [&](const char* s) { return sCommand.rfind(s, 0) == 0; });
            if (!bOurs) return;
            const long lCode = std::strtol(sReply.c_str(), nullptr, 10);
            if (lCode >= 400 && m_refusal.lResponse == 0) {
              m_refusal.rc = CURLE_QUOTE_ERROR;
              m_refusal.lResponse = lCode;
              m_refusal.sCommand = sCommand;
              m_refusal.sReply = sReply;
            }
            if (sCommand.rfind("SIZE ", 0) != 0 || sReply.rfind("213 ", 0) != 0) return;
            char* pEnd = nullptr;
            const long long lSize = std::strtoll(sReply.c_str() + 4, &pEnd, 10);
            if (pEnd != sReply.c_str() + 4 && lSize >= 0) m_lSize = lSize;
          }};
}

std::optional<FtpTransfer> FtpCommandRequest::Continue(FtpOutcome& outcome, FtpSession&) {
  if (m_bSftp && m_eCommand == Command::kSize && outcome.rc == CURLE_OK) m_lSize = outcome.lExpectedSize;
  if (outcome.rc == CURLE_OK && m_refusal.lResponse != 0) {
    outcome = m_refusal;
    return std::nullopt;
  }
  if (outcome.rc == CURLE_OK && m_eCommand == Command::kSize && m_lSize < 0) {
    outcome.rc = CURLE_WEIRD_SERVER_REPLY;
    outcome.sWhy = "the server told no size";
  }
  return std::nullopt;
}

std::function<void()> FtpCommandRequest::Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                                intptr_t lUserValue) {
  if (m_pfnCallback == nullptr) return {};
  const int64_t lValue = lCode == 0 && m_eCommand == Command::kSize ? m_lSize : 0;
  return [lHandle, lCode, pfn = m_pfnCallback, lUserValue, sId = sRequestId, lValue] {
    pfn(lHandle, lCode, sId.c_str(), lUserValue, lValue);
  };
}
