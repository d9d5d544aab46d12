#pragma once

#include <cstddef>
#include <cstdint>

// One entry per fuzz target. The libFuzzer programs call one of them per
// input; the replay test feeds each the files of its saved corpus
// (tests/fuzz/corpus/<name>/).
namespace orvfuzz {

using Entry = void (*)(const uint8_t* pData, std::size_t lSize);

void SecretEncoder(const uint8_t* pData, std::size_t lSize);
void StringList(const uint8_t* pData, std::size_t lSize);
void CommandLine(const uint8_t* pData, std::size_t lSize);
void DirListing(const uint8_t* pData, std::size_t lSize);
void TextHelpers(const uint8_t* pData, std::size_t lSize);

struct Target {
  const char* sName;  // also the corpus folder's name
  Entry fnEntry;
};

inline constexpr Target kTargets[] = {
    {"sec", SecretEncoder},     {"stringlist", StringList},   {"commandline", CommandLine},
    {"dirlisting", DirListing}, {"texthelpers", TextHelpers},
};

}  // namespace orvfuzz
