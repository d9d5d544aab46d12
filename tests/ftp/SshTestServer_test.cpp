// The SFTP test server as the system's curl (libcurl over libssh2) meets it:
// a login by password and by key, each after the host key checks out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SshTestServer.h"
#include "TempFolder.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

namespace {

constexpr int kCurlLoginDenied = 67;

struct CurlRun {
  int iExit;
  std::string sOutput;
};

// curl checks the host key against $HOME/.ssh/known_hosts unless it is
// given a fingerprint.
CurlRun Curl(const std::filesystem::path& home, std::vector<std::string> args) {
  const std::filesystem::path log = home / "curl.log";
  args.insert(args.begin(), {"env", "HOME=" + home.string(), "curl", "--silent", "--show-error", "--max-time", "30"});
  const int iExit = ServerProcess::Run(args, log);
  return {iExit, LoopbackFtpServer::ReadWholeFile(log)};
}

void WriteKnownHosts(const std::filesystem::path& home, const std::string& sLine) {
  std::ofstream(home / ".ssh" / "known_hosts", std::ios::trunc) << sLine << "\n";
}

}  // namespace

TEST(SshTestServer, CurlListsTheLoginFolderByPasswordAndByKeyAndRefusesAWrongPassword) {
  SshTestServer server;
  server.WriteFile("/greeting.txt", "hello");
  TempFolder folder;
  const std::filesystem::path home = folder.Path();
  const SshTestServer::ClientKey key = SshTestServer::MakeClientKey(home / ".ssh");
  server.AuthorizeKey(key.sPublicLine);
  const std::string sUrl = "sftp://" + server.Host() + ":" + server.PortText() + "/~/";
  // The account owns what the test wrote.
  const std::string sListed = server.User() + " +" + server.User() + " +5 .* greeting\\.txt";

  WriteKnownHosts(home, server.KnownHostsLine());
  const CurlRun byPassword = Curl(home, {"--user", server.User() + ":" + server.Password(), sUrl});
  EXPECT_EQ(byPassword.iExit, 0) << byPassword.sOutput << server.ServerLog();
  EXPECT_THAT(byPassword.sOutput, ContainsRegex(sListed));

  WriteKnownHosts(home, server.HashedKnownHostsLine());
  const CurlRun byKey = Curl(home, {"--user", server.User() + ":", "--key", key.privateFile.string(), sUrl});
  EXPECT_EQ(byKey.iExit, 0) << byKey.sOutput << server.ServerLog();
  EXPECT_THAT(byKey.sOutput, ContainsRegex(sListed));

  // The fingerprint lets curl past the host key check to the login, which fails.
  const std::string sSha256 = server.HostKeyFingerprint().substr(std::string("SHA256:").size());
  const CurlRun wrongPassword = Curl(home, {"--hostpubsha256", sSha256, "--user", server.User() + ":wrong", sUrl});
  EXPECT_EQ(wrongPassword.iExit, kCurlLoginDenied) << wrongPassword.sOutput << server.ServerLog();
  EXPECT_THAT(wrongPassword.sOutput, HasSubstr("Authentication failure"));
}
