#include "AppFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "LibOrv.h"
#include "OrvError.h"

namespace {

constexpr const char kSource[] = "AppFolders";
constexpr const char kOwnFolder[] = "/OrvFtpUploader";
constexpr const char kSettingsName[] = "/OrvFtpUploader.cfg";

// A folder the user can write (a portable copy, the build tree, an
// installation that belongs to the alarm system's user) holds the files
// itself, as it always did.
bool BesideTheProgram(const std::string& sProgramFolder) {
  return ::faccessat(AT_FDCWD, sProgramFolder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string HomeFolder() {
  const char* sz = std::getenv("HOME");
  if (sz && *sz) return sz;
  const passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_dir ? pw->pw_dir : "/";
}

// A base folder of the user: the variable when it names an absolute path
// (others are to be ignored), else its default below the home folder.
std::string UserBaseFolder(const char* szVariable, const char* szBelowHome) {
  const char* sz = std::getenv(szVariable);
  if (sz && sz[0] == '/') return sz;
  return HomeFolder() + szBelowHome;
}

// Makes sFolder and every missing folder above it, each for its owner only.
// A folder that cannot be made shows up at the first file put there.
void MakeOwnerOnlyFolders(const std::string& sFolder) {
  for (std::size_t p = sFolder.find('/', 1);; p = sFolder.find('/', p + 1)) {
    const std::string sPart = sFolder.substr(0, p);
    if (::mkdir(sPart.c_str(), 0700) != 0 && errno != EEXIST) return;
    if (p == std::string::npos) return;
  }
}

// The user's own folder below the state base, made when missing.
std::string UserStateFolder() {
  const std::string sFolder = UserBaseFolder("XDG_STATE_HOME", "/.local/state") + kOwnFolder;
  MakeOwnerOnlyFolders(sFolder);
  return sFolder;
}

}  // namespace

std::string AppFolders_SettingsFile(const std::string& sProgramFolder) {
  const std::string sBeside = sProgramFolder + kSettingsName;
  if (BesideTheProgram(sProgramFolder)) return sBeside;

  // The file beside the program is the template of every user's settings,
  // and it must exist just as the settings file itself must where it is used.
  struct stat st {};
  if (::stat(sBeside.c_str(), &st) != 0) throw OrvError::FromErrno(errno, sBeside, kSource);
  const std::string sFolder = UserBaseFolder("XDG_CONFIG_HOME", "/.config") + kOwnFolder;
  const std::string sOwn = sFolder + kSettingsName;
  if (::lstat(sOwn.c_str(), &st) != 0 && errno == ENOENT) {
    MakeOwnerOnlyFolders(sFolder);
    LibOrv_WriteFile(LibOrv_ReadFile(sBeside), sOwn, true);
  }
  return sOwn;
}

std::string AppFolders_LogFolder(const std::string& sProgramFolder) {
  if (BesideTheProgram(sProgramFolder)) return sProgramFolder + "/log";
  return UserStateFolder() + "/log";
}

std::string AppFolders_OutboxFolder(const std::string& sProgramFolder) {
  if (BesideTheProgram(sProgramFolder)) return sProgramFolder + "/outbox";
  return UserStateFolder() + "/outbox";
}
