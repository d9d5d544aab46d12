#include "FtpListRequest.h"

#include <algorithm>

namespace {

// A listing beyond its bounds ends the transfer (libcurl's write error),
// which Continue reads as the listing's failure.
std::size_t OnListingData(char* p, std::size_t lSize, std::size_t lCount, void* pParser) {
  return static_cast<FtpLineParser*>(pParser)->Feed(p, lSize * lCount) ? lSize * lCount : 0;
}

void* AsData(FtpLineParser& parser) { return static_cast<void*>(&parser); }

// Over FTP the parser reads the data as it arrived (FtpTransfer::fnRawData):
// libcurl would turn a CR inside a name into a line end, which cuts the
// name into another one. What libcurl writes only ends the transfer once
// the listing has gone beyond a bound.
std::size_t OnListingChecked(char*, std::size_t lSize, std::size_t lCount, void* pParser) {
  return static_cast<FtpLineParser*>(pParser)->Overflow().empty() ? lSize * lCount : 0;
}

std::size_t OnDiscard(char*, std::size_t lSize, std::size_t lCount, void*) { return lSize * lCount; }

bool Failed(const FtpOutcome& outcome) { return outcome.rc != CURLE_OK; }

// A listing that went beyond a bound fails as too large, a refusal that
// does not pass: the same server sends the same listing again.
bool Overflowed(const FtpLineParser& parser, FtpOutcome& outcome) {
  if (parser.Overflow().empty()) return false;
  outcome.rc = CURLE_FILESIZE_EXCEEDED;
  outcome.lResponse = 0;
  outcome.sWhy = parser.Overflow();
  return true;
}

}  // namespace

FtpTransfer FtpListRequest::Start(const std::string& sPath, FtpSession& session) {
  m_sFolder = sPath;
  if (!m_sFolder.empty() && m_sFolder.back() != '/') m_sFolder += '/';
  m_listing = FtpListing();
  m_parser.Reset();
  m_listParser.Reset();
  m_lLink = 0;
  m_bSftp = session.IsSftp();
  return m_bSftp || session.facts.bNoMlsd ? List() : Mlsd();
}

FtpTransfer FtpListRequest::Mlsd() {
  m_eStage = Stage::kMlsd;
  return {m_sFolder,
          [this](EasyOptions& options) {
            options.Set(CURLOPT_CUSTOMREQUEST, "MLSD")
                .Set(CURLOPT_WRITEFUNCTION, &OnListingChecked)
                .Set(CURLOPT_WRITEDATA, AsData(m_parser));
          },
          [this] {
            m_listing = FtpListing();
            m_parser.Reset();
          },
          {},
          [this](const char* p, std::size_t n) { (void)m_parser.Feed(p, n); }};
}

FtpTransfer FtpListRequest::List() {
  m_eStage = Stage::kList;
  m_listing = FtpListing();
  m_listParser.Reset();
  // SFTP's listing is made by libcurl itself, line ends and all.
  const bool bSftp = m_bSftp;
  return {m_sFolder,
          [this, bSftp](EasyOptions& options) {
            options.Set(CURLOPT_WRITEFUNCTION, bSftp ? &OnListingData : &OnListingChecked)
                .Set(CURLOPT_WRITEDATA, AsData(m_listParser));
          },
          [this] {
            m_listing = FtpListing();
            m_listParser.Reset();
          },
          {},
          bSftp ? std::function<void(const char*, std::size_t)>()
                : [this](const char* p, std::size_t n) { (void)m_listParser.Feed(p, n); }};
}

std::optional<FtpTransfer> FtpListRequest::NextLink() {
  m_eStage = Stage::kLinks;
  while (m_lLink < m_listing.aEntries.size() && m_listing.aEntries[m_lLink].eKind != FtpListing::Kind::kLink) ++m_lLink;
  if (m_lLink == m_listing.aEntries.size()) return std::nullopt;
  // Over FTP, a folder URL with no body asked for is a change into the
  // folder and nothing else; over SFTP the folder is listed.
  const std::string sLink = m_sFolder + m_listing.aEntries[m_lLink].sName + "/";
  if (m_bSftp)
    return FtpTransfer{sLink, [](EasyOptions& options) { options.Set(CURLOPT_WRITEFUNCTION, &OnDiscard); }, [] {}};
  return FtpTransfer{sLink, [](EasyOptions& options) { options.Set(CURLOPT_NOBODY, 1L); }, [] {}};
}

std::optional<FtpTransfer> FtpListRequest::Continue(FtpOutcome& outcome, FtpSession& session) {
  switch (m_eStage) {
    case Stage::kMlsd:
      if (Overflowed(m_parser, outcome)) return std::nullopt;
      if (Failed(outcome) && !outcome.bTimedOut && (outcome.lResponse == 500 || outcome.lResponse == 502)) {
        session.facts.bNoMlsd = true;
        return List();
      }
      if (Failed(outcome)) return std::nullopt;
      m_parser.Finish();
      NoteLeftOut(session);
      return NextLink();
    case Stage::kList:
      // An FTP server that answers the listing of an empty folder with 450
      // gets no error from libcurl.
      if (Overflowed(m_listParser, outcome) || Failed(outcome)) return std::nullopt;
      m_listParser.Finish();
      NoteLeftOut(session);
      return NextLink();
    case Stage::kLinks: {
      const bool bRefused = Failed(outcome) && !outcome.bTimedOut && outcome.lResponse >= 400;
      // A probe that fails for any other reason (time-out, connection
      // lost) fails the listing.
      if (Failed(outcome) && !bRefused) return std::nullopt;
      m_listing.aEntries[m_lLink].eKind = bRefused ? FtpListing::Kind::kFile : FtpListing::Kind::kFolder;
      outcome = FtpOutcome();
      ++m_lLink;
      return NextLink();
    }
  }
  return std::nullopt;
}

void FtpListRequest::NoteLeftOut(FtpSession& session) const {
  if (m_listing.lLeftOut == 0) return;
  session.Note(std::to_string(m_listing.lLeftOut) + (m_listing.lLeftOut == 1 ? " entry" : " entries") +
               " of the listing of " + m_sFolder +
               " left out: a name holding \"/\", a line break or NUL, or a file named \".\" or \"..\"");
}

std::function<void()> FtpListRequest::Answer(int32_t lHandle, int32_t lCode, const std::string& sRequestId,
                                             intptr_t lUserValue) {
  if (m_pfnCallback == nullptr && m_pfnFactsCallback == nullptr) return {};
  std::vector<std::string> asFolders, asFiles;
  std::vector<OrvFtpFileFacts> aFacts;
  if (lCode == 0) {
    const auto lFolders = static_cast<std::size_t>(
        std::count_if(m_listing.aEntries.begin(), m_listing.aEntries.end(),
                      [](const FtpListing::Entry& entry) { return entry.eKind == FtpListing::Kind::kFolder; }));
    asFolders.reserve(lFolders);
    asFiles.reserve(m_listing.aEntries.size() - lFolders);
    aFacts.reserve(m_listing.aEntries.size() - lFolders);
    for (FtpListing::Entry& entry : m_listing.aEntries) {
      if (entry.eKind == FtpListing::Kind::kFolder) {
        asFolders.push_back(std::move(entry.sName));
      } else {
        asFiles.push_back(std::move(entry.sName));
        aFacts.push_back({entry.lSize, entry.lModified});
      }
    }
  }
  m_listing = FtpListing();
  return [lHandle, lCode, pfn = m_pfnCallback, pfnFacts = m_pfnFactsCallback, lUserValue, sId = sRequestId,
          asFolders = std::move(asFolders), asFiles = std::move(asFiles), aFacts = std::move(aFacts)] {
    std::vector<const char*> apFolders, apFiles;
    apFolders.reserve(asFolders.size());
    apFiles.reserve(asFiles.size());
    for (const std::string& s : asFolders) apFolders.push_back(s.c_str());
    for (const std::string& s : asFiles) apFiles.push_back(s.c_str());
    const auto lFolders = static_cast<int32_t>(apFolders.size());
    const auto lFiles = static_cast<int32_t>(apFiles.size());
    if (pfnFacts != nullptr)
      pfnFacts(lHandle, lCode, sId.c_str(), lUserValue, lFolders, apFolders.data(), lFiles, apFiles.data(),
               aFacts.data());
    else pfn(lHandle, lCode, sId.c_str(), lUserValue, lFolders, apFolders.data(), lFiles, apFiles.data());
  };
}
