#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <filesystem>
#include <string>

// A small file system of its own (tmpfs), mounted on sPath for one test and
// unmounted when the object ends. Mounting needs root; Mounted() says
// whether it worked.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& sPath, const std::string& sOptions) : m_sPath(sPath) {
    std::filesystem::create_directories(sPath);
    m_bMounted = ::mount("tmpfs", sPath.c_str(), "tmpfs", 0, sOptions.c_str()) == 0;
  }
  ~SmallFileSystem() {
    // A file still open there (a program killed a moment ago) must not
    // leave the mount behind.
    if (m_bMounted && ::umount(m_sPath.c_str()) != 0) ::umount2(m_sPath.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool Mounted() const { return m_bMounted; }
  void Remount(unsigned long ulFlags, const std::string& sOptions) {
    ::mount("tmpfs", m_sPath.c_str(), "tmpfs", MS_REMOUNT | ulFlags, sOptions.c_str());
  }

 private:
  std::string m_sPath;
  bool m_bMounted = false;
};
