#include "FtpServerAddress.h"

#include <gtest/gtest.h>

namespace {

void ExpectAddress(const std::string& sText, const std::string& sHost, const std::string& sPort) {
  FtpServerAddress a = FtpServerAddress_Parse(sText);
  EXPECT_EQ(a.sHost, sHost) << sText;
  EXPECT_EQ(a.sPort, sPort) << sText;
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

TEST(FtpServerAddress, BadPortsReachThePortChecks) {
  ExpectAddress("host:", "host", "");
  ExpectAddress("host:2a", "host", "2a");
  ExpectAddress("host:123456", "host", "123456");
  ExpectAddress("", "", "21");
}

}  // namespace
