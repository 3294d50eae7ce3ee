#include "ui/common/paint_dib.h"

#include <QFontMetrics>
#include <QPainter>
#include <cstring>
#include <vector>

#include "image/ximage.h"

namespace tessara {

namespace {

// A run-length compressed 4- or 8-bit picture with its rows expanded, by the
// codec layer's bitmap decoder: the block goes to it as the file it came from,
// its file header put back in front. Null when the rows do not decode.
DibPtr ExpandRunLength(const Dib& dib) {
  const int64_t bitsOffset = 14 + DibBitsOffset(dib.Header());
  const uint64_t fileSize = 14 + uint64_t{dib.Size()};
  if (fileSize > kMaxImageBytes) return nullptr;
  std::vector<uint8_t> file(fileSize);
  const auto header = MakeBmpFileHeader(static_cast<uint32_t>(fileSize), static_cast<uint32_t>(bitsOffset));
  std::memcpy(file.data(), header.data(), header.size());
  std::memcpy(file.data() + header.size(), dib.Data(), dib.Size());
  CxImage image(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
  if (!image.IsValid()) return nullptr;
  return image.TakeDib();
}

}  // namespace

QImage DibToQImage(const Dib& dib) {
  if (!DibFitsBlock(dib)) return {};
  const BITMAPINFOHEADER& h = dib.Header();
  const int bits = h.biBitCount;
  if (bits <= 8 && h.biCompression != BI_RGB) {
    const bool runLength = (bits == 8 && h.biCompression == BI_RLE8) || (bits == 4 && h.biCompression == BI_RLE4);
    if (!runLength) return {};
    const DibPtr expanded = ExpandRunLength(dib);
    if (!expanded || expanded->Header().biCompression != BI_RGB) return {};
    return DibToQImage(*expanded);
  }
  const int w = h.biWidth;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const bool topDown = h.biHeight < 0;
  // Stored row for picture row `y` counted from the top.
  auto rowOf = [&](int y) { return dib.Row(topDown ? y : height - 1 - y); };

  if (bits == 1 || bits == 8) {
    QImage image(w, height, bits == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
    if (image.isNull()) return {};
    const int entries = bits == 1 ? 2 : static_cast<int>(DibColorTableBytes(h) / 4);
    QList<QRgb> table(1 << bits, qRgb(0, 0, 0));
    const RGBQUAD* ct = dib.ColorTable();
    for (int i = 0; i < entries && i < table.size(); ++i) table[i] = qRgb(ct[i].rgbRed, ct[i].rgbGreen, ct[i].rgbBlue);
    image.setColorTable(table);
    const size_t rowBytes = bits == 1 ? static_cast<size_t>((w + 7) / 8) : static_cast<size_t>(w);
    for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), rowOf(y), rowBytes);
    return image;
  }
  if (bits == 24 || (bits == 32 && h.biCompression == BI_RGB)) {
    QImage image(w, height, bits == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    if (image.isNull()) return {};
    const size_t rowBytes = static_cast<size_t>(w) * (bits / 8);
    for (int y = 0; y < height; ++y) {
      std::memcpy(image.scanLine(y), rowOf(y), rowBytes);
      // 32-bit rows are blue, green, red, unused: make the unused byte opaque.
      if (bits == 32) {
        uchar* p = image.scanLine(y);
        for (int x = 0; x < w; ++x) p[4 * x + 3] = 0xFF;
      }
    }
    return image;
  }
  // 4 and 16 bits, and 32 bits with masks: through the general converter.
  const std::vector<uint8_t> rgb = DibToRgb(dib);
  if (rgb.empty()) return {};
  QImage image(w, height, QImage::Format_RGB888);
  if (image.isNull()) return {};
  for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), &rgb[static_cast<size_t>(y) * w * 3], size_t(w) * 3);
  return image;
}

void PaintImage(QPainter& painter, const QRect& dst, const QImage& image, const QRect& src) {
  if (image.isNull() || dst.isEmpty() || src.isEmpty()) return;
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (dst.size() == src.size()) painter.drawImage(dst.topLeft(), image, src);
  else painter.drawImage(dst, image, src);
  painter.restore();
}

void PaintDib(QPainter& painter, const QRect& dst, const Dib& dib, const QRect& src) {
  PaintImage(painter, dst, DibToQImage(dib), src);
}

void TextOutOpaque(QPainter& painter, int x, int y, const QString& text, const QColor& background) {
  const QFontMetrics fm = painter.fontMetrics();
  painter.fillRect(QRect(x, y, fm.horizontalAdvance(text), fm.height()), background);
  painter.drawText(x, y + fm.ascent(), text);
}

void TextOutTransparent(QPainter& painter, int x, int y, const QString& text) {
  painter.drawText(x, y + painter.fontMetrics().ascent(), text);
}

QColorSpace ScreenColourSpace() { return QColorSpace(QColorSpace::SRgb); }

QColorSpace ColourSpaceToConvert(const IccProfile& icc) {
  if (icc.empty()) return {};
  const QColorSpace space =
      QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(icc.data()), qsizetype(icc.size())));
  // Qt reads RGB profiles of primaries and tone curves only; for any other the
  // picture is shown as its pixels say, as the program always showed it.
  if (!space.isValid() || space == ScreenColourSpace()) return {};
  return space;
}

QImage ConvertForScreen(QImage image, const QColorSpace& from) {
  if (!from.isValid() || image.isNull() || image.format() == QImage::Format_Mono) return image;
  // Qt transforms 32-bit pixels in place; 24-bit ones it would widen and
  // narrow again around that. Kept wide: they paint at least as fast.
  if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_RGB32) {
    // Without the memory for it the picture is still shown, unconverted.
    QImage wide = image.convertToFormat(QImage::Format_RGB32);
    if (wide.isNull()) return image;
    image = std::move(wide);
  }
  image.setColorSpace(from);
  image.convertToColorSpace(ScreenColourSpace());
  return image;
}

const QImage& CDibImageCache::Get(const Dib* dib, const IccProfile& space) {
  if (dib != m_pDib || space != m_space) {
    m_pDib = dib;
    m_space = space;
    m_image = dib ? ConvertForScreen(DibToQImage(*dib), ColourSpaceToConvert(space)) : QImage();
  }
  return m_image;
}

}  // namespace tessara
