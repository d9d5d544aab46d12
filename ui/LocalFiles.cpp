#include "LocalFiles.h"

#include <QFile>
#include <QStorageInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

#include "ByteText.h"
#include "NameOrder.h"
#include "OrvError.h"

namespace fs = std::filesystem;

namespace {

// Kernel and memory file systems that hold no user files.
bool IsVirtualFileSystem(const QByteArray& sType) {
  static const std::set<QByteArray> kTypes = {
      "autofs",   "binfmt_misc", "bpf",        "cgroup",    "cgroup2", "configfs", "debugfs", "devpts",
      "devtmpfs", "efivarfs",    "fusectl",    "hugetlbfs", "mqueue",  "nsfs",     "proc",    "pstore",
      "ramfs",    "rpc_pipefs",  "securityfs", "squashfs",  "sysfs",   "tmpfs",    "tracefs"};
  return kTypes.count(sType) != 0;
}

[[noreturn]] void RaiseFolderError(const std::error_code& ec, const std::string& sFolder, const char* szSource) {
  throw OrvError::FromErrno(ec.value(), sFolder, szSource);
}

// The folder's entries, one call of fnEach per entry; reading errors raise.
template <typename Fn>
void ForEachEntry(const std::string& sFolder, const char* szSource, Fn fnEach) {
  std::error_code ec;
  fs::directory_iterator it(sFolder, ec);
  if (ec) RaiseFolderError(ec, sFolder, szSource);
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) RaiseFolderError(ec, sFolder, szSource);
    fnEach(*it);
  }
  if (ec) RaiseFolderError(ec, sFolder, szSource);
}

}  // namespace

std::string LocalFiles_Join(const std::string& sFolder, const std::string& sName) {
  if (!sFolder.empty() && sFolder.back() == '/') return sFolder + sName;
  return sFolder + "/" + sName;
}

std::string LocalFiles_FolderPath(const std::string& sFolder) { return LocalFiles_Join(sFolder, ""); }

bool LocalFiles_IsHidden(const std::string& sName) { return !sName.empty() && sName.front() == '.'; }

std::vector<LocalFile> LocalFiles_List(const std::string& sFolder) {
  std::vector<LocalFile> vFiles;
  ForEachEntry(sFolder, "LocalFiles_List", [&](const fs::directory_entry& e) {
    std::string sName = e.path().filename().string();
    if (LocalFiles_IsHidden(sName)) return;
    // A link counts as what it points to; a broken one is no file.
    struct stat st;
    if (::stat(e.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    vFiles.push_back(
        {std::move(sName), static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec)});
  });
  return vFiles;
}

std::vector<std::string> LocalFiles_SubFolders(const std::string& sFolder) {
  std::vector<std::string> vsNames;
  ForEachEntry(sFolder, "LocalFiles_SubFolders", [&](const fs::directory_entry& e) {
    std::string sName = e.path().filename().string();
    if (LocalFiles_IsHidden(sName)) return;
    std::error_code ec;
    if (e.is_directory(ec)) vsNames.push_back(std::move(sName));
  });
  LocalFiles_SortNames(vsNames);
  return vsNames;
}

void LocalFiles_SortNames(std::vector<std::string>& vsNames) {
  std::vector<std::pair<QString, std::string>> vNamed;
  vNamed.reserve(vsNames.size());
  for (std::string& sName : vsNames) vNamed.emplace_back(ByteText_FromBytes(sName), std::move(sName));
  NameOrder::Sort(vNamed, [](const std::pair<QString, std::string>& o) -> const QString& { return o.first; });
  vsNames.clear();
  for (auto& o : vNamed) vsNames.push_back(std::move(o.second));
}

std::string LocalFiles_Normal(const std::string& sPath) {
  std::error_code ec;
  fs::path p = fs::absolute(sPath.empty() ? fs::path(".") : fs::path(sPath), ec);
  if (ec) p = fs::path(sPath);
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool LocalFiles_IsUnder(const std::string& sPath, const std::string& sRoot) {
  if (sPath == sRoot) return true;
  const std::string sPrefix = LocalFiles_FolderPath(sRoot);
  return sPath.compare(0, sPrefix.size(), sPrefix) == 0;
}

std::vector<std::string> LocalFiles_MountedDrives() {
  std::set<std::string> oOthers;
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    if (!v.isValid() || !v.isReady() || IsVirtualFileSystem(v.fileSystemType())) continue;
    const std::string sRoot = QFile::encodeName(v.rootPath()).toStdString();
    std::error_code ec;
    if (sRoot.empty() || sRoot == "/" || !fs::is_directory(sRoot, ec)) continue;
    oOthers.insert(sRoot);
  }
  std::vector<std::string> vsDrives{"/"};
  vsDrives.insert(vsDrives.end(), oOthers.begin(), oOthers.end());
  return vsDrives;
}

std::string LocalFiles_DriveOf(const std::string& sPath, const std::vector<std::string>& vsDrives) {
  std::string sDrive;
  for (const std::string& sCandidate : vsDrives) {
    if (LocalFiles_IsUnder(sPath, sCandidate) && sCandidate.size() > sDrive.size()) sDrive = sCandidate;
  }
  return sDrive;
}

std::string LocalFiles_DriveFolder(const std::string& sDrive, const std::vector<std::string>& vsDrives) {
  std::error_code ec;
  const fs::path oCwd = fs::current_path(ec);
  if (ec) return sDrive;
  const std::string sCwd = LocalFiles_Normal(oCwd.string());
  return LocalFiles_DriveOf(sCwd, vsDrives) == sDrive ? sCwd : sDrive;
}
