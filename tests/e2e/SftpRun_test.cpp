// Unattended alarm runs of the real program over SFTP, headless, against
// OpenSSH's sshd on loopback; the user's known_hosts is the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ProgramRun.h"
#include "SshTestServer.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

class SftpRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(program.CfgPath()).close();
    sImage = program.Folder() + "/cam1.jpg";
    std::ofstream(sImage, std::ios::binary) << std::string("\xFF\xD8\xFF image bytes\0\x01", 18);
    fs::create_directories(fs::path(home.Path()) / ".ssh");
  }

  void KnowHosts(const std::string& sLine) const {
    std::ofstream(fs::path(home.Path()) / ".ssh" / "known_hosts") << sLine << "\n";
  }

  ProgramCopy::Result Run(const SshTestServer& server, std::vector<std::string> extra) {
    ProgramCopy::Options options;
    options.args = {"ftpurl=sftp://127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                    "ftppwd=" + server.Password()};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    options.env = {{"DISPLAY", std::nullopt},
                   {"WAYLAND_DISPLAY", std::nullopt},
                   {"QT_QPA_PLATFORM", std::nullopt},
                   {"HOME", home.Path()}};
    return program.Run(options);
  }

  TempFolder home;
  ProgramCopy program;
  std::string sImage;
};

TEST_F(SftpRun, DeliversIntoTheLoginFolderAndRefusesAnUnknownHost) {
  SshTestServer server;
  KnowHosts(server.KnownHostsLine());
  auto result = Run(server, {"ftppath=in/cam7", "msg=Fire in hall 2", "alarmimg=" + sImage});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  const std::string sStamp = fs::path(program.LogFileName()).stem().string();
  EXPECT_EQ(server.ReadFile("/in/cam7/" + sStamp + ".msg").substr(0, 14), "Fire in hall 2");
  EXPECT_EQ(server.ReadFile("/in/cam7/cam1.jpg"), std::string("\xFF\xD8\xFF image bytes\0\x01", 18));
  EXPECT_TRUE(Contains(program.LogText(), "opened over SFTP for user " + server.User()));

  // A host that known_hosts does not know gets nothing.
  KnowHosts("");
  server.WriteFile("/in/cam7/cam1.jpg", "old");
  fs::remove_all(program.Folder() + "/log");
  auto refused = Run(server, {"ftppath=in/cam7", "alarmimg=" + sImage});
  EXPECT_EQ(refused.iExitStatus, 1) << refused.sStderr;
  EXPECT_TRUE(Contains(program.LogText(), "the host key is unknown: ssh-ed25519 " + server.HostKeyFingerprint()));
  EXPECT_EQ(server.ReadFile("/in/cam7/cam1.jpg"), "old");
}

}  // namespace
