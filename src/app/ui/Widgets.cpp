#include "app/ui/Widgets.h"

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

namespace {
constexpr int kMemoMargin = 3;
}

TMemo::TMemo(const QString& name, const QStringList& initialLines, QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(name);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
  if (!initialLines.isEmpty()) addLines(initialLines);
}

void TMemo::clearLines() {
  text_.clear();
  starts_.clear();
  widest_ = 0;
  finishAppend();
}

void TMemo::appendUtf8(const char* data, std::size_t size) {
  // A line holding line breaks becomes several lines.
  std::size_t from = 0;
  const QFontMetrics fm(font());
  for (;;) {
    std::size_t end = from;
    while (end < size && data[end] != '\n') ++end;
    starts_.push_back(static_cast<std::uint32_t>(text_.size()));
    text_.append(data + from, static_cast<qsizetype>(end - from));
    widest_ = std::max(widest_, fm.horizontalAdvance(QString::fromUtf8(data + from, static_cast<qsizetype>(end - from))));
    if (end >= size) break;
    from = end + 1;
  }
}

void TMemo::finishAppend() {
  updateScrollBars();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  viewport()->update();
  emit changed();
}

void TMemo::addLine(const QString& line) { addLines(QStringList{line}); }

void TMemo::addLines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  for (const QString& l : lines) {
    const QByteArray u = l.toUtf8();
    appendUtf8(u.constData(), static_cast<std::size_t>(u.size()));
  }
  finishAppend();
}

void TMemo::addLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  for (const auto& l : lines) appendUtf8(l.data(), l.size());
  finishAppend();
}

QString TMemo::line(int index) const {
  if (index < 0 || index >= lineCount()) return {};
  const auto i = static_cast<std::size_t>(index);
  const std::uint32_t begin = starts_[i];
  const std::uint32_t end = i + 1 < starts_.size() ? starts_[i + 1] : static_cast<std::uint32_t>(text_.size());
  return QString::fromUtf8(text_.constData() + begin, static_cast<qsizetype>(end - begin));
}

QStringList TMemo::lines() const {
  QStringList l;
  l.reserve(lineCount());
  for (int i = 0; i < lineCount(); ++i) l << line(i);
  return l;
}

QString TMemo::text() const { return lines().join('\n'); }

int TMemo::lineHeight() const { return std::max(1, QFontMetrics(font()).lineSpacing()); }

int TMemo::visibleLines() const { return std::max(1, (viewport()->height() - 2 * kMemoMargin) / lineHeight()); }

void TMemo::updateScrollBars() {
  const int page = visibleLines();
  verticalScrollBar()->setPageStep(page);
  verticalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setRange(0, std::max(0, lineCount() - page));
  const int width = viewport()->width() - 2 * kMemoMargin;
  horizontalScrollBar()->setPageStep(std::max(1, width));
  horizontalScrollBar()->setSingleStep(QFontMetrics(font()).averageCharWidth());
  horizontalScrollBar()->setRange(0, std::max(0, widest_ - width));
}

void TMemo::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.setFont(font());
  p.setPen(palette().color(QPalette::Text));
  const QFontMetrics fm(font());
  const int h = lineHeight();
  const int first = verticalScrollBar()->value();
  const int last = std::min(lineCount(), first + visibleLines() + 1);
  const int x = kMemoMargin - horizontalScrollBar()->value();
  int y = kMemoMargin + fm.ascent();
  for (int i = first; i < last; ++i, y += h) p.drawText(x, y, line(i));
}

void TMemo::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  const bool atBottom = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  updateScrollBars();
  if (atBottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TMemo::changeEvent(QEvent* e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    // Widths depend on the font: measure again.
    const QFontMetrics fm(font());
    widest_ = 0;
    for (int i = 0; i < lineCount(); ++i) widest_ = std::max(widest_, fm.horizontalAdvance(line(i)));
    updateScrollBars();
    viewport()->update();
  }
}

void TMemo::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* copy = menu.addAction("Copy");
  if (menu.exec(e->globalPos()) == copy) QGuiApplication::clipboard()->setText(text());
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

QLineEdit* makeEdit(const QString& name, const QString& text, int maxLength, QWidget* parent, bool enabled) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  if (maxLength > 0) e->setMaxLength(maxLength);
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
