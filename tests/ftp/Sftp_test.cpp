// The library over SFTP against OpenSSH's sshd on loopback: listings, gets,
// whole-file puts, the remote commands, host keys and log-ins, sessions the
// server drops, progress and cancel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FtpLibraryTestSupport.h"
#include "FtpTestServer.h"
#include "SshTestServer.h"
#include "TempFolder.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A home of the test's own, whose .ssh/known_hosts knows what the test
// writes into it.
class SftpTest : public FtpLibraryTest {
 protected:
  void SetUp() override {
    const char* sHome = std::getenv("HOME");
    m_sOldHome = sHome ? sHome : "";
    ::setenv("HOME", m_home.Path().c_str(), 1);
    fs::create_directories(SshFolder());
    FtpLibraryTest::SetUp();
  }
  void TearDown() override {
    FtpLibraryTest::TearDown();
    ::setenv("HOME", m_sOldHome.c_str(), 1);
  }

  fs::path SshFolder() const { return fs::path(m_home.Path()) / ".ssh"; }
  void KnowHosts(const std::string& sLines) const { std::ofstream(SshFolder() / "known_hosts") << sLines << "\n"; }

  static int32_t Connect(const SshTestServer& server, const std::string& sPassword) {
    return OrvFtpClientCreateSecure(server.Host().c_str(), static_cast<int16_t>(static_cast<uint16_t>(server.Port())),
                                    server.User().c_str(), sPassword.c_str(), OrvFtpSecurity::kSftp);
  }

  TempFolder m_home;
  TempFolder m_local;
  std::string m_sOldHome;
};

}  // namespace

TEST_F(SftpTest, ListGetPutAndTheRemoteCommands) {
  SshTestServer server;
  KnowHosts(server.HashedKnownHostsLine());
  server.MakeFolder("/real");
  server.WriteFile("/real/inner.txt", "inner");
  server.WriteFile("/two words.txt", "two words");
  server.WriteFile("/ lead.txt", "lead");
  server.WriteFile("/caf\xE9.txt", "Latin-1");
  server.MakeLink("/linkdir", "real");
  server.MakeLink("/linkfile", "two words.txt");
  server.MakeLink("/dangling", "nowhere");
  const int32_t h = Connect(server, server.Password());
  Dir(h, "/", "root");
  Dir(h, "/linkdir/", "through the link");
  Get(h, "/caf\xE9.txt", "get");
  Put(h, "/in/cam7/x.jpg", "put", "new picture");
  Put(h, "/in/cam7/x.jpg", "put again", "newer picture");
  MkDir(h, "/made", "mkdir");
  Rename(h, "/two words.txt", "renamed.txt", "rename");
  Size(h, "/renamed.txt", "size");
  Delete(h, "/renamed.txt", "delete");
  Delete(h, "/renamed.txt", "delete again");
  GetFile(h, "/in/cam7/x.jpg", m_local.Path() + "/x.jpg", "get into a file");
  ASSERT_TRUE(WaitForAnswers(11));
  std::vector<int32_t> codes;
  for (const FtpAnswer& a : Answers()) codes.push_back(a.lCode);
  EXPECT_THAT(codes, ElementsAre(0, 0, 0, 0, 0, 0, 0, 0, 0, 550, 0));
  EXPECT_THAT(Answers()[0].asFolders, UnorderedElementsAre("real", "linkdir"));
  EXPECT_THAT(Answers()[0].asFiles,
              UnorderedElementsAre("two words.txt", " lead.txt", "caf\xE9.txt", "linkfile", "dangling"));
  EXPECT_THAT(Answers()[1].asFiles, ElementsAre("inner.txt"));
  EXPECT_EQ(Answers()[2].sData, "Latin-1");
  EXPECT_EQ(server.ReadFile("/in/cam7/x.jpg"), "newer picture");
  EXPECT_EQ(std::distance(fs::directory_iterator(server.LocalPath("/in/cam7")), fs::directory_iterator()), 1)
      << "no temporary file is left";
  EXPECT_EQ(Answers()[7].lValue, 9);
  EXPECT_TRUE(fs::is_directory(server.LocalPath("/made")));
  EXPECT_FALSE(fs::exists(server.LocalPath("/renamed.txt")));
  EXPECT_EQ(ReadLocal(m_local.Path() + "/x.jpg"), "newer picture");
  EXPECT_TRUE(LogsContain("opened over SFTP for user " + server.User()));
}

// An unknown key sends nothing until the user trusts it, which adds it to
// known_hosts as ssh would; a changed key is never offered.
TEST_F(SftpTest, UnknownHostKeysSendNothingUntilTrustedChangedOnesNever) {
  SshTestServer server;
  // A last line without its line break must not swallow the new entry.
  const std::string sOther =
      "[127.0.0.1]:1 " +
      server.KnownHostsLine(SshTestServer::HostKey::kChanged).substr(server.KnownHostsLine().find(' ') + 1);
  std::ofstream(SshFolder() / "known_hosts") << sOther;
  const int32_t h = Connect(server, server.Password());
  Dir(h, "/", "unknown");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -60);
  EXPECT_TRUE(LogsContain("the host key is unknown: ssh-ed25519 " + server.HostKeyFingerprint()));
  EXPECT_FALSE(LogsContain("trying again"));
  EXPECT_THAT(server.ServerLog(), ::testing::Not(HasSubstr("password for"))) << "no password was tried";
  EXPECT_EQ(OrvFtpClientUnknownHostKey(h), "ssh-ed25519 " + server.HostKeyFingerprint());
  ASSERT_EQ(OrvFtpClientTrustHostKey(h), 0);
  EXPECT_EQ(ReadLocal(SshFolder() / "known_hosts"), sOther + "\n" + server.KnownHostsLine() + "\n");
  EXPECT_EQ(OrvFtpClientUnknownHostKey(h), "");
  Dir(h, "/", "trusted");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, 0);

  server.PresentHostKey(SshTestServer::HostKey::kChanged);
  const int32_t hChanged = Connect(server, server.Password());
  Dir(hChanged, "/", "changed");
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[2].lCode, -60);
  EXPECT_TRUE(LogsContain("the host key has changed: ssh-ed25519 " + server.HostKeyFingerprint()));
  EXPECT_EQ(OrvFtpClientUnknownHostKey(hChanged), "");
  EXPECT_EQ(OrvFtpClientTrustHostKey(hChanged), -43);
}

TEST_F(SftpTest, KeyLogInAndRefusedLogIn) {
  SshTestServer server;
  KnowHosts(server.KnownHostsLine());
  server.AuthorizeKey(SshTestServer::MakeClientKey(SshFolder()).sPublicLine);
  server.WriteFile("/a.txt", "a");
  Dir(Connect(server, ""), "/", "key");
  ASSERT_TRUE(WaitForAnswers(1));
  Dir(Connect(server, "wrong"), "/", "wrong password");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, 0);
  EXPECT_THAT(Answers()[0].asFiles, ElementsAre("a.txt"));
  EXPECT_EQ(Answers()[1].lCode, 530);
}

// A server that drops the session while data moves: the put and the get
// are tried again on a new session, go on from the bytes that had moved,
// and arrive whole.
TEST_F(SftpTest, TransfersBrokenOffByTheServerAreTriedAgainAndArriveWhole) {
  SshTestServer server;
  KnowHosts(server.KnownHostsLine());
  std::string sData(32 << 20, '\0');
  for (std::size_t i = 0; i < sData.size(); i += 4096) sData[i] = static_cast<char>(i / 4096);
  const int32_t h = Connect(server, server.Password());
  // Drops the sessions once the file in sFolder (a temporary one or the
  // target) has grown past 4 MiB.
  auto fnDropMidway = [&server](const fs::path& folder) {
    for (int i = 0; i < 2000; ++i) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && entry.file_size(ec) > (4u << 20)) return server.DropSessions(), true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  };
  Put(h, "/up/big.bin", "put", sData, 20000);
  EXPECT_TRUE(fnDropMidway(server.LocalPath("/up")));
  ASSERT_TRUE(WaitForAnswers(1, 60s));
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_TRUE(server.ReadFile("/up/big.bin") == sData) << "the put arrived whole";
  EXPECT_EQ(std::distance(fs::directory_iterator(server.LocalPath("/up")), fs::directory_iterator()), 1);

  GetFile(h, "/up/big.bin", m_local.Path() + "/big.bin", "get", 20000);
  EXPECT_TRUE(fnDropMidway(m_local.Path()));
  ASSERT_TRUE(WaitForAnswers(2, 60s));
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_TRUE(ReadLocal(m_local.Path() + "/big.bin") == sData) << "the get arrived whole";
  EXPECT_EQ(std::distance(fs::directory_iterator(m_local.Path()), fs::directory_iterator()), 1);
  // Each transfer went twice: one broken off, then one whole, after the
  // pause of a retry or at once over a new session. A new session that the
  // server was not yet ready for (-7) sent no data and does not count.
  const auto brokenTransfers = [](const std::string& sRequest) {
    return std::count_if(Logs().begin(), Logs().end(), [&](const std::string& s) {
      const bool bAgain = s.find("trying again in") != std::string::npos ||
                          s.find("goes over a new connection") != std::string::npos;
      return s.find(sRequest) != std::string::npos && bAgain && s.find(" failed with -7: ") == std::string::npos;
    });
  };
  EXPECT_EQ(brokenTransfers("request put"), 1) << ::testing::PrintToString(Logs());
  EXPECT_EQ(brokenTransfers("request get"), 1) << ::testing::PrintToString(Logs());
  // Each went on from at least the 4 MiB that had arrived when the session
  // was dropped.
  const auto resumedFrom = [](const std::string& sWhat) {
    for (const std::string& s : Logs()) {
      const std::size_t lAt = s.find(sWhat + " resumed from byte ");
      if (lAt != std::string::npos) return std::stoll(s.substr(lAt + sWhat.size() + 19));
    }
    return -1LL;
  };
  EXPECT_GT(resumedFrom("request put: put /up/big.bin"), 4LL << 20) << ::testing::PrintToString(Logs());
  EXPECT_GT(resumedFrom("request get: get /up/big.bin"), 4LL << 20) << ::testing::PrintToString(Logs());
}

namespace {
int32_t g_lSftpCancel = 0;
int32_t g_lSftpReports = 0;
int32_t CancelAtFirstReport(int32_t lHandle, const char*, intptr_t, uint64_t, uint64_t) {
  ++g_lSftpReports;
  if (lHandle == g_lSftpCancel) OrvFtpClientCancel(lHandle);
  return 0;
}
}  // namespace

// Progress is told over SFTP as over FTP, and a cancel leaves nothing half:
// no temporary file on the server, the old local file as it was.
TEST_F(SftpTest, ProgressAndCancelOverSftpLeaveNothingHalf) {
  SshTestServer server;
  KnowHosts(server.KnownHostsLine());
  server.MakeFolder("/up");
  // Far too large to arrive before the first progress report is answered.
  server.WriteFile("/up/big.bin", "b");
  fs::resize_file(server.LocalPath("/up/big.bin"), 4ULL << 30);
  const std::string sLocal = m_local.Path() + "/big.bin";
  std::ofstream(sLocal) << "old";
  const int32_t h = Connect(server, server.Password());
  OrvFtpClientSetProgress(h, CancelAtFirstReport);
  g_lSftpCancel = h;
  GetFile(h, "/up/big.bin", sLocal, "get");
  ASSERT_TRUE(WaitForAnswers(1, 60s));
  EXPECT_EQ(Only().lCode, -42);
  EXPECT_TRUE(ReadLocal(sLocal) == "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_local.Path()), fs::directory_iterator()), 1);

  fs::resize_file(sLocal, 2ULL << 30);
  const int fd = ::open(sLocal.c_str(), O_RDONLY | O_CLOEXEC);
  PutFile(h, "/up/huge.bin", "put", "", fd, 2ULL << 30);
  ASSERT_TRUE(WaitForAnswers(2, 60s));
  EXPECT_EQ(Answers()[1].lCode, -42);
  EXPECT_GE(g_lSftpReports, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(server.LocalPath("/up")), fs::directory_iterator()), 1)
      << "only big.bin: the temporary file is removed";
  g_lSftpCancel = 0;
}

// SFTP at an FTP server and FTP at an SSH server would each wait for what
// the other never sends: both fail at once, once, and the reason says what
// to use.
TEST_F(SftpTest, EachProtocolAtAServerOfTheOtherFailsAtOnceAndSaysWhatToUse) {
  SshTestServer ssh;
  FtpTestServer ftp;
  const auto tStart = std::chrono::steady_clock::now();
  const int32_t hSftp = OrvFtpClientCreateSecure(ftp.Host().c_str(), static_cast<int16_t>(ftp.Port()),
                                                 ftp.User().c_str(), ftp.Password().c_str(), OrvFtpSecurity::kSftp);
  const int32_t hFtp = OrvFtpClientCreate(ssh.Host().c_str(), static_cast<int16_t>(static_cast<uint16_t>(ssh.Port())),
                                          ssh.User().c_str(), ssh.Password().c_str());
  Dir(hSftp, "/", "sftp at ftp");
  Dir(hFtp, "/", "ftp at ssh");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(3));
  for (const auto& answer : Answers()) EXPECT_EQ(answer.lCode, -1) << answer.sId;
  const std::string sFtpPort = std::to_string(ftp.Port()), sSshPort = std::to_string(ssh.Port());
  EXPECT_THAT(OrvFtpClientLastFailure(hSftp),
              ::testing::HasSubstr("127.0.0.1:" + sFtpPort + " is an FTP server; use ftp://, ftpes:// or ftps://"));
  EXPECT_THAT(OrvFtpClientLastFailure(hFtp),
              ::testing::HasSubstr("127.0.0.1:" + sSshPort + " is an SSH server; use sftp://"));
  // The FTP server heard SSH's version line and nothing else: no password.
  for (const std::string& sCommand : ftp.Commands()) EXPECT_EQ(sCommand.rfind("SSH-", 0), 0u) << sCommand;
}
