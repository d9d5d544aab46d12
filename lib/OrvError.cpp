#include "OrvError.h"

#include <cerrno>
#include <filesystem>
#include <utility>

OrvError::OrvError(long lNumber, std::string sDescription, std::string sSource)
    : m_lNumber(lNumber), m_sDescription(std::move(sDescription)), m_sSource(std::move(sSource)) {}

std::string OrvError::StandardDescription(long lNumber) {
  switch (lNumber) {
    case kInvalidCall: return "Invalid procedure call or argument";
    case kOverflow: return "Overflow";
    case kSubscriptOutOfRange: return "Subscript out of range";
    case kFileNotFound: return "File not found";
    case kBadFileMode: return "Bad file mode";
    case kDeviceIo: return "Device I/O error";
    case kDiskFull: return "Disk full";
    case kPermissionDenied: return "Permission denied";
    case kPathFileAccess: return "Path/File access error";
    case kPathNotFound: return "Path not found";
    case kComponentLoad: return "Failed to load a user interface component";
    default: return "Application-defined or object-defined error";
  }
}

OrvError OrvError::FromNumber(long lNumber, std::string sSource) {
  return OrvError(lNumber, StandardDescription(lNumber), std::move(sSource));
}

OrvError OrvError::FromErrno(int iErrno, const std::string& sPath, std::string sSource) {
  long lNumber = kPathFileAccess;
  switch (iErrno) {
    case ENOENT: {
      // A missing file in an existing folder is "file not found"; a missing
      // folder on the way is "path not found".
      std::error_code ec;
      std::filesystem::path parent = std::filesystem::path(sPath).parent_path();
      bool bParentThere = parent.empty() || std::filesystem::is_directory(parent, ec);
      lNumber = bParentThere ? kFileNotFound : kPathNotFound;
      break;
    }
    case ENOTDIR: lNumber = kPathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: lNumber = kPermissionDenied; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: lNumber = kDiskFull; break;
    case EIO: lNumber = kDeviceIo; break;
    default: lNumber = kPathFileAccess; break;
  }
  return FromNumber(lNumber, std::move(sSource));
}
