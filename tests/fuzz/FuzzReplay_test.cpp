// Every saved fuzz input runs again through its target, so whatever a
// fuzzer once found stays found.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"

namespace orvfuzz {
// Names the target in test output.
void PrintTo(const Target& target, std::ostream* pOut) { *pOut << target.sName; }
}  // namespace orvfuzz

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(const std::string& sTarget) {
  const fs::path dir = fs::path(ORV_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / sTarget;
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzCorpus : public ::testing::TestWithParam<orvfuzz::Target> {};

TEST_P(FuzzCorpus, EverySavedInputKeepsTheTargetsProperties) {
  const orvfuzz::Target& target = GetParam();
  const std::vector<fs::path> files = CorpusFiles(target.sName);
  ASSERT_FALSE(files.empty()) << "no saved inputs for " << target.sName;
  for (const fs::path& file : files) {
    const std::string sData = Bytes(file);
    try {
      target.fnEntry(reinterpret_cast<const uint8_t*>(sData.data()), sData.size());
    } catch (const orvfuzz::CheckFailure& e) {
      ADD_FAILURE() << file.filename() << ": " << e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << file.filename() << ": escaped " << typeid(e).name() << ": " << e.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus, ::testing::ValuesIn(orvfuzz::kTargets),
                         [](const ::testing::TestParamInfo<orvfuzz::Target>& info) {
                           return std::string(info.param.sName);
                         });

}  // namespace
