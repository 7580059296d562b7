#pragma once
// Small controls every page is built from: a caption panel with a colour, a radio
// group that is addressed by item index, a read-only memo that takes whole reports,
// an up-down control, and a gauge with a colour. Plus the one colour helper.
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractScrollArea>

#include "widgets/LogView.h"
#include <QProgressBar>
#include <QPushButton>
#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QToolButton;

// A 24-bit colour in blue-green-red byte order (0x0000FF is red) as a QColor;
// tessaly::colour::ButtonFace gives the palette's button colour.
QColor tColor(std::uint32_t bgr);
QColor buttonFace();

// A panel showing a caption on a coloured background. The caption is drawn by an
// inner label; pages whose status text lives in a named label (PanelGS / LabelGS)
// pass that label's name.
class TPanel : public QFrame {
  Q_OBJECT
 public:
  TPanel(const QString& name, const QString& caption, QWidget* parent = nullptr, const QString& labelName = {});
  QString caption() const;
  void setCaption(const QString& text);
  QColor color() const;
  void setColor(const QColor& c);
  void setColor(std::uint32_t bgr) { setColor(tColor(bgr)); }
  QLabel* label() const { return label_; }

 private:
  QLabel* label_;
};

// A titled group of radio buttons addressed by item index (-1: none selected).
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& name, const QString& title, const QStringList& items, int columns = 1,
              QWidget* parent = nullptr);
  int itemIndex() const;
  // -1 (or any negative value) clears the selection; an index past the last item is ignored.
  void setItemIndex(int index);
  int count() const;
  QStringList items() const { return items_; }
  QAbstractButton* button(int index) const;

 signals:
  void clicked(int index);
  // The selection changed, by a click or by setItemIndex.
  void changed();

 private:
  QButtonGroup* group_;
  QStringList items_;
};

// A read-only memo: the log view (compact text, only visible lines drawn, so the
// cost of a report does not grow with history) with a memo's frame. A report goes
// in with one addLines call (one `changed` signal); a view at its end follows it.
class TMemo : public TLogView {
  Q_OBJECT
 public:
  TMemo(const QString& name, const QStringList& initialLines = {}, QWidget* parent = nullptr);
  // The whole text, lines joined by '\n'.
  QString text() const { return lines().join('\n'); }
};

// A horizontal up-down control (two arrows) holding a position in [min, max],
// without wrap-around. `clicked` follows a click on either arrow.
class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(const QString& name, int min, int max, int position, QWidget* parent = nullptr);
  int position() const { return position_; }
  void setPosition(int p);  // clamped to [min, max]
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  void stepUp() { click(+1); }
  void stepDown() { click(-1); }

 signals:
  void clicked();

 private:
  void click(int step);
  int min_, max_, position_;
};

// A bar gauge with a colour. A progress beyond the range shows a full (or empty) bar;
// progress() gives back what was set.
class TGauge : public QProgressBar {
  Q_OBJECT
 public:
  TGauge(const QString& name, int max, Qt::Orientation orientation, QWidget* parent = nullptr);
  void setProgress(int value);
  int progress() const { return progress_; }
  QColor color() const { return color_; }
  void setColor(const QColor& c);
  void setColor(std::uint32_t bgr) { setColor(tColor(bgr)); }

 private:
  int progress_ = 0;
  QColor color_;
};

// Construction helpers: create a control with its object name and initial state.
QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent = nullptr);
// A page's heading: bold, a fifth larger than the page's font.
QLabel* makeHeading(const QString& name, const QString& text, QWidget* parent = nullptr);
QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent = nullptr, bool enabled = true);
QCheckBox* makeCheck(const QString& name, const QString& caption, bool checked, QWidget* parent = nullptr);
// The most characters a user can type into an edit made by makeEdit.
int typedMaxLength(const QLineEdit* e);
QLineEdit* makeEdit(const QString& name, const QString& text, int maxLength = 0, QWidget* parent = nullptr,
                    bool enabled = true);
QGroupBox* makeGroup(const QString& title, QWidget* parent = nullptr, const QString& name = {});
QStringList numberItems(int from, int to);
