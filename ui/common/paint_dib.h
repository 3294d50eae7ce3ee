// Drawing a Dib on a QPainter: the picture converted to a QImage (colour table
// honoured, stored rows turned top side up) and copied 1:1 or stretched by
// dropping or repeating pixels, as a blit with colour-on-colour reduction does.
#pragma once

#include <QImage>
#include <QRect>

#include "image/dib.h"

class QPainter;

namespace tessara {

// The picture as a QImage (run-length compressed rows expanded); a null image
// when its header does not fit its block or its rows do not decode.
QImage DibToQImage(const Dib& dib);

// Draws the part `src` of `image` (top-down picture pixels) into `dst`.
void PaintImage(QPainter& painter, const QRect& dst, const QImage& image, const QRect& src);
// The same for a Dib.
void PaintDib(QPainter& painter, const QRect& dst, const Dib& dib, const QRect& src);

// Text drawn the way the views draw their guidance: the top-left corner of the
// text at (x, y), over an opaque background of `background`.
void TextOutOpaque(QPainter& painter, int x, int y, const QString& text, const QColor& background);
// Text with the top-left corner at (x, y) and no background.
void TextOutTransparent(QPainter& painter, int x, int y, const QString& text);

// Remembers the QImage of one Dib until told that the picture changed, so that
// a large picture is not converted again for every paint.
class CDibImageCache {
 public:
  const QImage& Get(const Dib* dib);
  void Invalidate() { m_pDib = nullptr; m_image = QImage(); }

 private:
  const Dib* m_pDib = nullptr;
  QImage m_image;
};

}  // namespace tessara
