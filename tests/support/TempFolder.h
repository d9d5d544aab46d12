#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object ends.
class TempFolder {
 public:
  TempFolder() {
    std::string sTemplate = (std::filesystem::temp_directory_path() / "orvtest.XXXXXX").string();
    if (!::mkdtemp(sTemplate.data())) throw std::runtime_error("mkdtemp failed");
    m_sPath = sTemplate;
  }
  ~TempFolder() {
    std::error_code ec;
    // Make read-only leftovers of a test removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(m_sPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ec);
    }
    std::filesystem::remove_all(m_sPath, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return m_sPath; }

 private:
  std::string m_sPath;
};
