#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// A keyed list of equally sized images that share one transparent colour:
// every pixel of that colour is see-through where the images are shown.
class ImageList {
 public:
  ImageList(QSize oSize, QColor oTransparent);

  // Appends an image; a second image under a key already present is refused.
  bool Add(const QString& sKey, const QImage& oImage);

  int Count() const { return static_cast<int>(m_vItems.size()); }
  bool Contains(const QString& sKey) const { return Find(sKey) != nullptr; }
  QSize ImageSize() const { return m_oSize; }
  QColor TransparentColour() const { return m_oTransparent; }
  // The key of the image at 0-based iIndex.
  QString Key(int iIndex) const;

  // The image as drawn, the transparent colour still in it; a null image
  // for an unknown key.
  QImage Image(const QString& sKey) const;
  // The image with its transparent colour made see-through.
  QImage TransparentImage(const QString& sKey) const;
  QIcon Icon(const QString& sKey) const;

 private:
  struct Item {
    QString sKey;
    QImage oImage;
  };
  const Item* Find(const QString& sKey) const;

  QSize m_oSize;
  QColor m_oTransparent;
  std::vector<Item> m_vItems;
};
