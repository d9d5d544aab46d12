// The kept alarm's manifest: what goes in comes out, whatever bytes the
// names hold, and a manifest that is not whole is refused.
#include "Outbox.h"

#include <gtest/gtest.h>

#include "OrvError.h"

namespace {

TEST(OutboxManifest, KeepsAnyNameAndRefusesWhatIsNotWhole) {
  const OutboxManifest oWritten{
      "ftp://***@host:2121/",
      "alarm user",
      "/alarms %d/\r\nx/",
      {{"1", 54, "/alarms %d/20261207120000123.msg", ""}, {"2", 300000000, "/alarms %d/cam 1 %41\n.jpg", ""}}};
  const std::string sText = OutboxManifest_Text(oWritten);
  const OutboxManifest oRead = OutboxManifest_Parse(sText);
  EXPECT_EQ(oRead.sServer, oWritten.sServer);
  EXPECT_EQ(oRead.sUser, oWritten.sUser);
  EXPECT_EQ(oRead.sFolder, oWritten.sFolder);
  ASSERT_EQ(oRead.files.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(oRead.files[i].sStoredName, oWritten.files[i].sStoredName);
    EXPECT_EQ(oRead.files[i].lSize, oWritten.files[i].lSize);
    EXPECT_EQ(oRead.files[i].sRemotePath, oWritten.files[i].sRemotePath);
  }

  const std::size_t lSecondFile = sText.find("file=2");
  for (const std::string& sBroken :
       {std::string(), sText.substr(0, lSecondFile), sText.substr(0, sText.size() - 1), "x" + sText,
        sText.substr(0, lSecondFile) + "file=2 12\nend\n", sText.substr(0, lSecondFile) + "file=../x 1 /a\nend\n",
        sText.substr(0, lSecondFile) + "file=2 1 /a%4\nend\n", sText.substr(0, sText.find("file=1")) + "end\n"}) {
    EXPECT_THROW(OutboxManifest_Parse(sBroken), OrvError) << sBroken;
  }
}

}  // namespace
