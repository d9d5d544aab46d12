#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The local file system as the window's local side sees it. Paths are byte
// strings with "/" as separator; a folder path carries no trailing "/"
// except the root "/" itself.

// sFolder joined with sName, without doubling a separator that sFolder
// already ends with.
std::string LocalFiles_Join(const std::string& sFolder, const std::string& sName);

// The folder path as the path field shows it: the folder and one "/".
std::string LocalFiles_FolderPath(const std::string& sFolder);

// Hidden entries are those whose name starts with ".".
bool LocalFiles_IsHidden(const std::string& sName);

// A file of a folder: its name, size in bytes and the time of its last
// change (seconds since 1970 UTC).
struct LocalFile {
  std::string sName;
  std::int64_t lSize;
  std::int64_t lModified;
};

// The folder's ordinary files in the order the file system enumerates
// them: no subfolders, no hidden entries and nothing that is neither a
// regular file nor a folder (sockets, devices, FIFOs, broken links); a link
// counts as the file it points to. Raises OrvError when the folder cannot
// be read.
std::vector<LocalFile> LocalFiles_List(const std::string& sFolder);

// The folder's visible subfolders, sorted by name as people sort
// (NameOrder).
// Raises OrvError when the folder cannot be read.
std::vector<std::string> LocalFiles_SubFolders(const std::string& sFolder);

// Sorts names (bytes, as the file system gives them) in the order the
// lists show them: NameOrder over their shown text.
void LocalFiles_SortNames(std::vector<std::string>& vsNames);

// sPath made absolute and normal: no ".", "..", doubled or trailing "/".
std::string LocalFiles_Normal(const std::string& sPath);

// True when sPath is sRoot or lies below it.
bool LocalFiles_IsUnder(const std::string& sPath, const std::string& sRoot);

// The mount points of the mounted real file systems that are folders, "/"
// first, then the others in name order.
std::vector<std::string> LocalFiles_MountedDrives();

// The drive of vsDrives that holds sPath: the deepest one; empty when none.
std::string LocalFiles_DriveOf(const std::string& sPath, const std::vector<std::string>& vsDrives);

// A drive's current folder: the process's current folder when it lies on
// that drive (the deepest drive of vsDrives that holds it), else the drive's
// mount point.
std::string LocalFiles_DriveFolder(const std::string& sDrive, const std::vector<std::string>& vsDrives);
