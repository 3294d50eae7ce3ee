// The view of the Align Window. While fewer than two sources are loaded it
// shows what to do next and a button that loads a source; with two sources it
// shows the reduced preview of both at their relative placement, or why there
// is none. Over the preview the user aligns the sources with the mouse: the
// left button works on source 1, the right one on source 2. The Align menu's
// exact commands are handled here too, since they reach only this view.
//
// Points here are client pixels of the view (x right, y down); the view never
// scrolls. The preview's own rows count from its bottom (see the align
// document), which SyncFrame turns into view rows.
#pragma once

#include <QPoint>
#include <optional>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include "ui/common/long_work.h"
#include "engine/align_frame.h"
#include "ui/common/bitmap_button.h"
#include "ui/common/commands.h"
#include "ui/common/paint_dib.h"

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
inline constexpr const char* kLoadSource2 = "Load source 2";
inline constexpr const char* kDragTitle1 = "Align Source 1:       ";
inline constexpr const char* kDragTitle2 = "Align Source 2:       ";
inline constexpr const char* kHoverSource1 = "source one: ";
inline constexpr const char* kHoverSource2 = "source two: ";
}  // namespace alignview_text

// Colours of the Align Window.
inline const QColor kWaitColour(192, 208, 240);
inline const QColor kFailColour(224, 160, 160);
inline const QColor kHatchColour(112, 128, 79);
inline const QColor kStripColour(207, 223, 255);
inline const QColor kFinishedColour(0, 191, 0);

// The wait screen's band height for a client area `clientHeight` high, and the
// number of bands drawn.
int WaitBandHeight(int clientHeight);
int WaitBandCount(int clientHeight);

// The status strip's line for the four session scales (1/1024 each), shown as
// whole percent truncated toward zero.
QString ScalingLine(int scale1X, int scale1Y, int scale2X, int scale2Y);

// The process pane's text for a hit zone of source 1 or 2: "source one: move",
// say; empty outside the frame.
std::string HoverText(int source, int zone);

// The system pointer shown over a hit zone.
Qt::CursorShape CursorForPointer(AlignPointer pointer);

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
  // "Load source 1", or "Load source 2" once the first is loaded.
  static QString LoadButtonWords();
  CBitmapButton* LoadButton() const { return m_pLoadButton; }
  void Draw(QPainter& painter);
  // The preview as painted: converted for the screen from source 1's colour
  // space, which source 2 was converted into. Null without a preview.
  const QImage& ShownPreview();

  // Puts the selection frame on source n's place in the preview.
  void SyncFrame(int n);
  // The zone under (px, py), also kept in m_nHitZone.
  int HitTest(int px, int py);
  AlignFrame Frame() const { return {m_nFrameX, m_nFrameY, m_nFrameWidth, m_nFrameHeight}; }
  // After a command changed the alignment, a frame already shown follows its
  // source to the new place.
  void ResyncShownFrame();

  bool OnUpdateCommand(int id, bool& enabled) override;
  void OnCommand(int id) override;

  // Zoom: the preview laid out with `reduction` source pixels per preview
  // pixel (0: fit the window), keeping the canvas point under `anchor` (a view
  // point; the centre when absent) where it is.
  void SetZoomReduction(int reduction, std::optional<QPoint> anchor = std::nullopt);
  // Moves a zoomed preview by (dx, dy) view pixels.
  void Pan(int dx, int dy);
  // Moves source 2 by (dx, dy) source pixels, y upward: one undoable step.
  void NudgeSource2(int dx, int dy);

  QPoint m_ptDragStart;
  int m_nFrameWidth = 0;
  int m_nFrameHeight = 0;
  int m_nFrameX = 0;
  int m_nFrameY = 0;
  int m_nActiveSource = 1;
  int m_nHitZone = kZoneNone;
  QRect m_rcFinished;  // as left, top, right, bottom: see FinishedContains
  int m_bLeftPressed = 0;

  // The finished box, with the edges excluded as a click test wants them.
  bool FinishedContains(const QPoint& p) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void DrawWaiting(QPainter& painter, const QRect& client);
  void DrawNoPreview(QPainter& painter, const QRect& client);
  void DrawPreview(QPainter& painter, const QRect& client);
  void DrawFinishedBox(QPainter& painter, const QRect& client);
  void DrawSelectionFrame(QPainter& painter);

  void StartDrag(const QPoint& p, int source);
  void EndDrag();
  void ApplyDraggedFrame();
  void SetFrame(const AlignFrame& f);
  void RunAlignCommand(int id);
  void RunRotateDialog();
  // Align Automatically: finds source 2's placement and applies it, or says
  // that nothing trustworthy was found.
  void RunAutoAlign();
  // A resize met long work that has a source out of the session for the
  // moment; the preview is rebuilt once the work is over.
  void FinishPendingResize();

  CAlignDoc* m_pDoc;
  QPointer<CBitmapButton> m_pLoadButton;
  CDibImageCache m_image;
  // What the view shows while long work has the documents.
  CShownPicture m_shown{*this};
  int m_nListener = 0;
  bool m_bCaptured = false;
  QTimer m_pendingResize;
};

}  // namespace tessara
