#include "frmMainImages.h"

#include <QPainter>
#include <QPixmap>

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kGray(128, 128, 128);
const QColor kGreen(0, 128, 0);
const QColor kLime(0, 255, 0);

// Pixel-exact drawing: spans and single pixels, no smoothing.
class PixelPainter {
 public:
  explicit PixelPainter(QImage& oImage) : m_oPainter(&oImage) {
    m_oPainter.setRenderHint(QPainter::Antialiasing, false);
  }

  void Span(int x1, int x2, int y, const QColor& c) { m_oPainter.fillRect(x1, y, x2 - x1 + 1, 1, c); }
  void Column(int x, int y1, int y2, const QColor& c) { m_oPainter.fillRect(x, y1, 1, y2 - y1 + 1, c); }
  void Pixel(int x, int y, const QColor& c) { m_oPainter.fillRect(x, y, 1, 1, c); }
  void Fill(int x1, int y1, int x2, int y2, const QColor& c) {
    m_oPainter.fillRect(x1, y1, x2 - x1 + 1, y2 - y1 + 1, c);
  }
  // A filled box with a one-pixel outline, corners inclusive.
  void Box(int x1, int y1, int x2, int y2, const QColor& cFill, const QColor& cLine) {
    Fill(x1, y1, x2, y2, cLine);
    if (x2 - x1 >= 2 && y2 - y1 >= 2) Fill(x1 + 1, y1 + 1, x2 - 1, y2 - 1, cFill);
  }

 private:
  QPainter m_oPainter;
};

QImage Canvas(int iWidth, int iHeight, QRgb rgbBackground) {
  QImage o(iWidth, iHeight, QImage::Format_ARGB32);
  o.fill(rgbBackground);
  return o;
}

// The folder's tab: a small raised strip on the left of the top edge.
void DrawTab(PixelPainter& p, int x, int y, const QColor& cFill) {
  p.Span(x + 1, x + 5, y, kBlack);
  p.Pixel(x, y + 1, kBlack);
  p.Span(x + 1, x + 5, y + 1, cFill);
  p.Pixel(x + 6, y + 1, kBlack);
}

// A closed folder whose body spans x..x+13 and y+2..y+11.
void DrawClosedFolder(PixelPainter& p, int x, int y) {
  DrawTab(p, x, y, kYellow);
  p.Box(x, y + 2, x + 13, y + 11, kYellow, kBlack);
  p.Span(x + 1, x + 11, y + 3, kWhite);
  p.Column(x + 1, y + 3, y + 9, kWhite);
  p.Span(x + 1, x + 12, y + 10, kOlive);
  p.Column(x + 12, y + 3, y + 10, kOlive);
}

}  // namespace

QImage frmMainImages_ClosedFolder() {
  QImage o = Canvas(16, 16, kImageSilver);
  PixelPainter p(o);
  DrawClosedFolder(p, 1, 2);
  return o;
}

QImage frmMainImages_OpenFolder() {
  QImage o = Canvas(16, 16, kImageSilver);
  PixelPainter p(o);
  // The back of the folder, its inside in shadow.
  DrawTab(p, 1, 2, kYellow);
  p.Box(1, 4, 12, 13, kOlive, kBlack);
  p.Span(2, 11, 5, kYellow);
  // The front flap, swung down and forward: a slanted panel from its hinge
  // at the bottom left up to its free edge at the top right.
  for (int y = 7; y <= 13; ++y) {
    const int iShift = (y - 7) / 2;
    const int x1 = 4 - iShift;
    const int x2 = 15 - iShift;
    if (y == 7 || y == 13) {
      p.Span(x1, x2, y, kBlack);
      continue;
    }
    p.Pixel(x1, y, kBlack);
    p.Span(x1 + 1, x2 - 1, y, y == 8 ? kWhite : kYellow);
    p.Pixel(x2, y, kBlack);
  }
  return o;
}

QImage frmMainImages_File() {
  QImage o = Canvas(16, 16, kImageSilver);
  PixelPainter p(o);
  // The page, its top right corner cut off for the fold.
  p.Box(3, 1, 12, 14, kWhite, kBlack);
  p.Fill(10, 1, 12, 3, kImageSilver);
  p.Span(3, 9, 1, kBlack);
  p.Pixel(10, 2, kBlack);
  p.Pixel(11, 3, kBlack);
  p.Column(12, 4, 14, kBlack);
  // The folded-over corner.
  p.Column(9, 1, 4, kBlack);
  p.Span(9, 12, 4, kBlack);
  p.Pixel(10, 3, kGray);
  // Lines of text.
  p.Span(5, 10, 6, kGray);
  p.Span(5, 10, 8, kGray);
  p.Span(5, 10, 10, kGray);
  p.Span(5, 8, 12, kGray);
  return o;
}

ImageList frmMainImages_ImageList1() {
  ImageList o(QSize(16, 16), QColor(kImageSilver));
  o.Add(QStringLiteral("OpenFld"), frmMainImages_OpenFolder());
  o.Add(QStringLiteral("CloseFld"), frmMainImages_ClosedFolder());
  o.Add(QStringLiteral("File"), frmMainImages_File());
  return o;
}

QImage frmMainImages_ArrowRight() {
  QImage o = Canvas(19, 17, kImageSilver);
  PixelPainter p(o);
  // Shaft on the middle row band, head narrowing towards the tip.
  p.Fill(2, 6, 9, 10, kBlack);
  for (int y = 1; y <= 15; ++y) {
    const int iFromMiddle = y > 8 ? y - 8 : 8 - y;
    p.Span(10, 17 - iFromMiddle, y, kBlack);
  }
  return o;
}

QImage frmMainImages_ArrowLeft() { return frmMainImages_ArrowRight().mirrored(true, false); }

QImage frmMainImages_WindowIconImage() {
  QImage o = Canvas(16, 16, qRgba(0, 0, 0, 0));
  PixelPainter p(o);
  DrawClosedFolder(p, 0, 4);
  // An arrow rising out of the folder: the upload.
  for (int y = 0; y <= 4; ++y) p.Span(11 - y, 11 + y, y + 1, kBlack);
  for (int y = 1; y <= 3; ++y) p.Span(12 - y, 10 + y, y + 1, kLime);
  p.Box(9, 5, 13, 12, kLime, kBlack);
  p.Span(10, 12, 5, kLime);
  p.Column(12, 6, 11, kGreen);
  return o;
}

QIcon frmMainImages_WindowIcon() { return QIcon(QPixmap::fromImage(frmMainImages_WindowIconImage())); }
