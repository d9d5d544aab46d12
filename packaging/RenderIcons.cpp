// Build-time tool: renders the window's own icon as the PNG files of the
// desktop's icon theme, <folder>/<n>x<n>/apps/OrvFtpUploader.png. The icon
// is pixel art, so it is enlarged pixel by pixel, never smoothed.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "frmMainImages.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <hicolor folder>\n", argv[0]);
    return 2;
  }
  const QString sRoot = QString::fromLocal8Bit(argv[1]);
  const QImage oIcon = frmMainImages_WindowIconImage();
  for (int iSize : {16, 32, 48, 64, 128, 256}) {
    const QString sFolder = QStringLiteral("%1/%2x%2/apps").arg(sRoot).arg(iSize);
    const QString sFile = sFolder + QStringLiteral("/OrvFtpUploader.png");
    const QImage oScaled = oIcon.scaled(iSize, iSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!QDir().mkpath(sFolder) || !oScaled.save(sFile, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(sFile));
      return 1;
    }
  }
  return 0;
}
