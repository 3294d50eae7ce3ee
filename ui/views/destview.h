// The view of the Target Window: the Target 1:1 with the Zone outlined on it, or,
// while there is none, a shaded guidance screen with the "Generate the Target"
// button. Here the Zone is dragged (see zone.h), the snap grid chosen, and the
// Target printed across the page.
#pragma once

#include <QPointer>
#include <optional>

#include "ui/common/long_work.h"
#include "ui/common/bitmap_button.h"
#include "ui/common/commands.h"
#include "ui/common/paint_dib.h"
#include "ui/common/scroll_view.h"
#include "ui/views/view_zoom.h"
#include "ui/views/zone.h"

class QPagedPaintDevice;
class QTimer;

namespace tessara {

class CDestdoc;

namespace destview_text {
inline constexpr const char* kEmpty = "This target window is empty !";
inline constexpr const char* kSelectItem = "Please select an item from the Target menu and apply it.";
inline constexpr const char* kPressButton = "Alternatively press the button below and load the Target from defaults";
inline constexpr const char* kAlignNotValid = "This target window is empty because the align view is not valid.";
inline constexpr const char* kSwitchToAlign = "Please switch to the Align Window ";
inline constexpr const char* kLoadSecond = "and load the 2nd source image.";
inline constexpr const char* kLoadTwo = "and load two source images.";
inline constexpr const char* kGenerate = "Generate the Target";
}  // namespace destview_text

// The guidance screen's colour, and the height of its darkening bands.
inline constexpr int kGuideRed = 224, kGuideGreen = 240, kGuideBlue = 240;
int GuideBandHeight(int clientHeight);
// "Zoom 25 %": the message pane's note after the zoom changed.
std::string ZoomText(ZoomRatio z);
// The snap step a Snap command sets (1, 5, 10, 16); 0 for any other command.
int SnapOfCommand(int id);

class CDestview : public CScrollView, public CCmdTarget, public CZoneTracker {
  Q_OBJECT
 public:
  CDestview(CDestdoc* doc, QWidget* parent);
  ~CDestview() override;

  CDestdoc* GetDocument() const { return m_pDoc; }
  // Once, when the window is first shown: the auto-scroll timer, the title and
  // the scroll sizes.
  void OnInitialUpdate();
  // The scroll sizes follow the Target's size.
  void OnUpdate();
  // Repaints at once (erase and paint).
  void RedrawNow();
  // Makes the "Generate the Target" button when there is none.
  void EnsureGenerateButton();
  CBitmapButton* GenerateButton() const { return m_pGenerateButton; }
  // Converts a new Target for the screen, ready for the next paint: called by
  // the work that built it, on the work's thread, since for a large Target
  // this is most of the cost of showing it.
  void PrepareShownTarget();
  // Paints that showed the picture kept while long work had the documents.
  int PaintsDuringWork() const { return m_shown.KeptPaints(); }
  // Builds the Target (the button's command).
  void OnGenerateTarget();

  // Draws the screen at the current scroll position.
  void Draw(QPainter& painter);
  // The Target as painted: converted for the screen from source 1's colour
  // space, the one it is built in. Null without a Target.
  const QImage& ShownTarget();
  // Draws the printed page on `device`: the output image (the whole Target or
  // its Zone) across the printable width.
  void DrawPrinted(QPainter& painter, QPagedPaintDevice& device);

  bool OnUpdateCommand(int id, bool& enabled) override;
  void OnCommand(int id) override;
  // The snap in force has its check mark.
  bool IsCommandChecked(int id) override;

  // One auto-scroll tick (the 50-millisecond timer calls it).
  void OnAutoScrollTimer();

  // The zoom: the Target is shown at m_zoom of its size. `anchor` (a window
  // point) keeps the picture pixel under it; the window's centre when absent.
  ZoomRatio Zoom() const { return m_zoom; }
  void SetZoom(ZoomRatio zoom, std::optional<QPoint> anchor = std::nullopt);
  // A window point to the Target pixel under it, and back (the pixel's first
  // shown pixel in the window).
  ZonePoint PicturePoint(const QPoint& windowPoint) const;
  QPoint WindowPoint(ZonePoint picture) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void DrawGuidance(QPainter& painter);
  ZonePoint LogicalPoint(const QPoint& windowPoint) const;
  void PassZoneToDocument();

  QPointer<CBitmapButton> m_pGenerateButton;
  CDestdoc* m_pDoc;
  QTimer* m_pTimer = nullptr;
  CDibImageCache m_image;
  // What the view shows while long work has the documents.
  CShownPicture m_shown{*viewport(), false};
  int m_nListener = 0;
  bool m_bCaptured = false;
  bool m_bRubberBand = false;
  ZoomRatio m_zoom;
};

}  // namespace tessara
