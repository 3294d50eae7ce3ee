// The pieces the tool dialogs are built from: dialog units turned into pixels,
// the spin button with its buddy label, the direction text of the Fine
// Adjustment dialog and the source-name lines.
//
// Dialog units: the dialogs are laid out on a grid tied to their font, a
// horizontal unit being a quarter of the font's average character width and a
// vertical unit an eighth of its height, so that a larger font makes a larger
// dialog with everything still in its place.
#pragma once

#include <QLabel>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>

class QFont;
class QLineEdit;
class QToolButton;

namespace tessara {

class CDialogUnits {
 public:
  explicit CDialogUnits(const QFont& font);
  // Straight from the base units (for tests and callers that know them).
  CDialogUnits(int baseX, int baseY) : m_nBaseX(baseX), m_nBaseY(baseY) {}
  // x, y, width, height in dialog units -> pixels. Both edges are mapped, so
  // controls that touch in units touch in pixels.
  QRect Map(int x, int y, int width, int height) const;
  int MapX(int x) const;
  int MapY(int y) const;

 private:
  int m_nBaseX;
  int m_nBaseY;
};

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c);

// The low 16 bits of a value taken as a signed number (how a spin button's
// position reply is read).
inline int LowWordSigned(int value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

// A pair of arrow buttons that count a position within a range and show it in
// a buddy label as an integer. Horizontal ones have left and right arrows,
// vertical ones up and down; right and up count toward the upper end. The
// arrow keys do the same while the control has the focus. Every click or key
// reports Scrolled(), as a scroll bar would, even at the end of the range.
class CSpinButton : public QWidget {
  Q_OBJECT
 public:
  CSpinButton(Qt::Orientation orientation, QWidget* parent);
  Qt::Orientation Orientation() const { return m_orientation; }
  void SetBuddy(QLabel* buddy) { m_pBuddy = buddy; }
  QLabel* Buddy() const { return m_pBuddy; }
  void SetRange(int lower, int upper);
  int Lower() const { return m_nLower; }
  int Upper() const { return m_nUpper; }
  // Moves to `pos` (kept in the range) and shows it in the buddy; no report.
  void SetPos(int pos);
  int Pos() const { return m_nPos; }
  // One step toward the upper or the lower end, as a click on that arrow.
  void StepUp() { Step(+1); }
  QToolButton* UpArrow() const { return m_pUp; }
  QToolButton* DownArrow() const { return m_pDown; }

 signals:
  void Scrolled();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Step(int direction);

  Qt::Orientation m_orientation;
  QToolButton* m_pUp = nullptr;
  QToolButton* m_pDown = nullptr;
  QLabel* m_pBuddy = nullptr;
  int m_nLower = 0;
  int m_nUpper = 100;
  int m_nPos = 0;
};

// The Fine Adjustment dialog's note of which way a source moved: empty (the
// dialog's own colour) until first told, then a plain white area or a text at
// its top-left corner on white.
class CDirectionStatic : public QWidget {
  Q_OBJECT
 public:
  explicit CDirectionStatic(QWidget* parent) : QWidget(parent) {}
  // A plain white area.
  void Clear();
  void ShowText(const QString& text);
  const QString& Text() const { return m_text; }
  // Whether it has been painted over at all (cleared or with a text).
  bool IsPainted() const { return m_bPainted; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_text;
  bool m_bPainted = false;
};

// One line naming a source ("Source 1:  " and the document's title), drawn at
// its top-left corner without a background, in the system's own font rather
// than the dialog's. Empty until a dialog paints the names into it.
class CSourceLine : public QWidget {
  Q_OBJECT
 public:
  explicit CSourceLine(QWidget* parent);
  void SetText(const QString& text);
  const QString& Text() const { return m_text; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_text;
};

// What an integer field holds: an integer in range, something that is not an
// integer, or an integer outside the range.
enum class IntEntry { kOk, kNotInteger, kOutOfRange };
// Reads a field as an integer: blanks around it, an optional sign, then digits
// only. `value` is set when the result is kOk.
IntEntry ReadIntEntry(const QString& text, int lowest, int highest, int& value);

// Says in a message box why a field's text was refused, then gives the
// keyboard back to that field with its text selected for retyping. The box
// stands over the field's dialog, and the dialog is made the active window
// again: a modeless dialog left inactive would send the next key typed to the
// main window, where a digit or a letter runs a command.
void RefuseField(QLineEdit* field, const QString& message);

// The kind of border a static text has.
enum class StaticFrame { kNone, kBlackFrame, kWhiteFrame, kSunken, kBorder };

}  // namespace tessara
