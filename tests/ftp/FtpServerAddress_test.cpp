#include "FtpServerAddress.h"

#include <gtest/gtest.h>

namespace {

void ExpectAddress(const std::string& sText, const std::string& sHost, const std::string& sPort,
                   OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain) {
  FtpServerAddress a = FtpServerAddress_Parse(sText);
  EXPECT_EQ(a.sHost, sHost) << sText;
  EXPECT_EQ(a.sPort, sPort) << sText;
  EXPECT_EQ(a.eSecurity, eSecurity) << sText;
}

TEST(FtpServerAddress, AcceptedForms) {
  ExpectAddress("ftp.example.org", "ftp.example.org", "21");
  ExpectAddress("127.0.0.1:2121", "127.0.0.1", "2121");
  ExpectAddress("[::1]:2121", "::1", "2121");
  ExpectAddress("[::1]", "::1", "21");
  ExpectAddress("::1", "::1", "21");
  ExpectAddress("fe80::1:2", "fe80::1:2", "21");
  ExpectAddress("ftp://host", "host", "21");
  ExpectAddress("FTP://host:990/", "host", "990");
  ExpectAddress("ftp://host/pub/in/", "host", "21");
  ExpectAddress("ftp://[::1]:21/", "::1", "21");
}

TEST(FtpServerAddress, TlsSchemesAndTheirDefaultPorts) {
  const OrvFtpSecurity kExplicit = OrvFtpSecurity::kExplicitTls;
  const OrvFtpSecurity kImplicit = OrvFtpSecurity::kImplicitTls;
  ExpectAddress("ftpes://host", "host", "21", kExplicit);
  ExpectAddress("FTPES://host:2121/", "host", "2121", kExplicit);
  ExpectAddress("ftpes://[::1]/pub/", "::1", "21", kExplicit);
  ExpectAddress("ftps://host", "host", "990", kImplicit);
  ExpectAddress("Ftps://host/in/", "host", "990", kImplicit);
  ExpectAddress("ftps://127.0.0.1:21", "127.0.0.1", "21", kImplicit);
  ExpectAddress("ftps://[::1]:9990", "::1", "9990", kImplicit);
  ExpectAddress("ftps://::1", "::1", "990", kImplicit);
  ExpectAddress("sftp://host", "host", "22", OrvFtpSecurity::kSftp);
  ExpectAddress("SFTP://[::1]:2222/in/", "::1", "2222", OrvFtpSecurity::kSftp);
}

TEST(FtpServerAddress, BadPortsReachThePortChecks) {
  ExpectAddress("host:", "host", "");
  ExpectAddress("host:2a", "host", "2a");
  ExpectAddress("host:123456", "host", "123456");
  ExpectAddress("", "", "21");
  ExpectAddress("ftps://host:", "host", "", OrvFtpSecurity::kImplicitTls);
  ExpectAddress("ftpes://host:x1", "host", "x1", OrvFtpSecurity::kExplicitTls);
}

// Only the three schemes choose a security; anything else is a host text
// that the library refuses, never a plain connection to a guessed host.
TEST(FtpServerAddress, OtherSchemesAreNoTlsSchemes) {
  ExpectAddress("scp://host", "scp", "//host");
  ExpectAddress("ftpes:/host", "ftpes", "/host");
  ExpectAddress("ftps:host", "ftps", "host");
}

}  // namespace
