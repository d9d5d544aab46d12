#include "frmMainLayout.h"

#include <cmath>

#include "LibOrv.h"

frmMainLayout frmMainLayout::FirstPlaces() {
  frmMainLayout o;
  o.labLocalCaption = {3, 87, 157, 19};
  o.labLocalFileCnt = {171, 86, 157, 19};
  o.labFtpCaption = {334, 90, 235, 19};
  o.labFtpFileCnt = {607, 90, 173, 19};
  o.Drive1 = {10, 107, 145, 21};
  o.dlb = {10, 127, 145, 231};
  o.lbLocalFiles = {165, 112, 125, 212};
  o.cbGet = {301, 192, 30, 30};
  o.cbPut = {301, 235, 30, 30};
  o.tvFtpDirs = {343, 110, 232, 253};
  o.lbFtpFiles = {579, 125, 167, 196};
  o.tbLocalPath = {1, 364, 298, 19};
  o.tbFtpPath = {334, 364, 413, 19};
  o.labStatus = {0, 395, 747, 19};
  return o;
}

double frmMainLayout_RoundHalfUp(double d) { return std::floor(d + 0.5); }

PixelRect frmMainLayout_ToPixels(const LayoutRect& r) {
  const double dLeft = frmMainLayout_RoundHalfUp(r.dLeft);
  const double dTop = frmMainLayout_RoundHalfUp(r.dTop);
  const double dRight = frmMainLayout_RoundHalfUp(r.dLeft + r.dWidth);
  const double dBottom = frmMainLayout_RoundHalfUp(r.dTop + r.dHeight);
  return {static_cast<int>(dLeft), static_cast<int>(dTop), static_cast<int>(dRight - dLeft),
          static_cast<int>(dBottom - dTop)};
}

frmMainLayout frmMainLayout_Arrange(const frmMainLayout& oCur, double dW, double dH) {
  frmMainLayout o = oCur;

  o.labStatus.dLeft = 0;
  o.labStatus.dTop = LibOrv_Max(0.0, dH - o.labStatus.dHeight);
  o.labStatus.dWidth = dW;

  o.tbLocalPath.dLeft = 0;
  o.tbLocalPath.dTop = LibOrv_Max(0.0, dH - o.labStatus.dHeight - o.tbLocalPath.dHeight);
  o.tbLocalPath.dWidth = dW / 2.3;

  o.tbFtpPath.dLeft = o.tbLocalPath.dWidth + o.cbPut.dWidth;
  o.tbFtpPath.dTop = o.tbLocalPath.dTop;
  o.tbFtpPath.dWidth = LibOrv_Max(0.0, dW - o.tbLocalPath.dWidth - o.cbPut.dWidth);

  o.labLocalCaption.dLeft = 0;
  o.labLocalCaption.dWidth = o.tbLocalPath.dWidth / 2;

  o.Drive1.dLeft = 0;
  o.Drive1.dTop = o.labLocalCaption.dTop + 16;
  o.Drive1.dWidth = o.tbLocalPath.dWidth / 2;

  o.dlb.dLeft = 0;
  o.dlb.dTop = o.Drive1.dTop + o.Drive1.dHeight;
  o.dlb.dWidth = o.Drive1.dWidth;
  o.dlb.dHeight = LibOrv_Max(0.0, o.tbLocalPath.dTop - o.Drive1.dTop - o.Drive1.dHeight);

  o.lbLocalFiles.dLeft = o.Drive1.dWidth;
  o.lbLocalFiles.dTop = o.Drive1.dTop;
  const double dR = frmMainLayout_RoundHalfUp(o.tbLocalPath.dWidth);
  o.lbLocalFiles.dWidth = LibOrv_Max(0.0, dR - o.lbLocalFiles.dLeft);
  o.lbLocalFiles.dHeight = LibOrv_Max(0.0, o.tbLocalPath.dTop - o.lbLocalFiles.dTop);

  o.labLocalFileCnt.dLeft = o.lbLocalFiles.dLeft;
  o.labLocalFileCnt.dTop = o.labLocalCaption.dTop;
  o.labLocalFileCnt.dWidth = o.lbLocalFiles.dWidth;

  o.cbGet.dLeft = o.tbLocalPath.dWidth;
  o.cbGet.dTop = LibOrv_Max(0.0, o.lbLocalFiles.dTop + o.lbLocalFiles.dHeight / 2 - o.cbGet.dHeight);

  o.cbPut.dLeft = o.tbLocalPath.dWidth;
  o.cbPut.dTop = o.cbGet.dTop + o.cbGet.dHeight;

  o.tvFtpDirs.dLeft = o.tbFtpPath.dLeft;
  o.tvFtpDirs.dTop = o.Drive1.dTop;
  o.tvFtpDirs.dWidth = o.tbFtpPath.dWidth / 1.8;
  o.tvFtpDirs.dHeight = o.lbLocalFiles.dHeight;

  o.lbFtpFiles.dLeft = o.tvFtpDirs.dLeft + o.tvFtpDirs.dWidth;
  o.lbFtpFiles.dTop = o.tvFtpDirs.dTop;
  o.lbFtpFiles.dWidth = LibOrv_Max(0.0, o.tbFtpPath.dWidth - o.tvFtpDirs.dWidth);
  o.lbFtpFiles.dHeight = o.lbLocalFiles.dHeight;

  o.labFtpCaption.dLeft = o.tbFtpPath.dLeft;
  o.labFtpCaption.dTop = o.labLocalCaption.dTop;
  o.labFtpCaption.dWidth = o.tvFtpDirs.dWidth;

  o.labFtpFileCnt.dLeft = o.lbFtpFiles.dLeft;
  o.labFtpFileCnt.dTop = o.labLocalCaption.dTop;
  o.labFtpFileCnt.dWidth = o.lbFtpFiles.dWidth;

  return o;
}
