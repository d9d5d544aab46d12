#include "frmMainLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using Member = LayoutRect frmMainLayout::*;

const std::vector<std::pair<const char*, Member>>& AllControls() {
  static const std::vector<std::pair<const char*, Member>> k = {
      {"labStatus", &frmMainLayout::labStatus},
      {"tbLocalPath", &frmMainLayout::tbLocalPath},
      {"tbFtpPath", &frmMainLayout::tbFtpPath},
      {"labLocalCaption", &frmMainLayout::labLocalCaption},
      {"Drive1", &frmMainLayout::Drive1},
      {"dlb", &frmMainLayout::dlb},
      {"lbLocalFiles", &frmMainLayout::lbLocalFiles},
      {"labLocalFileCnt", &frmMainLayout::labLocalFileCnt},
      {"cbGet", &frmMainLayout::cbGet},
      {"cbPut", &frmMainLayout::cbPut},
      {"tvFtpDirs", &frmMainLayout::tvFtpDirs},
      {"lbFtpFiles", &frmMainLayout::lbFtpFiles},
      {"labFtpCaption", &frmMainLayout::labFtpCaption},
      {"labFtpFileCnt", &frmMainLayout::labFtpFileCnt}};
  return k;
}

frmMainLayout At(double dW, double dH) { return frmMainLayout_Arrange(frmMainLayout::FirstPlaces(), dW, dH); }

TEST(frmMainLayout, FirstClientSizeGivesTheWorkedExample) {
  const frmMainLayout o = At(804, 431);
  EXPECT_DOUBLE_EQ(o.labStatus.dTop, 412);
  EXPECT_DOUBLE_EQ(o.labStatus.dWidth, 804);
  EXPECT_DOUBLE_EQ(o.tbLocalPath.dTop, 393);
  EXPECT_DOUBLE_EQ(o.tbFtpPath.dTop, 393);
  EXPECT_NEAR(o.tbLocalPath.dWidth, 349.6, 0.05);
  EXPECT_NEAR(o.tbFtpPath.dLeft, 379.6, 0.05);
  EXPECT_NEAR(o.tbFtpPath.dWidth, 424.4, 0.05);
  EXPECT_DOUBLE_EQ(o.Drive1.dTop, 103);
  EXPECT_DOUBLE_EQ(o.dlb.dTop, 124);
  EXPECT_DOUBLE_EQ(o.dlb.dHeight, 269);
  // The file list ends at the local path's width rounded to whole pixels.
  EXPECT_NEAR(o.lbLocalFiles.dLeft, 174.8, 0.05);
  EXPECT_NEAR(o.lbLocalFiles.dWidth, 175.2, 0.05);
  EXPECT_DOUBLE_EQ(o.lbLocalFiles.dLeft + o.lbLocalFiles.dWidth, 350);
  EXPECT_DOUBLE_EQ(o.lbLocalFiles.dHeight, 290);
  EXPECT_DOUBLE_EQ(o.cbGet.dTop, 218);
  EXPECT_DOUBLE_EQ(o.cbPut.dTop, 248);
  EXPECT_NEAR(o.tvFtpDirs.dWidth, 235.8, 0.05);
  EXPECT_DOUBLE_EQ(o.tvFtpDirs.dHeight, 290);
  EXPECT_NEAR(o.lbFtpFiles.dLeft, 615.4, 0.05);
  EXPECT_NEAR(o.lbFtpFiles.dWidth, 188.6, 0.05);
  EXPECT_DOUBLE_EQ(o.lbFtpFiles.dHeight, 290);
  // Heights that the layout does not set stay as they were.
  for (const auto& [szName, m] : AllControls()) {
    if (m == &frmMainLayout::dlb || m == &frmMainLayout::lbLocalFiles || m == &frmMainLayout::tvFtpDirs ||
        m == &frmMainLayout::lbFtpFiles) {
      continue;
    }
    EXPECT_DOUBLE_EQ((o.*m).dHeight, (frmMainLayout::FirstPlaces().*m).dHeight) << szName;
  }
}

TEST(frmMainLayout, EmptyClientAreaGivesNoNegativeValue) {
  const frmMainLayout o = At(0, 0);
  for (const auto& [szName, m] : AllControls()) {
    const LayoutRect& r = o.*m;
    EXPECT_GE(r.dLeft, 0) << szName;
    EXPECT_GE(r.dTop, 0) << szName;
    EXPECT_GE(r.dWidth, 0) << szName;
    EXPECT_GE(r.dHeight, 0) << szName;
  }
  EXPECT_EQ(o.labStatus.dTop, 0);
  EXPECT_EQ(o.tbLocalPath.dTop, 0);
  EXPECT_EQ(o.tbFtpPath.dTop, 0);
  EXPECT_EQ(o.dlb.dHeight, 0);
  EXPECT_EQ(o.lbLocalFiles.dHeight, 0);
  EXPECT_EQ(o.lbFtpFiles.dHeight, 0);
  EXPECT_EQ(o.tvFtpDirs.dHeight, 0);
}

TEST(frmMainLayout, WideningMovesOnlyLeftsAndWidths) {
  const frmMainLayout oNarrow = At(804, 431);
  const frmMainLayout oWide = At(1200, 431);
  for (const auto& [szName, m] : AllControls()) {
    EXPECT_EQ((oNarrow.*m).dTop, (oWide.*m).dTop) << szName;
    EXPECT_EQ((oNarrow.*m).dHeight, (oWide.*m).dHeight) << szName;
  }
  EXPECT_GT(oWide.lbFtpFiles.dLeft, oNarrow.lbFtpFiles.dLeft);
  EXPECT_GT(oWide.tbLocalPath.dWidth, oNarrow.tbLocalPath.dWidth);
}

TEST(frmMainLayout, HeighteningMovesOnlyTheBottomRowsAndStretchesTheLists) {
  const frmMainLayout oLow = At(804, 431);
  const frmMainLayout oHigh = At(804, 700);
  const std::vector<Member> vMovedDown = {&frmMainLayout::labStatus, &frmMainLayout::tbLocalPath,
                                          &frmMainLayout::tbFtpPath, &frmMainLayout::cbGet, &frmMainLayout::cbPut};
  const std::vector<Member> vTaller = {&frmMainLayout::dlb, &frmMainLayout::lbLocalFiles, &frmMainLayout::lbFtpFiles,
                                       &frmMainLayout::tvFtpDirs};
  auto contains = [](const std::vector<Member>& v, Member m) { return std::find(v.begin(), v.end(), m) != v.end(); };
  for (const auto& [szName, m] : AllControls()) {
    EXPECT_EQ((oLow.*m).dLeft, (oHigh.*m).dLeft) << szName;
    EXPECT_EQ((oLow.*m).dWidth, (oHigh.*m).dWidth) << szName;
    if (contains(vMovedDown, m)) {
      EXPECT_GT((oHigh.*m).dTop, (oLow.*m).dTop) << szName;
    } else {
      EXPECT_EQ((oHigh.*m).dTop, (oLow.*m).dTop) << szName;
    }
    if (contains(vTaller, m)) {
      EXPECT_EQ((oHigh.*m).dHeight, (oLow.*m).dHeight + 269) << szName;
    } else {
      EXPECT_EQ((oHigh.*m).dHeight, (oLow.*m).dHeight) << szName;
    }
  }
}

TEST(frmMainLayout, NeighboursThatTouchStillTouchInWholePixels) {
  for (double dW : {804.0, 805.0, 1000.0, 1201.0, 333.0}) {
    const frmMainLayout o = At(dW, 431);
    const PixelRect tbLocalPath = frmMainLayout_ToPixels(o.tbLocalPath);
    const PixelRect cbGet = frmMainLayout_ToPixels(o.cbGet);
    const PixelRect tbFtpPath = frmMainLayout_ToPixels(o.tbFtpPath);
    const PixelRect tvFtpDirs = frmMainLayout_ToPixels(o.tvFtpDirs);
    const PixelRect lbFtpFiles = frmMainLayout_ToPixels(o.lbFtpFiles);
    const PixelRect Drive1 = frmMainLayout_ToPixels(o.Drive1);
    const PixelRect lbLocalFiles = frmMainLayout_ToPixels(o.lbLocalFiles);
    EXPECT_EQ(tbLocalPath.iLeft + tbLocalPath.iWidth, cbGet.iLeft) << dW;
    EXPECT_EQ(cbGet.iLeft + cbGet.iWidth, tbFtpPath.iLeft) << dW;
    EXPECT_EQ(tvFtpDirs.iLeft + tvFtpDirs.iWidth, lbFtpFiles.iLeft) << dW;
    EXPECT_EQ(Drive1.iLeft + Drive1.iWidth, lbLocalFiles.iLeft) << dW;
    EXPECT_EQ(lbFtpFiles.iLeft + lbFtpFiles.iWidth, static_cast<int>(dW)) << dW;
  }
  EXPECT_EQ(frmMainLayout_RoundHalfUp(2.5), 3);
  EXPECT_EQ(frmMainLayout_RoundHalfUp(2.49), 2);
}

}  // namespace
