// FTP over TLS against pyftpdlib's TLS handler: explicit and implicit TLS,
// certificates that must be refused, servers that cannot protect a session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "FtpLibraryTestSupport.h"
#include "FtpServerAddress.h"
#include "OrvFtpClient.h"
#include "RecordingApp.h"
#include "cOrvFtpClient.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const kCaVariable = "ORV_FTP_CA_FILE";

// The test authority is trusted through the library's variable; anything
// else must verify against the system's store.
class FtpTlsTest : public FtpLibraryTest {
 protected:
  void SetUp() override {
    ::setenv(kCaVariable, TestCertificates::Get().CaFile().c_str(), 1);
    FtpLibraryTest::SetUp();
  }
  void TearDown() override {
    FtpLibraryTest::TearDown();
    ::unsetenv(kCaVariable);
  }

  static int32_t Connect(const FtpTestServer& server, OrvFtpSecurity eSecurity) {
    return ConnectTo(server.Host(), server, eSecurity);
  }
  static int32_t ConnectTo(const std::string& sHost, const FtpTestServer& server, OrvFtpSecurity eSecurity) {
    return OrvFtpClientCreateSecure(sHost.c_str(), static_cast<int16_t>(static_cast<uint16_t>(server.Port())),
                                    server.User().c_str(), server.Password().c_str(), eSecurity);
  }

  static bool Received(const FtpTestServer& server, const std::string& sCommandStart) {
    const std::vector<std::string> commands = server.Commands();
    return std::any_of(commands.begin(), commands.end(),
                       [&](const std::string& s) { return s.rfind(sCommandStart, 0) == 0; });
  }

  static std::string AllLogs() {
    std::string s;
    for (const std::string& sLine : Logs()) s += sLine + "\n";
    return s;
  }
};

std::string AllByteValues() {
  std::string s;
  for (int r = 0; r < 200; ++r)
    for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  return s + "\r\n\n\r";
}

struct RoundTrip {
  const char* sTlsKind;
  OrvFtpSecurity eSecurity;
  const char* sOpened;
};

void PrintTo(const RoundTrip& r, std::ostream* os) { *os << r.sTlsKind; }

class FtpTlsRoundTripTest : public FtpTlsTest, public ::testing::WithParamInterface<RoundTrip> {};

// The servers refuse a login and any data connection that TLS does not
// protect, so a round trip that works went encrypted all the way.
TEST_P(FtpTlsRoundTripTest, ConnectListPutGet) {
  FtpTestServer server({.sTlsKind = GetParam().sTlsKind});
  server.MakeFolder("/in");
  server.WriteFile("/in/old.txt", "old");
  const std::string sData = AllByteValues();

  const int32_t h = Connect(server, GetParam().eSecurity);
  ASSERT_NE(h, 0);
  Dir(h, "/in/", "list");
  Put(h, "/in/new.bin", "put", sData);
  Get(h, "/in/new.bin", "get");
  Dir(h, "/in/", "list again");
  ASSERT_TRUE(WaitForAnswers(4)) << server.ServerLog();

  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, 0) << a.sId << "\n" << AllLogs();
  EXPECT_THAT(Answers()[0].asFiles, ElementsAre("old.txt"));
  EXPECT_TRUE(server.ReadFile("/in/new.bin") == sData);
  EXPECT_TRUE(Answers()[2].sData == sData);
  EXPECT_EQ(Answers()[2].lEnd, 1);
  EXPECT_THAT(Answers()[3].asFiles, ::testing::UnorderedElementsAre("old.txt", "new.bin"));

  EXPECT_EQ(server.LoginCount(), 1) << "one TLS session for all requests";
  EXPECT_TRUE(Received(server, "PROT P"));
  const std::vector<std::string> commands = server.Commands();
  if (GetParam().eSecurity == OrvFtpSecurity::kExplicitTls) {
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "AUTH TLS");
  } else {
    EXPECT_FALSE(Received(server, "AUTH"));
  }
  EXPECT_TRUE(LogsContain(std::string(" opened ") + GetParam().sOpened + " for user " + server.User())) << AllLogs();
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpTlsRoundTripTest,
                         ::testing::Values(RoundTrip{"explicit", OrvFtpSecurity::kExplicitTls, "with explicit TLS"},
                                           RoundTrip{"implicit", OrvFtpSecurity::kImplicitTls, "with implicit TLS"}),
                         [](const auto& info) { return std::string(info.param.sTlsKind); });

// The certificate names the host by DNS name too.
TEST_F(FtpTlsTest, HostNameMatchesTheCertificatesDnsName) {
  FtpTestServer server({.sTlsKind = "explicit"});
  Dir(ConnectTo("localhost", server, OrvFtpSecurity::kExplicitTls), "/", "by name");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 0) << AllLogs();
}

// A file larger than one chunk ends its protected data connection early;
// the session goes on.
TEST_F(FtpTlsTest, LargeFilesAndAnAbandonedGet) {
  FtpTestServer server({.sTlsKind = "explicit"});
  std::string sLarge(3 * 1048576 + 17, '\0');
  for (std::size_t i = 0; i < sLarge.size(); ++i) sLarge[i] = static_cast<char>(i * 31 + i / 4093);
  const int32_t h = Connect(server, OrvFtpSecurity::kExplicitTls);
  Put(h, "/large.bin", "put", sLarge);
  Get(h, "/large.bin", "first chunk", kLimitMs, 1048576);
  Get(h, "/large.bin", "whole", kLimitMs, sLarge.size());
  Dir(h, "/", "after");
  ASSERT_TRUE(WaitForAnswers(4));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, 0) << a.sId << "\n" << AllLogs();
  EXPECT_TRUE(server.ReadFile("/large.bin") == sLarge);
  EXPECT_EQ(Answers()[1].lEnd, 0);
  EXPECT_TRUE(Answers()[1].sData == sLarge.substr(0, 1048576));
  EXPECT_EQ(Answers()[2].lEnd, 1);
  EXPECT_TRUE(Answers()[2].sData == sLarge);
  EXPECT_THAT(Answers()[3].asFiles, ElementsAre("large.bin"));
}

// A session the server ended while idle is opened again, with TLS and the
// certificate checked again.
TEST_F(FtpTlsTest, SessionDroppedWhileIdleIsOpenedAgainWithTls) {
  FtpTestServer server({.sTlsKind = "explicit_short_idle"});
  server.WriteFile("/f.txt", "data");
  const int32_t h = Connect(server, OrvFtpSecurity::kExplicitTls);
  Get(h, "/f.txt", "before");
  ASSERT_TRUE(WaitForAnswers(1));
  m_pump.For(std::chrono::milliseconds(1800));
  Get(h, "/f.txt", "after");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, 0) << AllLogs();
  EXPECT_EQ(Answers()[1].sData, "data");
  EXPECT_EQ(server.LoginCount(), 2);
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH TLS"), 2);
}

struct RefusedCertificate {
  const char* sName;
  const TestCertificates::Identity& (TestCertificates::*pfnIdentity)() const;
  const char* sTlsKind;
  OrvFtpSecurity eSecurity;
  const char* sReason;
};

void PrintTo(const RefusedCertificate& c, std::ostream* os) { *os << c.sName; }

class FtpTlsRefusedCertificateTest : public FtpTlsTest, public ::testing::WithParamInterface<RefusedCertificate> {};

// The request fails before the user name or password could leave, and the
// log says why in a line of its own for each cause.
TEST_P(FtpTlsRefusedCertificateTest, FailsBeforeTheLoginAndSaysWhy) {
  const RefusedCertificate& c = GetParam();
  FtpTestServer server({.sTlsKind = c.sTlsKind, .certificate = (TestCertificates::Get().*c.pfnIdentity)()});
  const int32_t h = Connect(server, c.eSecurity);
  Dir(h, "/", "dir");
  Put(h, "/x.txt", "put", "must not arrive");
  ASSERT_TRUE(WaitForAnswers(2));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, -60) << a.sId;
  EXPECT_TRUE(Answers()[0].asFiles.empty());

  EXPECT_TRUE(LogsContain("request dir failed with -60: ")) << AllLogs();
  EXPECT_TRUE(LogsContain(std::string(" -> ") + c.sReason + " (")) << AllLogs();
  for (const char* sOther :
       {"certificate has expired", "certificate issuer is unknown", "certificate is for another host name"}) {
    if (std::string(sOther) != c.sReason) {
      EXPECT_FALSE(LogsContain(sOther)) << AllLogs();
    }
  }
  EXPECT_FALSE(LogsContain(" opened"));

  EXPECT_FALSE(Received(server, "USER"));
  EXPECT_FALSE(Received(server, "PASS"));
  EXPECT_EQ(server.LoginCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(server.LocalPath("/x.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, FtpTlsRefusedCertificateTest,
    ::testing::Values(RefusedCertificate{"UnknownIssuer", &TestCertificates::UnknownIssuer, "explicit",
                                         OrvFtpSecurity::kExplicitTls, "certificate issuer is unknown"},
                      RefusedCertificate{"OtherHost", &TestCertificates::OtherHost, "explicit",
                                         OrvFtpSecurity::kExplicitTls, "certificate is for another host name"},
                      RefusedCertificate{"Expired", &TestCertificates::Expired, "explicit",
                                         OrvFtpSecurity::kExplicitTls, "certificate has expired"},
                      RefusedCertificate{"ImplicitUnknownIssuer", &TestCertificates::UnknownIssuer, "implicit",
                                         OrvFtpSecurity::kImplicitTls, "certificate issuer is unknown"},
                      RefusedCertificate{"ImplicitOtherHost", &TestCertificates::OtherHost, "implicit",
                                         OrvFtpSecurity::kImplicitTls, "certificate is for another host name"}),
    [](const auto& info) { return std::string(info.param.sName); });

// Without the variable only the system's store counts, and the test
// authority is not in it.
TEST_F(FtpTlsTest, TheSystemStoreAloneDoesNotKnowTheTestAuthority) {
  ::unsetenv(kCaVariable);
  FtpTestServer server({.sTlsKind = "explicit"});
  Dir(Connect(server, OrvFtpSecurity::kExplicitTls), "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -60);
  EXPECT_TRUE(LogsContain("certificate issuer is unknown")) << AllLogs();
  EXPECT_FALSE(Received(server, "USER"));
}

TEST_F(FtpTlsTest, AnUnreadableAuthorityFileFailsEveryRequest) {
  ::setenv(kCaVariable, "/nonexistent/orv-ca.pem", 1);
  FtpTestServer server({.sTlsKind = "explicit"});
  Dir(Connect(server, OrvFtpSecurity::kExplicitTls), "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -77);
  EXPECT_TRUE(LogsContain("the trusted certificate authorities cannot be read")) << AllLogs();
  EXPECT_EQ(server.LoginCount(), 0);
}

// A server without TLS never sees the user name, the password or a file.
TEST_F(FtpTlsTest, PlainServerIsRefusedForExplicitTls) {
  FtpTestServer server;
  const int32_t h = Connect(server, OrvFtpSecurity::kExplicitTls);
  Put(h, "/x.txt", "put", "secret data");
  Dir(h, "/", "dir");
  ASSERT_TRUE(WaitForAnswers(2));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, -64) << a.sId;
  // libcurl asks with AUTH TLS first, then with AUTH SSL.
  EXPECT_EQ(server.Commands().front(), "AUTH TLS");
  EXPECT_TRUE(LogsContain("request put failed with -64: AUTH SSL -> the server does not offer TLS (500 ")) << AllLogs();
  EXPECT_FALSE(Received(server, "USER"));
  EXPECT_FALSE(Received(server, "PASS"));
  EXPECT_TRUE(std::filesystem::is_empty(server.Root()));
}

TEST_F(FtpTlsTest, PlainServerFailsTheImplicitHandshake) {
  FtpTestServer server;
  Dir(Connect(server, OrvFtpSecurity::kImplicitTls), "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -35);
  EXPECT_TRUE(LogsContain("the TLS handshake failed")) << AllLogs();
  EXPECT_TRUE(server.Commands().empty());
}

TEST_F(FtpTlsTest, ServerThatOffersOnlyPlainDataConnectionsGetsNoData) {
  FtpTestServer server({.sTlsKind = "explicit_no_prot"});
  server.WriteFile("/f.txt", "content");
  const int32_t h = Connect(server, OrvFtpSecurity::kExplicitTls);
  Put(h, "/x.txt", "put", "secret data");
  Get(h, "/f.txt", "get");
  ASSERT_TRUE(WaitForAnswers(2));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, -64) << a.sId;
  EXPECT_EQ(Answers()[1].sData, "");
  EXPECT_TRUE(LogsContain("PROT P -> the server does not protect data connections (534 ")) << AllLogs();
  for (const char* sCommand : {"PASV", "EPSV", "PORT", "EPRT", "STOR", "RETR"})
    EXPECT_FALSE(Received(server, sCommand)) << sCommand;
  EXPECT_FALSE(std::filesystem::exists(server.LocalPath("/x.txt")));
}

TEST_F(FtpTlsTest, CreateSecureChecksItsArguments) {
  EXPECT_EQ(OrvFtpClientCreateSecure("127.0.0.1", 21, "u", "p", static_cast<OrvFtpSecurity>(4)), 0);
  EXPECT_EQ(OrvFtpClientCreateSecure("127.0.0.1", 21, "u", "p", static_cast<OrvFtpSecurity>(-1)), 0);
  EXPECT_EQ(OrvFtpClientCreateSecure("", 990, "u", "p", OrvFtpSecurity::kImplicitTls), 0);
  EXPECT_EQ(OrvFtpClientCreateSecure("127.0.0.1", 0, "u", "p", OrvFtpSecurity::kExplicitTls), 0);
  EXPECT_EQ(OrvFtpClientCreateSecure("evil@127.0.0.1", 21, "u", "p", OrvFtpSecurity::kExplicitTls), 0);
  EXPECT_EQ(OrvFtpClientCreateSecure("127.0.0.1", 21, "u", "p\r\nQUIT", OrvFtpSecurity::kExplicitTls), 0);
  EXPECT_NE(OrvFtpClientCreateSecure("127.0.0.1", 21, "u", "p", OrvFtpSecurity::kExplicitTls), 0);
  EXPECT_NE(OrvFtpClientCreateSecure("::1", 990, "u", "p", OrvFtpSecurity::kImplicitTls), 0);
}

// The window's path: the server text chooses the security, the registry
// still checks the port text.
class FtpTlsClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(kCaVariable, TestCertificates::Get().CaFile().c_str(), 1);
    FTP_Init();
  }
  void TearDown() override {
    FTP_Shutdown();
    ::unsetenv(kCaVariable);
  }

  RecordingApp m_app;
  FtpPump m_pump;
};

TEST_F(FtpTlsClientTest, ServerTextsChooseTheSecurity) {
  FtpTestServer explicitServer({.sTlsKind = "explicit"});
  FtpTestServer implicitServer({.sTlsKind = "implicit"});
  explicitServer.WriteFile("/e.txt", "e");
  implicitServer.WriteFile("/i.txt", "i");
  std::vector<std::string> lists;
  std::vector<std::shared_ptr<cOrvFtpClient>> clients;
  for (const std::string& sText :
       {"ftpes://127.0.0.1:" + explicitServer.PortText() + "/", "FTPS://127.0.0.1:" + implicitServer.PortText()}) {
    const FtpServerAddress address = FtpServerAddress_Parse(sText);
    auto o = cOrvFtpClient::Create();
    ASSERT_TRUE(o->FtpConnect(address.sHost, address.sPort, explicitServer.User(), explicitServer.Password(),
                              address.eSecurity));
    o->DirEvent = [&lists](const std::string& sList, const std::string&, long lErr) {
      lists.push_back(std::to_string(lErr) + ":" + sList);
    };
    o->FtpDir("/", "");
    clients.push_back(o);
  }
  ASSERT_TRUE(m_pump.Until([&] { return lists.size() == 2; }));
  EXPECT_THAT(lists, ::testing::UnorderedElementsAre("0:e.txt\r\n", "0:i.txt\r\n"));
  EXPECT_TRUE(m_app.messages.empty());
}

TEST_F(FtpTlsClientTest, PortTextsAreCheckedForTlsToo) {
  auto o = cOrvFtpClient::Create();
  EXPECT_FALSE(o->FtpConnect("127.0.0.1", "99x", "u", "p", OrvFtpSecurity::kImplicitTls));
  EXPECT_FALSE(o->FtpConnect("127.0.0.1", "123456", "u", "p", OrvFtpSecurity::kExplicitTls));
  EXPECT_FALSE(o->FtpConnect("127.0.0.1", "70000", "u", "p", OrvFtpSecurity::kExplicitTls));
  ASSERT_GE(m_app.messages.size(), 2u);
  EXPECT_EQ(m_app.messages[0].sMsg, "Connect to 127.0.0.1: TCP-Port-Eintrag ist nicht numerisch: 99x");
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

}  // namespace
