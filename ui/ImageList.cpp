#include "ImageList.h"

#include <QPixmap>

ImageList::ImageList(QSize oSize, QColor oTransparent) : m_oSize(oSize), m_oTransparent(oTransparent) {}

bool ImageList::Add(const QString& sKey, const QImage& oImage) {
  if (Contains(sKey) || oImage.size() != m_oSize) return false;
  m_vItems.push_back({sKey, oImage.convertToFormat(QImage::Format_ARGB32)});
  return true;
}

QString ImageList::Key(int iIndex) const {
  if (iIndex < 0 || iIndex >= Count()) return QString();
  return m_vItems[static_cast<std::size_t>(iIndex)].sKey;
}

const ImageList::Item* ImageList::Find(const QString& sKey) const {
  for (const Item& o : m_vItems) {
    if (o.sKey == sKey) return &o;
  }
  return nullptr;
}

QImage ImageList::Image(const QString& sKey) const {
  const Item* p = Find(sKey);
  return p ? p->oImage : QImage();
}

QImage ImageList::TransparentImage(const QString& sKey) const {
  QImage o = Image(sKey);
  const QRgb rgbTransparent = m_oTransparent.rgb();
  for (int y = 0; y < o.height(); ++y) {
    auto* pLine = reinterpret_cast<QRgb*>(o.scanLine(y));
    for (int x = 0; x < o.width(); ++x) {
      if ((pLine[x] | 0xff000000u) == rgbTransparent) pLine[x] = qRgba(0, 0, 0, 0);
    }
  }
  return o;
}

QIcon ImageList::Icon(const QString& sKey) const {
  if (!Contains(sKey)) return QIcon();
  return QIcon(QPixmap::fromImage(TransparentImage(sKey)));
}
