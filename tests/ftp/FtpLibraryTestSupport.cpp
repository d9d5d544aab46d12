#include "FtpLibraryTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace {

std::vector<FtpAnswer> g_answers;
std::vector<std::string> g_logs;

int32_t OnLog(const char* s) {
  g_logs.emplace_back(s);
  return 0;
}

int32_t OnDir(int32_t lHandle, int32_t lCode, const char* sId, intptr_t lUser, int32_t nFolders,
              const char* const* asFolders, int32_t nFiles, const char* const* asFiles) {
  FtpAnswer a{FtpAnswer::Kind::kDir, lHandle, lCode, sId, lUser, {}, {}, {}, 0, std::this_thread::get_id()};
  for (int32_t i = 0; i < nFolders; ++i) a.asFolders.emplace_back(asFolders[i]);
  for (int32_t i = 0; i < nFiles; ++i) a.asFiles.emplace_back(asFiles[i]);
  g_answers.push_back(std::move(a));
  return 0;
}

int32_t OnGet(int32_t lHandle, int32_t lCode, const char* sId, intptr_t lUser, std::size_t lLength, const char* pData,
              int32_t lEnd) {
  g_answers.push_back({FtpAnswer::Kind::kGet,
                       lHandle,
                       lCode,
                       sId,
                       lUser,
                       {},
                       {},
                       std::string(pData, lLength),
                       lEnd,
                       std::this_thread::get_id()});
  return 0;
}

int32_t OnPut(int32_t lHandle, int32_t lCode, const char* sId, intptr_t lUser) {
  g_answers.push_back({FtpAnswer::Kind::kPut, lHandle, lCode, sId, lUser, {}, {}, {}, 0, std::this_thread::get_id()});
  return 0;
}

int32_t OnCmd(int32_t lHandle, int32_t lCode, const char* sId, intptr_t lUser, int64_t lValue) {
  FtpAnswer a{FtpAnswer::Kind::kCmd, lHandle, lCode, sId, lUser, {}, {}, {}, 0, std::this_thread::get_id()};
  a.lValue = lValue;
  g_answers.push_back(std::move(a));
  return 0;
}

}  // namespace

void FtpLibraryTest::MkDir(int32_t lHandle, const std::string& sPath, const std::string& sId) {
  OrvFtpClientMkDirReq(lHandle, sPath.c_str(), sId.c_str(), kLimitMs, OnCmd, 0);
}

void FtpLibraryTest::Rename(int32_t lHandle, const std::string& sPath, const std::string& sNewName,
                            const std::string& sId) {
  OrvFtpClientRenameReq(lHandle, sPath.c_str(), sNewName.c_str(), sId.c_str(), kLimitMs, OnCmd, 0);
}

void FtpLibraryTest::Delete(int32_t lHandle, const std::string& sPath, const std::string& sId) {
  OrvFtpClientDeleteReq(lHandle, sPath.c_str(), sId.c_str(), kLimitMs, OnCmd, 0);
}

void FtpLibraryTest::Size(int32_t lHandle, const std::string& sPath, const std::string& sId) {
  OrvFtpClientSizeReq(lHandle, sPath.c_str(), sId.c_str(), kLimitMs, OnCmd, 0);
}

void FtpLibraryTest::GetFile(int32_t lHandle, const std::string& sPath, const std::string& sLocalPath,
                             const std::string& sId, int32_t lLimitMs) {
  OrvFtpClientGetFileReq(lHandle, sPath.c_str(), sLocalPath.c_str(), sId.c_str(), lLimitMs, OnPut, 0);
}

void FtpLibraryTest::SetUp() {
  g_answers.clear();
  g_logs.clear();
  OrvFtpClientInit(OnLog);
}

void FtpLibraryTest::TearDown() {
  OrvFtpClientShutdown();
  if (HasFailure() || std::getenv("ORV_FTP_SHOW_LOG") != nullptr)
    for (const std::string& s : g_logs) std::cout << "library log: " << s << "\n";
}

int32_t FtpLibraryTest::Connect(const LoopbackFtpServer& server) { return Connect(server, server.Password()); }

int32_t FtpLibraryTest::Connect(const LoopbackFtpServer& server, const std::string& sPassword) {
  return OrvFtpClientCreate(server.Host().c_str(), static_cast<int16_t>(static_cast<uint16_t>(server.Port())),
                            server.User().c_str(), sPassword.c_str());
}

void FtpLibraryTest::Dir(int32_t lHandle, const std::string& sPath, const std::string& sId, int32_t lLimitMs) {
  OrvFtpClientDirReq(lHandle, sPath.c_str(), sId.c_str(), lLimitMs, OnDir, 0);
}

void FtpLibraryTest::Get(int32_t lHandle, const std::string& sPath, const std::string& sId, int32_t lLimitMs,
                         std::size_t lChunk) {
  OrvFtpClientGetReq(lHandle, sPath.c_str(), sId.c_str(), lLimitMs, lChunk, OnGet, 0);
}

void FtpLibraryTest::Put(int32_t lHandle, const std::string& sPath, const std::string& sId, const std::string& sData,
                         int32_t lLimitMs) {
  OrvFtpClientPutReq(lHandle, sPath.c_str(), sId.c_str(), sData.size(), sData.data(), lLimitMs, OnPut, 0);
}

void FtpLibraryTest::PutMove(int32_t lHandle, const std::string& sPath, const std::string& sId, std::string&& sData) {
  OrvFtpClientPutReqMove(lHandle, sPath.c_str(), sId.c_str(), std::move(sData), kLimitMs, OnPut, 0);
}

void FtpLibraryTest::PutFile(int32_t lHandle, const std::string& sPath, const std::string& sId, std::string sHead,
                             int iFd, std::uint64_t lSize) {
  OrvFtpClientPutFileReq(lHandle, sPath.c_str(), sId.c_str(), std::move(sHead), iFd, lSize, kLimitMs, OnPut, 0);
}

bool FtpLibraryTest::WaitForAnswers(std::size_t n, std::chrono::milliseconds timeout) {
  return m_pump.Until([n] { return g_answers.size() >= n; }, timeout);
}

const FtpAnswer& FtpLibraryTest::Only() const {
  if (g_answers.size() != 1) throw std::runtime_error(std::to_string(g_answers.size()) + " answers, not one");
  return g_answers.front();
}

std::vector<FtpAnswer>& FtpLibraryTest::Answers() { return g_answers; }

std::vector<std::string>& FtpLibraryTest::Logs() { return g_logs; }

bool FtpLibraryTest::LogsContain(const std::string& s) {
  for (const std::string& sLine : g_logs)
    if (sLine.find(s) != std::string::npos) return true;
  return false;
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> asNames;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder))
    asNames.push_back(entry.path().filename());
  std::sort(asNames.begin(), asNames.end());
  return asNames;
}

std::string ReadLocal(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
