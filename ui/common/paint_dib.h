// Drawing a Dib on a QPainter: the picture converted to a QImage (colour table
// honoured, stored rows turned top side up) and copied 1:1 or stretched by
// dropping or repeating pixels, as a blit with colour-on-colour reduction does.
#pragma once

#include <QColorSpace>
#include <QImage>
#include <QRect>

#include "image/colour_profile.h"
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

// The colour space of the screen: Qt does not tell it, so sRGB, the space of
// every screen that was never measured.
QColorSpace ScreenColourSpace();

// The space a picture held in `icc` (empty: sRGB) is to be converted from for
// the screen; an invalid QColorSpace when nothing is to be done: the profile is
// empty, one Qt cannot use (not an RGB profile of primaries and tone curves),
// or names the screen's space already.
QColorSpace ColourSpaceToConvert(const IccProfile& icc);

// `image` with its colours converted from `from` into the screen's space
// (indexed pictures through their colour table, black-and-white ones not at
// all). Returned as it is when `from` is invalid.
QImage ConvertForScreen(QImage image, const QColorSpace& from);

// Remembers the QImage of one Dib, converted for the screen from the colour
// space its pixels are in, until told that the picture changed, so that a
// large picture is not converted again for every paint. Untagged pictures and
// sRGB ones are shown as they are, without a conversion or a copy.
class CDibImageCache {
 public:
  // `space` is the ICC profile the pixels are in (empty: sRGB); a change of
  // the picture or of its space makes a new image.
  const QImage& Get(const Dib* dib, const IccProfile& space = {});
  void Invalidate() {
    m_pDib = nullptr;
    m_image = QImage();
    m_space.clear();
  }

 private:
  const Dib* m_pDib = nullptr;
  IccProfile m_space;
  QImage m_image;
};

}  // namespace tessara
