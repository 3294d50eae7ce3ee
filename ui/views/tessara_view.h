// The view of a Source Window: the source picture at full size with three lines
// of guidance in green. Nothing is done to the sources here; the view says
// which source is active, starts preparing both sources when the second one has
// loaded, and, when it goes, resets the session and moves source 2 up.
#pragma once

#include "ui/common/long_work.h"
#include "image/colour_profile.h"
#include "ui/common/commands.h"
#include "ui/common/paint_dib.h"
#include "ui/common/scroll_view.h"

namespace tessara {

class CTessaraDoc;

namespace source_view_text {
inline constexpr const char* kTooSmall = "This image is too small to be processed properly - but will be loaded.";
inline constexpr const char* kSource1 = "Source 1";
inline constexpr const char* kSource2 = "source 2";
inline constexpr const char* kViewingOnly = "This source window is for viewing only.";
inline constexpr const char* kActionsElsewhere =
    "All actions are carried out in the Align Window and finally in the Target Window";
inline constexpr const char* kSourceImage = "This is a source image.";
}  // namespace source_view_text

// The colour space the Align preview and the Target are in: source 1's (empty,
// sRGB, without a source 1), since source 2 is converted into it.
const IccProfile& Source1ColourSpace();

class CTessaraView : public CScrollView, public CCmdTarget {
  Q_OBJECT
 public:
  // Enters the view table at its document's slot and takes its number.
  CTessaraView(CTessaraDoc* doc, QWidget* parent);
  // Closes the tool dialogs, raises the Align Window, resets the session and
  // moves source 2 up to source 1.
  ~CTessaraView() override;

  CTessaraDoc* GetDocument() const { return m_pDoc; }
  // Runs once the picture has loaded: the size warning, the scroll sizes, and
  // with the second source the preparation of both and the Align preview.
  void OnInitialUpdate();
  // The view becomes active (or not): the source's number for the session,
  // and what happened to its picture as it loaded on the status line.
  void OnActivateView(bool activate);
  // The load's note on the status line's message pane, when there is one;
  // otherwise a note of the other source is taken away.
  void ShowLoadNote();
  // The picture as painted: converted from its colour space for the screen.
  const QImage& ShownImage();
  // Draws the picture and the guidance at the current scroll position.
  void Draw(QPainter& painter);

  int m_nSource = 1;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  CTessaraDoc* m_pDoc;
  CDibImageCache m_image;
  // What the view shows while long work has the documents.
  CShownPicture m_shown{*viewport()};
};

}  // namespace tessara
