#pragma once

// Placement of the main window's lower part. The resize handler works in
// fractional pixels; only the hand-over to the toolkit rounds.

struct LayoutRect {
  double dLeft = 0;
  double dTop = 0;
  double dWidth = 0;
  double dHeight = 0;
};

// Whole pixels for the toolkit. Edges are rounded, not sizes, so two
// controls that touch in fractional pixels still touch after rounding.
struct PixelRect {
  int iLeft = 0;
  int iTop = 0;
  int iWidth = 0;
  int iHeight = 0;
};

// The controls that the resize handler moves, at their current places.
struct frmMainLayout {
  LayoutRect labStatus;
  LayoutRect tbLocalPath;
  LayoutRect tbFtpPath;
  LayoutRect labLocalCaption;
  LayoutRect Drive1;
  LayoutRect dlb;
  LayoutRect lbLocalFiles;
  LayoutRect labLocalFileCnt;
  LayoutRect cbGet;
  LayoutRect cbPut;
  LayoutRect tvFtpDirs;
  LayoutRect lbFtpFiles;
  LayoutRect labFtpCaption;
  LayoutRect labFtpFileCnt;

  // The places the controls have when the window is created.
  static frmMainLayout FirstPlaces();
};

// The places for a client area of dW x dH, starting from the current places
// oCur: every step reads the sizes as the earlier steps left them.
frmMainLayout frmMainLayout_Arrange(const frmMainLayout& oCur, double dW, double dH);

// Rounds half up, as the layout does for the local path's width.
double frmMainLayout_RoundHalfUp(double d);

PixelRect frmMainLayout_ToPixels(const LayoutRect& r);
