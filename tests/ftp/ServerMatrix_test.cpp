// The same requests against the FTP servers users run (vsftpd, ProFTPD,
// Pure-FTPd) and pyftpdlib, in plain FTP, with explicit TLS and, where the
// server has it, implicit TLS. Each server runs with its own defaults, so
// what one of them does differently (listing formats, links, names that are
// not UTF-8, TLS session resumption on data connections) shows here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <tuple>

#include "FtpLibraryTestSupport.h"
#include "RealFtpServer.h"
#include "TempFolder.h"

using ::testing::AllOf;
using ::testing::Combine;
using ::testing::ElementsAre;
using ::testing::Ge;
using ::testing::Lt;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;
using ::testing::Values;

namespace {

enum class Server { kVsftpd, kProftpd, kPureFtpd, kPyftpdlib };

using Column = std::tuple<Server, OrvFtpSecurity>;

std::string ServerName(Server eServer) {
  switch (eServer) {
    case Server::kVsftpd:
      return "vsftpd";
    case Server::kProftpd:
      return "proftpd";
    case Server::kPureFtpd:
      return "pureftpd";
    case Server::kPyftpdlib:
      return "pyftpdlib";
  }
  return "?";
}

std::string SecurityName(OrvFtpSecurity eSecurity) {
  switch (eSecurity) {
    case OrvFtpSecurity::kPlain:
      return "plain";
    case OrvFtpSecurity::kExplicitTls:
      return "explicit";
    case OrvFtpSecurity::kImplicitTls:
      return "implicit";
    case OrvFtpSecurity::kSftp:
      return "sftp";
  }
  return "?";
}

// For the parameters CTest shows beside each test.
void PrintTo(Server eServer, std::ostream* os) { *os << ServerName(eServer); }

}  // namespace

void PrintTo(OrvFtpSecurity eSecurity, std::ostream* os) { *os << SecurityName(eSecurity); }

namespace {

std::unique_ptr<LoopbackFtpServer> StartServer(Server eServer, OrvFtpSecurity eSecurity) {
  if (eServer == Server::kPyftpdlib) {
    FtpTestServer::Options options;
    if (eSecurity != OrvFtpSecurity::kPlain) options.sTlsKind = SecurityName(eSecurity);
    return std::make_unique<FtpTestServer>(options);
  }
  const RealFtpServer::Product eProduct = eServer == Server::kVsftpd    ? RealFtpServer::Product::kVsftpd
                                          : eServer == Server::kProftpd ? RealFtpServer::Product::kProftpd
                                                                        : RealFtpServer::Product::kPureFtpd;
  const RealFtpServer::Tls eTls = eSecurity == OrvFtpSecurity::kPlain         ? RealFtpServer::Tls::kNone
                                  : eSecurity == OrvFtpSecurity::kExplicitTls ? RealFtpServer::Tls::kExplicit
                                                                              : RealFtpServer::Tls::kImplicit;
  return std::make_unique<RealFtpServer>(eProduct, eTls);
}

std::string AllByteValues() {
  std::string s;
  for (int r = 0; r < 64; ++r)
    for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  return s + "\r\n\n\r";
}

const auto kRefusal = AllOf(Ge(400), Lt(600));

// Servers that list "." and ".." have them reported as folders; others
// never mention them.
std::vector<std::string> NamedFolders(const std::vector<std::string>& asFolders) {
  std::vector<std::string> named;
  for (const std::string& s : asFolders)
    if (s != "." && s != "..") named.push_back(s);
  return named;
}

class ServerMatrixTest : public FtpLibraryTest, public ::testing::WithParamInterface<Column> {
 protected:
  void SetUp() override {
    ::setenv("ORV_FTP_CA_FILE", TestCertificates::Get().CaFile().c_str(), 1);
    FtpLibraryTest::SetUp();
    m_pServer = StartServer(std::get<0>(GetParam()), std::get<1>(GetParam()));
  }

  void TearDown() override {
    FtpLibraryTest::TearDown();
    if (HasFailure() && m_pServer) std::cout << "server log:\n" << m_pServer->ServerLog() << "\n";
    ::unsetenv("ORV_FTP_CA_FILE");
  }

  int32_t Connect(const std::string& sPassword) const {
    return OrvFtpClientCreateSecure(m_pServer->Host().c_str(),
                                    static_cast<int16_t>(static_cast<uint16_t>(m_pServer->Port())),
                                    m_pServer->User().c_str(), sPassword.c_str(), std::get<1>(GetParam()));
  }
  int32_t Connect() const { return Connect(m_pServer->Password()); }

  // The answer of the request with this id.
  static const FtpAnswer& Answer(const std::string& sId) {
    for (const FtpAnswer& a : Answers())
      if (a.sId == sId) return a;
    throw std::runtime_error("no answer " + sId);
  }

  std::unique_ptr<LoopbackFtpServer> m_pServer;
};

// One session lists the root, fetches a file, stores every byte value and
// fetches it twice into local files (a server that tells a download's size
// as it opens it is asked for no SIZE the second time).
TEST_P(ServerMatrixTest, ListGetAndPut) {
  m_pServer->MakeFolder("/in");
  m_pServer->WriteFile("/hello.txt", "Hello from the server\r\n");
  const std::string sData = AllByteValues();
  const TempFolder local;

  const int32_t h = Connect();
  ASSERT_NE(h, 0);
  Dir(h, "/", "root");
  Get(h, "/hello.txt", "get");
  Put(h, "/in/new.bin", "put", sData);
  Dir(h, "/in/", "in");
  GetFile(h, "/in/new.bin", local.Path() + "/first.bin", "file 1");
  GetFile(h, "/in/new.bin", local.Path() + "/second.bin", "file 2");
  ASSERT_TRUE(WaitForAnswers(6));
  EXPECT_TRUE(ReadLocal(local.Path() + "/first.bin") == sData);
  EXPECT_TRUE(ReadLocal(local.Path() + "/second.bin") == sData);

  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, 0) << a.sId;
  EXPECT_THAT(NamedFolders(Answer("root").asFolders), ElementsAre("in"));
  EXPECT_THAT(Answer("root").asFiles, ElementsAre("hello.txt"));
  EXPECT_EQ(Answer("get").sData, "Hello from the server\r\n");
  EXPECT_EQ(Answer("get").lEnd, 1);
  EXPECT_TRUE(m_pServer->ReadFile("/in/new.bin") == sData) << "the stored file differs";
  EXPECT_THAT(Answer("in").asFiles, ElementsAre("new.bin"));
}

// Names are bytes: spaces, UTF-8, Latin-1. Links count as what they point
// to, and a path made from a listed name reaches that entry.
TEST_P(ServerMatrixTest, NamesAndLinks) {
  const std::string sLatinFolder = "d\xE9p\xF4t";
  const std::string sLatinFile = "caf\xE9.txt";
  m_pServer->MakeFolder("/real");
  m_pServer->WriteFile("/real/inner.txt", "inner");
  m_pServer->MakeFolder("/Ordner ä");
  m_pServer->MakeFolder("/" + sLatinFolder);
  m_pServer->WriteFile("/" + sLatinFolder + "/inside.txt", "inside");
  m_pServer->WriteFile("/two words.txt", "two words");
  m_pServer->WriteFile("/ lead.txt", "lead");
  m_pServer->WriteFile("/Grüße.txt", "Grüße");
  m_pServer->WriteFile("/" + sLatinFile, "caf\xE9 in Latin-1");
  m_pServer->MakeLink("/linkdir", "real");
  m_pServer->MakeLink("/linkfile", "two words.txt");
  m_pServer->MakeLink("/dangling", "nowhere");

  const int32_t h = Connect();
  ASSERT_NE(h, 0);
  Dir(h, "/", "root");
  ASSERT_TRUE(WaitForAnswers(1));
  const FtpAnswer root = Answer("root");
  ASSERT_EQ(root.lCode, 0);
  EXPECT_THAT(NamedFolders(root.asFolders), UnorderedElementsAre("real", "Ordner ä", sLatinFolder, "linkdir"));
  std::vector<std::string> asFiles = {"two words.txt", " lead.txt", "Grüße.txt", sLatinFile, "linkfile"};
  // ProFTPD and pyftpdlib leave a link that leads nowhere out of MLSD.
  const Server eServer = std::get<0>(GetParam());
  if (eServer != Server::kProftpd && eServer != Server::kPyftpdlib) asFiles.push_back("dangling");
  EXPECT_THAT(root.asFiles, UnorderedElementsAreArray(asFiles));

  // Paths made of the bytes listed above.
  Dir(h, "/" + sLatinFolder + "/", "latin folder");
  Get(h, "/" + sLatinFile, "latin file");
  Dir(h, "/linkdir/", "link to a folder");
  Get(h, "/linkfile", "link to a file");
  Get(h, "/dangling", "dangling link");
  ASSERT_TRUE(WaitForAnswers(6));

  EXPECT_EQ(Answer("latin folder").lCode, 0);
  EXPECT_THAT(Answer("latin folder").asFiles, ElementsAre("inside.txt"));
  EXPECT_EQ(Answer("latin file").lCode, 0);
  EXPECT_EQ(Answer("latin file").sData, "caf\xE9 in Latin-1");
  EXPECT_EQ(Answer("link to a folder").lCode, 0);
  EXPECT_THAT(Answer("link to a folder").asFiles, ElementsAre("inner.txt"));
  EXPECT_EQ(Answer("link to a file").lCode, 0);
  EXPECT_EQ(Answer("link to a file").sData, "two words");
  EXPECT_THAT(Answer("dangling link").lCode, kRefusal);
  EXPECT_TRUE(Answer("dangling link").sData.empty());
}

// A wrong password and a missing folder end in the server's own reply code.
TEST_P(ServerMatrixTest, RefusalsCarryTheServersCode) {
  const int32_t hWrong = Connect("not the password");
  const int32_t h = Connect();
  ASSERT_NE(hWrong, 0);
  ASSERT_NE(h, 0);
  Dir(hWrong, "/", "wrong password");
  Dir(h, "/nope/", "missing folder");
  ASSERT_TRUE(WaitForAnswers(2));

  EXPECT_EQ(Answer("wrong password").lCode, 530);
  EXPECT_THAT(Answer("missing folder").lCode, kRefusal);
}

std::string ColumnName(const ::testing::TestParamInfo<Column>& info) {
  return ServerName(std::get<0>(info.param)) + "_" + SecurityName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(AllServers, ServerMatrixTest,
                         Combine(Values(Server::kVsftpd, Server::kProftpd, Server::kPureFtpd, Server::kPyftpdlib),
                                 Values(OrvFtpSecurity::kPlain, OrvFtpSecurity::kExplicitTls)),
                         ColumnName);

// Pure-FTPd has no implicit TLS.
INSTANTIATE_TEST_SUITE_P(ImplicitTls, ServerMatrixTest,
                         Combine(Values(Server::kVsftpd, Server::kProftpd, Server::kPyftpdlib),
                                 Values(OrvFtpSecurity::kImplicitTls)),
                         ColumnName);

}  // namespace
