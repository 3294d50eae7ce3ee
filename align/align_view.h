// The view of the Align Window. While fewer than two sources are loaded it
// shows what to do next and a button that loads a source; with two sources it
// shows the reduced preview of both at their relative placement, or why there
// is none. The mouse alignment and the Align menu's commands live elsewhere.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/bitmap_button.h"
#include "app/commands.h"
#include "app/paint_dib.h"

namespace tessara {

class CAlignDoc;

namespace alignview_text {
inline constexpr const char* kLoadFirst = "Please load the first source image now by File-Open.";
inline constexpr const char* kOrButton = "Alternatively press the button below.";
inline constexpr const char* kLoadSecond = "Now load the 2nd source image.";
inline constexpr const char* kNamesExplained =
    "The first image will be known as 'source 1' and the second as 'source 2'.";
inline constexpr const char* kUseMouse = "When loaded, use both mouse buttons to align the two images.";
inline constexpr const char* kLoadSource1 = "Load source 1";
}  // namespace alignview_text

// Colours of the Align Window.
inline const QColor kWaitColour(192, 208, 240);
inline const QColor kFailColour(224, 160, 160);
inline const QColor kHatchColour(112, 128, 79);
inline const QColor kStripColour(207, 223, 255);

// The wait screen's band height for a client area `clientHeight` high, and the
// number of bands drawn.
int WaitBandHeight(int clientHeight);
int WaitBandCount(int clientHeight);

class CAlignview : public QWidget, public CCmdTarget {
  Q_OBJECT
 public:
  CAlignview(CAlignDoc* doc, QWidget* parent);
  ~CAlignview() override;

  CAlignDoc* GetDocument() const { return m_pDoc; }
  // The title, the client size the preview is laid out for, the load button.
  void OnInitialUpdate();
  void OnActivateView(bool activate);
  // Makes the load-source button when there is none; deletes it.
  void EnsureLoadButton();
  void DeleteLoadButton();
  CBitmapButton* LoadButton() const { return m_pLoadButton; }
  void Draw(QPainter& painter);

  bool OnUpdateCommand(int id, bool& enabled) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void DrawWaiting(QPainter& painter, const QRect& client);
  void DrawNoPreview(QPainter& painter, const QRect& client);
  void DrawPreview(QPainter& painter, const QRect& client);

  CAlignDoc* m_pDoc;
  QPointer<CBitmapButton> m_pLoadButton;
  CDibImageCache m_image;
  int m_nListener = 0;
};

}  // namespace tessara
