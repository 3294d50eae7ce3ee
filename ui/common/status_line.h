// The four panes of the status line. Each pane has its own text; the engine's
// painters (SetStatusText, SetStageText, ShowProgress) paint over a pane at once
// without changing that text, and the painting stays until the next painting or
// until the pane is given a new text of its own.
#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <optional>

class QStatusBar;

namespace tessara {

class CStatusPane : public QFrame {
  Q_OBJECT
 public:
  CStatusPane(int id, int width, const QString& ownText, QWidget* parent);
  int Id() const { return m_nId; }

  // The pane's own text; a painting over it goes. A text longer than the
  // pane's width widens the pane until another own text fits its width again.
  void SetOwnText(const QString& text);
  // Paints a text over the pane now, from its top-left corner.
  void PaintText(const QString& text);
  // Fills the pane from its left edge over `percent` of its width, now; no
  // colour means the pane's background.
  void PaintProgress(std::optional<QColor> colour, int percent);
  // What the pane shows: the painted text when there is one, else its own.
  QString ShownText() const { return m_paintedText ? *m_paintedText : m_strOwn; }
  std::optional<QColor> ProgressColour() const { return m_progressColour; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The width left for text inside the frame, and the pane's width to fit
  // `text` (never less than its fixed width).
  int WidthFor(const QString& text) const;

  int m_nId;
  int m_nWidth;
  QString m_strOwn;
  std::optional<QString> m_paintedText;
  int m_nProgressWidth = -1;  // -1: no progress painted
  std::optional<QColor> m_progressColour;
};

// Creates the panes 0, 201, 202, 203 in `bar`, left to right with their fixed
// widths and own texts.
class CStatusLine {
 public:
  explicit CStatusLine(QStatusBar* bar);
  CStatusPane* Pane(int index) const { return m_panes[index]; }

 private:
  CStatusPane* m_panes[4];
};

}  // namespace tessara
