// The window's gets and puts go over a connection of their own: listings
// and the commands go on while a transfer runs.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "CommandWindow.h"
#include "WidgetProbes.h"

using namespace window_test;

namespace {

TEST_F(CommandWindow, GetSizeIsAnsweredWhileASlowUploadRunsAndTheListingAfterShowsTheFile) {
  FtpTestServer::Options o;
  o.sKind = "slow_upload";  // 256 KiB/s: 2 MiB take 8 s
  FtpTestServer server(o);
  server.WriteFile("/size.bin", std::string(12345, 's'));
  std::ofstream(Local("big.bin"), std::ios::binary) << RandomBytes(2 << 20, 7);
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();

  w.tbLocalPath->setText(QString::fromStdString(Local("big.bin")));
  w.tbFtpPath->setText("/");
  w.cbPut->click();
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus).rfind("FTP-PUT ", 0) == 0; })) << "progress shows";
  w.tbFtpPath->setText("/size.bin");
  w.cbSize->click();
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-SIZE OK: /size.bin 12345 bytes"); }));
  EXPECT_TRUE(w.TransferRunning()) << "the size came while the upload still ran";

  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-PUT OK"); }, std::chrono::seconds(30)));
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles).size() == 2; }));
  EXPECT_EQ(Entries(w.lbFtpFiles), (std::vector<std::string>{"big.bin", "size.bin"}));
  EXPECT_EQ(server.LoginCount(), 2) << "one connection for browsing, one for transfers";
  EXPECT_TRUE(m_oApp.messages.empty());
}

}  // namespace
