#include "Outbox.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "LibOrv.h"
#include "OrvError.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Outbox";
constexpr char kHeader[] = "OrvFtpUploader kept alarm";
constexpr char kEndLine[] = "end";
constexpr char kWorkPrefix[] = ".new-";
constexpr char kGonePrefix[] = ".gone-";
// A work folder nobody holds is left alone this long: its run may have made
// it a moment ago and not have locked it yet.
constexpr auto kLeftoverAge = std::chrono::minutes(10);

OrvError Damaged(const std::string& sWhy) { return OrvError(OrvError::kPathFileAccess, sWhy, kSource); }

// Values are one line each: "%", CR and LF are written as %25, %0D, %0A.
std::string Escaped(const std::string& s) {
  std::string sOut;
  for (char c : s) {
    if (c == '%' || c == '\r' || c == '\n') {
      char ac[4];
      std::snprintf(ac, sizeof ac, "%%%02X", static_cast<unsigned char>(c));
      sOut += ac;
    } else {
      sOut += c;
    }
  }
  return sOut;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Unescaped(const std::string& s) {
  std::string sOut;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      sOut += s[i];
      continue;
    }
    const int iHigh = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
    const int iLow = i + 2 < s.size() ? HexDigit(s[i + 2]) : -1;
    if (iHigh < 0 || iLow < 0) throw Damaged("the manifest holds a broken value");
    sOut += static_cast<char>(iHigh * 16 + iLow);
    i += 2;
  }
  return sOut;
}

// A stored name is one the outbox gave: a plain name inside the alarm folder.
bool IsStoredName(const std::string& s) {
  return !s.empty() && s[0] != '.' && s.find('/') == std::string::npos && s != Outbox::kManifestName;
}

bool StartsWith(const std::string& s, const char* szPrefix) { return s.rfind(szPrefix, 0) == 0; }

// "<stored name> <size> <remote path>"
OutboxFile ParseFileLine(const std::string& sValue) {
  const std::size_t pSize = sValue.find(' ');
  const std::size_t pPath = pSize == std::string::npos ? std::string::npos : sValue.find(' ', pSize + 1);
  if (pPath == std::string::npos) throw Damaged("the manifest holds a broken file line");
  OutboxFile oFile;
  oFile.sStoredName = sValue.substr(0, pSize);
  const std::string sSize = sValue.substr(pSize + 1, pPath - pSize - 1);
  oFile.sRemotePath = Unescaped(sValue.substr(pPath + 1));
  if (!IsStoredName(oFile.sStoredName) || sSize.empty() || sSize.size() > 19 ||
      !std::all_of(sSize.begin(), sSize.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      oFile.sRemotePath.empty()) {
    throw Damaged("the manifest holds a broken file line");
  }
  oFile.lSize = std::stoull(sSize);
  return oFile;
}

// The file of an earlier "file=" line.
OutboxFile& FileNamed(const std::string& sStoredName, std::vector<OutboxFile>& files) {
  for (OutboxFile& oFile : files)
    if (oFile.sStoredName == sStoredName) return oFile;
  throw Damaged("the manifest names a file it does not list");
}

// "<stored name> <temporary name>"
void ParseTemporaryLine(const std::string& sValue, std::vector<OutboxFile>& files) {
  const std::size_t pName = sValue.find(' ');
  if (pName == std::string::npos) throw Damaged("the manifest holds a broken temporary line");
  const std::string sTemporary = Unescaped(sValue.substr(pName + 1));
  if (sTemporary.empty() || sTemporary.find_first_of("/\r\n") != std::string::npos)
    throw Damaged("the manifest holds a broken temporary line");
  FileNamed(sValue.substr(0, pName), files).sTemporary = sTemporary;
}

int ParseCount(const std::string& sValue) {
  if (sValue.empty() || sValue.size() > 6 ||
      !std::all_of(sValue.begin(), sValue.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw Damaged("the manifest holds a broken count");
  return std::stoi(sValue);
}

}  // namespace

std::string OutboxManifest_Text(const OutboxManifest& oManifest) {
  std::string s = std::string(kHeader) + "\n";
  s += "server=" + Escaped(oManifest.sServer) + "\n";
  s += "user=" + Escaped(oManifest.sUser) + "\n";
  s += "folder=" + Escaped(oManifest.sFolder) + "\n";
  if (oManifest.iRefusals > 0) s += "refused=" + std::to_string(oManifest.iRefusals) + "\n";
  for (const OutboxFile& oFile : oManifest.files) {
    s += "file=" + oFile.sStoredName + " " + std::to_string(oFile.lSize) + " " + Escaped(oFile.sRemotePath) + "\n";
    if (!oFile.sTemporary.empty()) s += "temporary=" + oFile.sStoredName + " " + Escaped(oFile.sTemporary) + "\n";
    if (oFile.bArrived) s += "arrived=" + oFile.sStoredName + "\n";
  }
  return s + kEndLine + "\n";
}

OutboxManifest OutboxManifest_Parse(const std::string& sText) {
  std::vector<std::string> vsLines;
  for (std::size_t p = 0, e; (e = sText.find('\n', p)) != std::string::npos; p = e + 1)
    vsLines.push_back(sText.substr(p, e - p));
  if (vsLines.empty() || vsLines.front() != kHeader) throw Damaged("the manifest is not one");
  // The last line marks a manifest that is whole.
  if (vsLines.back() != kEndLine || sText.back() != '\n') throw Damaged("the manifest is cut short");
  OutboxManifest oManifest;
  for (std::size_t i = 1; i + 1 < vsLines.size(); ++i) {
    const std::string& sLine = vsLines[i];
    const std::size_t pEq = sLine.find('=');
    if (pEq == std::string::npos) throw Damaged("the manifest holds a broken line");
    const std::string sKey = sLine.substr(0, pEq);
    const std::string sValue = sLine.substr(pEq + 1);
    if (sKey == "server") oManifest.sServer = Unescaped(sValue);
    else if (sKey == "user") oManifest.sUser = Unescaped(sValue);
    else if (sKey == "folder") oManifest.sFolder = Unescaped(sValue);
    else if (sKey == "file") oManifest.files.push_back(ParseFileLine(sValue));
    else if (sKey == "temporary") ParseTemporaryLine(sValue, oManifest.files);
    else if (sKey == "arrived") FileNamed(sValue, oManifest.files).bArrived = true;
    else if (sKey == "refused") oManifest.iRefusals = ParseCount(sValue);
  }
  if (oManifest.files.empty()) throw Damaged("the manifest names no file");
  return oManifest;
}

OutboxManifest KeptAlarm::Read() const {
  OutboxManifest oManifest;
  try {
    oManifest = OutboxManifest_Parse(LibOrv_ReadFile(m_sPath + "/" + Outbox::kManifestName));
  } catch (const OrvError& e) {
    if (e.Source() == kSource) throw;
    throw Damaged("its manifest cannot be read (" + e.Description() + ")");
  }
  for (const OutboxFile& oFile : oManifest.files) {
    struct stat st {};
    if (::stat((m_sPath + "/" + oFile.sStoredName).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      throw Damaged("file " + oFile.sStoredName + " is missing");
    if (static_cast<std::uint64_t>(st.st_size) != oFile.lSize) {
      throw Damaged("file " + oFile.sStoredName + " holds " + std::to_string(st.st_size) + " bytes, not " +
                    std::to_string(oFile.lSize));
    }
  }
  return oManifest;
}

void KeptAlarm::WriteManifest(const std::string& sPath, const OutboxManifest& oManifest) {
  const std::string sNew = sPath + "/." + Outbox::kManifestName;
  ::unlink(sNew.c_str());
  OutboxDisk_WriteFile(sNew, OutboxManifest_Text(oManifest));
  const std::string sManifest = sPath + "/" + Outbox::kManifestName;
  if (::rename(sNew.c_str(), sManifest.c_str()) != 0) throw OutboxDisk_Error(errno, "cannot rename", sNew);
}

std::vector<std::string> Outbox::AlarmNames() const {
  std::vector<std::string> vsNames;
  std::error_code ec;
  for (fs::directory_iterator it(m_sFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string sName = it->path().filename().string();
    if (sName.empty() || sName[0] == '.' || sName == kFailedName) continue;
    std::error_code ecType;
    if (it->symlink_status(ecType).type() == fs::file_type::directory) vsNames.push_back(sName);
  }
  std::sort(vsNames.begin(), vsNames.end());
  return vsNames;
}

std::vector<std::string> Outbox::WaitingAlarmNames() const {
  std::vector<std::string> vsNames = AlarmNames();
  std::erase_if(vsNames, [this](const std::string& sName) { return !OutboxDisk_LockFolder(AlarmPath(sName), false); });
  return vsNames;
}

std::optional<KeptAlarm> Outbox::Take(const std::string& sName) const {
  const std::string sPath = m_sFolder + "/" + sName;
  UniqueFd fdLock = OutboxDisk_LockFolder(sPath, false);
  // Once locked, the folder must still be the alarm: a run that delivered
  // it meanwhile has moved it away before letting go of it.
  if (!fdLock || !OutboxDisk_IsAt(fdLock, sPath)) return std::nullopt;
  return KeptAlarm(sName, sPath, std::move(fdLock));
}

bool Outbox::Remove(KeptAlarm&& oAlarm) const {
  const KeptAlarm oGoing = std::move(oAlarm);
  const std::string sGone = m_sFolder + "/" + kGonePrefix + oGoing.Name();
  bool bRemoved = false;
  if (::rename(oGoing.Path().c_str(), sGone.c_str()) == 0) {
    bRemoved = true;
    OutboxDisk_RemoveAll(sGone);
  } else {
    bRemoved = OutboxDisk_RemoveAll(oGoing.Path());
  }
  // Not made last on disk: should a power failure undo the removal, the
  // alarm goes out once more, which is better than a wait for the disk.
  return bRemoved;
}

void Outbox::SetAside(KeptAlarm&& oAlarm) const {
  const KeptAlarm oGoing = std::move(oAlarm);
  const std::string sFailed = m_sFolder + "/" + kFailedName;
  if (::mkdir(sFailed.c_str(), 0700) != 0 && errno != EEXIST) throw OutboxDisk_Error(errno, "cannot make", sFailed);
  if (::rename(oGoing.Path().c_str(), (sFailed + "/" + oGoing.Name()).c_str()) != 0)
    throw OutboxDisk_Error(errno, "cannot move", oGoing.Path());
}

void Outbox::RemoveLeftovers(const OutboxLogFn& fnLog) const {
  std::error_code ec;
  std::vector<std::string> vsLeftovers;
  for (fs::directory_iterator it(m_sFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string sName = it->path().filename().string();
    if (StartsWith(sName, kWorkPrefix) || StartsWith(sName, kGonePrefix)) vsLeftovers.push_back(sName);
  }
  const auto tOld = fs::file_time_type::clock::now() - kLeftoverAge;
  for (const std::string& sName : vsLeftovers) {
    const std::string sPath = AlarmPath(sName);
    UniqueFd fdLock = OutboxDisk_LockFolder(sPath, false);
    if (!fdLock || !OutboxDisk_IsAt(fdLock, sPath)) continue;
    if (StartsWith(sName, kGonePrefix)) {
      OutboxDisk_RemoveAll(sPath);
      continue;
    }
    // Its run wrote the manifest last, and only while it held the lock.
    const KeptAlarm oDraft(sName, sPath, std::move(fdLock));
    try {
      oDraft.Read();
      const std::string sAlarm = sName.substr(std::size(kWorkPrefix) - 1);
      if (::rename(sPath.c_str(), AlarmPath(sAlarm).c_str()) != 0)
        throw OutboxDisk_Error(errno, "cannot rename", sPath);
      fnLog("Outbox: a run that ended early left its alarm put together; it is kept as " + sAlarm);
      continue;
    } catch (const OrvError& e) {
      std::error_code ecTime;
      const fs::file_time_type tChanged = fs::last_write_time(sPath, ecTime);
      if (ecTime || tChanged >= tOld) continue;
      fnLog("Outbox: " + sName + ", an alarm that a run which ended early had not put together, is removed (" +
            e.Description() + ")");
    }
    OutboxDisk_RemoveAll(sPath);
  }
}

std::pair<std::string, UniqueFd> Outbox::NewWorkFolder(const std::string& sStamp) const {
  if (::mkdir(m_sFolder.c_str(), 0700) != 0 && errno != EEXIST)
    throw OutboxDisk_Error(errno, "cannot make the folder", m_sFolder);
  std::string sWork = m_sFolder + "/" + kWorkPrefix + sStamp + "-XXXXXX";
  if (!::mkdtemp(sWork.data())) throw OutboxDisk_Error(errno, "cannot make a folder in", m_sFolder);
  UniqueFd fdLock = OutboxDisk_LockFolder(sWork, true);
  if (!fdLock) {
    const int iErrno = errno;
    OutboxDisk_RemoveAll(sWork);
    throw OutboxDisk_Error(iErrno, "cannot lock", sWork);
  }
  return {sWork, std::move(fdLock)};
}

std::string Outbox::Admit(const std::string& sWork, std::uint64_t lSize, const OutboxLogFn& fnLog) const {
  const std::string sName = fs::path(sWork).filename().string().substr(std::size(kWorkPrefix) - 1);
  // One run at a time counts and makes room, so that two runs that keep an
  // alarm at once do not both take the last place.
  UniqueFd fdOutbox = OutboxDisk_LockFolder(m_sFolder, true);
  if (!fdOutbox) throw OutboxDisk_Error(errno, "cannot lock", m_sFolder);
  RemoveLeftovers(fnLog);
  std::vector<std::string> vsNames = AlarmNames();
  std::size_t lCount = vsNames.size();
  std::uint64_t lTotal = 0;
  for (const std::string& s : vsNames) lTotal += AlarmSize(s);
  for (const std::string& sOldest : vsNames) {
    if (lCount < kMaxAlarms && lTotal + lSize <= kMaxSize) break;
    std::optional<KeptAlarm> oOld = Take(sOldest);
    if (!oOld) continue;  // on its way out with another run
    const std::uint64_t lOld = AlarmSize(sOldest);
    if (!Remove(std::move(*oOld))) continue;
    --lCount;
    lTotal -= std::min(lTotal, lOld);
    fnLog("Outbox: full, the oldest kept alarm " + sOldest + " was removed");
  }
  if (::rename(sWork.c_str(), (m_sFolder + "/" + sName).c_str()) != 0)
    throw OutboxDisk_Error(errno, "cannot rename", sWork);
  return sName;
}

std::uint64_t Outbox::AlarmSize(const std::string& sName) const {
  std::uint64_t lSize = 0;
  std::error_code ec;
  for (fs::directory_iterator it(m_sFolder + "/" + sName, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ecSize;
    const std::uintmax_t l = it->is_regular_file(ecSize) ? it->file_size(ecSize) : 0;
    if (!ecSize) lSize += l;
  }
  return lSize;
}
