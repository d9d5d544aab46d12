// Unattended alarm runs of the real program over FTP with TLS, headless,
// against pyftpdlib's TLS handler on loopback. The test authority is
// trusted through ORV_FTP_CA_FILE, as an administrator would add a private
// one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FtpTestServer.h"
#include "ProgramRun.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

std::vector<std::string> States(const std::string& sLog) {
  std::vector<std::string> states;
  for (const std::string& s : ProgramCopy::LogEntries(sLog))
    if (s.rfind("AutoStatus=", 0) == 0) states.push_back(s.substr(11));
  return states;
}

bool Received(const FtpTestServer& server, const std::string& sCommand) {
  for (const std::string& s : server.Commands())
    if (s.rfind(sCommand, 0) == 0) return true;
  return false;
}

class TlsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(program.CfgPath()).close();
    sImage = program.Folder() + "/cam1.jpg";
    std::ofstream(sImage, std::ios::binary) << std::string("\xFF\xD8\xFF image bytes\0\x01", 18);
  }

  ProgramCopy::Result Run(const std::string& sUrl, const FtpTestServer& server, std::vector<std::string> extra) {
    ProgramCopy::Options options;
    options.args = {"ftpurl=" + sUrl, "ftpusr=" + server.User(), "ftppwd=" + server.Password()};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    options.env = {{"DISPLAY", std::nullopt},
                   {"WAYLAND_DISPLAY", std::nullopt},
                   {"QT_QPA_PLATFORM", std::nullopt},
                   {"ORV_FTP_CA_FILE", TestCertificates::Get().CaFile()}};
    return program.Run(options);
  }

  ProgramCopy program;
  std::string sImage;
};

TEST_F(TlsRun, ExplicitTlsDeliversMessageAndImage) {
  FtpTestServer server({.sTlsKind = "explicit"});
  server.MakeFolder("/in");
  auto result = Run("ftpes://127.0.0.1:" + server.PortText() + "/", server,
                    {"ftppath=in", "msg=Fire in hall 2", "alarmimg=" + sImage});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr << program.LogText();

  const std::string sStamp = fs::path(program.LogFileName()).stem().string();
  EXPECT_EQ(server.ReadFile("/in/" + sStamp + ".msg").substr(0, 16), "Fire in hall 2\r\n");
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), std::string("\xFF\xD8\xFF image bytes\0\x01", 18));
  const std::string sLog = program.LogText();
  EXPECT_EQ(States(sLog), (std::vector<std::string>{"connect", "sendmsg", "alarmimg", "autoupload", "bye", "end"}));
  EXPECT_TRUE(Contains(sLog, " opened with explicit TLS")) << sLog;
  EXPECT_FALSE(Contains(sLog, server.Password()));
  // The server lets nobody log in or open a data connection without TLS.
  EXPECT_EQ(server.Commands().front(), "AUTH TLS");
  EXPECT_TRUE(Received(server, "PROT P"));
}

TEST_F(TlsRun, ImplicitTlsDeliversTheLocalFile) {
  FtpTestServer server({.sTlsKind = "implicit"});
  const std::string sLocal = program.Folder() + "/report.txt";
  std::ofstream(sLocal) << "daily report";
  auto result = Run("ftps://127.0.0.1:" + server.PortText(), server, {"ftppath=/", "localpath=" + sLocal});
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr << program.LogText();
  EXPECT_EQ(server.ReadFile("/report.txt"), "daily report");
  EXPECT_TRUE(Contains(program.LogText(), " opened with implicit TLS"));
}

// A refused certificate is a failed request like any other: the run
// reports it, sends nothing and ends with status 1.
TEST_F(TlsRun, UntrustedCertificateEndsTheRunWithoutSending) {
  FtpTestServer server({.sTlsKind = "explicit", .certificate = TestCertificates::Get().UnknownIssuer()});
  auto result = Run("ftpes://127.0.0.1:" + server.PortText(), server, {"msg=x", "alarmimg=" + sImage});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  const std::string sLog = program.LogText();
  EXPECT_TRUE(Contains(sLog, "'FTP-DIR failed': Error -60")) << sLog;
  EXPECT_TRUE(Contains(sLog, "certificate issuer is unknown")) << sLog;
  const std::vector<std::string> states = States(sLog);
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states.back(), "end");
  EXPECT_FALSE(Received(server, "USER"));
  EXPECT_TRUE(fs::is_empty(server.Root()));
}

// ftpes:// to a server without TLS: refused, the password never sent.
TEST_F(TlsRun, ServerWithoutTlsIsRefused) {
  FtpTestServer server;
  auto result = Run("ftpes://127.0.0.1:" + server.PortText(), server, {"msg=x"});
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  const std::string sLog = program.LogText();
  EXPECT_TRUE(Contains(sLog, "'FTP-DIR failed': Error -64")) << sLog;
  EXPECT_TRUE(Contains(sLog, "the server does not offer TLS")) << sLog;
  EXPECT_FALSE(Received(server, "PASS"));
  EXPECT_TRUE(fs::is_empty(server.Root()));
}

}  // namespace
