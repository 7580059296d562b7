#include "widgets/Widgets.h"

#include <QValidator>
#include <QVariant>

#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleFactory>
#include <QToolButton>
#include <QVBoxLayout>

#include "status/StatusReport.h"

QColor buttonFace() { return QApplication::palette().color(QPalette::Button); }

QColor tColor(std::uint32_t bgr) {
  if (bgr == tessaly::colour::ButtonFace) return buttonFace();
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

// ---------------------------------------------------------------- TPanel

TPanel::TPanel(const QString& name, const QString& caption, QWidget* parent, const QString& labelName)
    : QFrame(parent), label_(new QLabel(caption, this)) {
  setObjectName(name);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Sunken);
  setAutoFillBackground(true);
  label_->setObjectName(labelName.isEmpty() ? name + "Caption" : labelName);
  label_->setAlignment(Qt::AlignCenter);
  label_->setWordWrap(true);
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(3, 1, 3, 1);
  lay->addWidget(label_);
  setColor(buttonFace());
  setMinimumHeight(22);
}

QString TPanel::caption() const { return label_->text(); }
void TPanel::setCaption(const QString& text) { label_->setText(text); }
QColor TPanel::color() const { return palette().color(QPalette::Window); }
void TPanel::setColor(const QColor& c) {
  QPalette p = palette();
  p.setColor(QPalette::Window, c);
  setPalette(p);
}

// ---------------------------------------------------------------- TRadioGroup

TRadioGroup::TRadioGroup(const QString& name, const QString& title, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)), items_(items) {
  setObjectName(name);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 2, 6, 2);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(0);
  const int rows = (items.size() + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    b->setObjectName(name + "Item" + QString::number(i));
    group_->addButton(b, i);
    grid->addWidget(b, i % rows, i / rows);  // filled column by column
  }
  connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::clicked);
  connect(group_, &QButtonGroup::idToggled, this, [this](int, bool) { emit changed(); });
}

int TRadioGroup::itemIndex() const { return group_->checkedId(); }
int TRadioGroup::count() const { return static_cast<int>(items_.size()); }
QAbstractButton* TRadioGroup::button(int index) const { return group_->button(index); }

void TRadioGroup::setItemIndex(int index) {
  if (index < 0) {
    group_->setExclusive(false);
    for (auto* b : group_->buttons()) b->setChecked(false);
    group_->setExclusive(true);
    return;
  }
  if (auto* b = group_->button(index)) b->setChecked(true);
}

// ---------------------------------------------------------------- TMemo

TMemo::TMemo(const QString& name, const QStringList& initialLines, QWidget* parent)
    : TLogView(name, initialLines, parent) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
}

// ---------------------------------------------------------------- TUpDown

TUpDown::TUpDown(const QString& name, int min, int max, int position, QWidget* parent)
    : QWidget(parent), min_(min), max_(max), position_(position) {
  setObjectName(name);
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* down = new QToolButton(this);
  down->setObjectName(name + "Down");
  down->setArrowType(Qt::LeftArrow);
  auto* up = new QToolButton(this);
  up->setObjectName(name + "Up");
  up->setArrowType(Qt::RightArrow);
  lay->addWidget(down);
  lay->addWidget(up);
  connect(down, &QToolButton::clicked, this, [this] { click(-1); });
  connect(up, &QToolButton::clicked, this, [this] { click(+1); });
}

void TUpDown::setPosition(int p) { position_ = std::max(min_, std::min(max_, p)); }

void TUpDown::click(int step) {
  setPosition(position_ + step);
  emit clicked();
}

// ---------------------------------------------------------------- TGauge

TGauge::TGauge(const QString& name, int max, Qt::Orientation orientation, QWidget* parent) : QProgressBar(parent) {
  setObjectName(name);
  // Fusion draws the bar in the palette's highlight colour on every platform.
  static QStyle* fusion = QStyleFactory::create("Fusion");
  if (fusion) setStyle(fusion);
  setRange(0, max);
  setValue(0);
  setOrientation(orientation);
  setTextVisible(false);
  setColor(tColor(tessaly::colour::Green));
}

void TGauge::setProgress(int value) {
  progress_ = value;
  setValue(std::max(minimum(), std::min(maximum(), value)));
}

void TGauge::setColor(const QColor& c) {
  color_ = c;
  QPalette p = palette();
  p.setColor(QPalette::Highlight, c);
  setPalette(p);
}

// ---------------------------------------------------------------- helpers

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  if (!name.isEmpty()) l->setObjectName(name);
  return l;
}

QLabel* makeHeading(const QString& name, const QString& text, QWidget* parent) {
  auto* l = makeLabel(name, text, parent);
  QFont f = l->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.2);
  l->setFont(f);
  return l;
}

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent, bool enabled) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setEnabled(enabled);
  b->setAutoDefault(false);
  return b;
}

QCheckBox* makeCheck(const QString& name, const QString& caption, bool checked, QWidget* parent) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  c->setChecked(checked);
  return c;
}

namespace {
// An edit's maximum length limits what the user types or pastes, not what the
// program (the settings file, a status answer, a test) puts there, so a stored or
// reported value is never cut on its way in and is normalised like any other.
class TypedLengthLimit : public QValidator {
 public:
  TypedLengthLimit(int max, QObject* parent) : QValidator(parent), max_(max) {}
  State validate(QString& input, int&) const override { return input.size() <= max_ ? Acceptable : Invalid; }

 private:
  int max_;
};
}  // namespace

int typedMaxLength(const QLineEdit* e) {
  const QVariant v = e->property("typedMaxLength");
  return v.isValid() ? v.toInt() : e->maxLength();
}

QLineEdit* makeEdit(const QString& name, const QString& text, int maxLength, QWidget* parent, bool enabled) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  if (maxLength > 0) {
    e->setValidator(new TypedLengthLimit(maxLength, e));
    e->setProperty("typedMaxLength", maxLength);
  }
  e->setText(text);
  e->setEnabled(enabled);
  return e;
}

QGroupBox* makeGroup(const QString& title, QWidget* parent, const QString& name) {
  auto* g = new QGroupBox(title, parent);
  if (!name.isEmpty()) g->setObjectName(name);
  return g;
}

QStringList numberItems(int from, int to) {
  QStringList l;
  for (int i = from; i <= to; ++i) l << QString::number(i);
  return l;
}
