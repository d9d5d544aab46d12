#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "FtpPump.h"
#include "FtpTestServer.h"
#include "OrvFtpLibrary.h"

// Records what the library's callbacks deliver, for tests that drive the
// library directly.
struct FtpAnswer {
  enum class Kind { kDir, kGet, kPut, kCmd };
  Kind eKind;
  int32_t lHandle;
  int32_t lCode;
  std::string sId;
  intptr_t lUser;
  std::vector<std::string> asFolders;
  std::vector<std::string> asFiles;
  std::string sData;
  int32_t lEnd;
  std::thread::id thread;
  int64_t lValue = 0;  // a command's value (a size)
};

class FtpLibraryTest : public ::testing::Test {
 protected:
  static constexpr int32_t kLimitMs = 10000;

  void SetUp() override;
  void TearDown() override;

  static int32_t Connect(const LoopbackFtpServer& server);
  static int32_t Connect(const LoopbackFtpServer& server, const std::string& sPassword);
  static void Dir(int32_t lHandle, const std::string& sPath, const std::string& sId, int32_t lLimitMs = kLimitMs);
  static void Get(int32_t lHandle, const std::string& sPath, const std::string& sId, int32_t lLimitMs = kLimitMs,
                  std::size_t lChunk = 1048576);
  static void Put(int32_t lHandle, const std::string& sPath, const std::string& sId, const std::string& sData,
                  int32_t lLimitMs = kLimitMs);
  static void PutMove(int32_t lHandle, const std::string& sPath, const std::string& sId, std::string&& sData);
  // A put of sHead and then the open file iFd from sHead.size() up to lSize.
  static void PutFile(int32_t lHandle, const std::string& sPath, const std::string& sId, std::string sHead, int iFd,
                      std::uint64_t lSize);

  // The remote commands and the get into a local file.
  static void MkDir(int32_t lHandle, const std::string& sPath, const std::string& sId);
  static void Rename(int32_t lHandle, const std::string& sPath, const std::string& sNewName, const std::string& sId);
  static void Delete(int32_t lHandle, const std::string& sPath, const std::string& sId);
  static void Size(int32_t lHandle, const std::string& sPath, const std::string& sId);
  static void GetFile(int32_t lHandle, const std::string& sPath, const std::string& sLocalPath, const std::string& sId,
                      int32_t lLimitMs = kLimitMs);

  // Pumps until n answers are in; false on time-out.
  bool WaitForAnswers(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(30));
  const FtpAnswer& Only() const;

  static std::vector<FtpAnswer>& Answers();
  static std::vector<std::string>& Logs();
  static bool LogsContain(const std::string& s);

  FtpPump m_pump;
};

// The names in a local folder, sorted; a local file's bytes, empty when it
// cannot be read.
std::vector<std::string> Names(const std::filesystem::path& folder);
std::string ReadLocal(const std::filesystem::path& path);
