#include "widgets/LogView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

TLogView::TLogView(const QString& name, const QStringList& initialLines, QWidget* parent)
    : QAbstractScrollArea(parent) {
  setObjectName(name);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  addLines(initialLines);
}

void TLogView::clearLines() {
  chunks_.clear();
  index_.clear();
  widestPixels_ = 0;
  anchor_ = cursor_ = Pos{};
  updateScrollBars();
  viewport()->update();
  emit changed();
}

void TLogView::append(const char* data, std::size_t length) {
  std::size_t from = 0;
  for (;;) {
    std::size_t end = from;
    while (end < length && data[end] != '\n') ++end;
    appendLine(data + from, end - from);
    if (end >= length) return;
    from = end + 1;
  }
}

void TLogView::appendLine(const char* data, std::size_t length) {
  if (chunks_.empty() || chunks_.back().size() + length > kChunkSize) {
    chunks_.emplace_back();
    chunks_.back().reserve(std::max(kChunkSize, length));
  }
  std::string& chunk = chunks_.back();
  index_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1), static_cast<std::uint32_t>(chunk.size()),
                    static_cast<std::uint32_t>(length)});
  chunk.append(data, length);
}

void TLogView::appendUtf16(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  widen(fontMetrics(), line.size(), [&] { return line; });
}

bool TLogView::atBottom() const { return verticalScrollBar()->value() >= verticalScrollBar()->maximum(); }

void TLogView::afterAppend(bool wasAtBottom) {
  updateScrollBars();
  if (wasAtBottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  viewport()->update();
  emit changed();
}

void TLogView::addLine(const QString& line) {
  const bool bottom = atBottom();
  appendUtf16(line);
  afterAppend(bottom);
}

void TLogView::addLines(const QStringList& lines) {
  const bool bottom = atBottom();
  for (const QString& l : lines) appendUtf16(l);
  afterAppend(bottom);
}

void TLogView::addLines(const std::vector<std::string>& lines) {
  const bool bottom = atBottom();
  const QFontMetrics fm = fontMetrics();
  for (const std::string& l : lines) {
    append(l.data(), l.size());
    widen(fm, static_cast<qsizetype>(l.size()), [&] { return QString::fromUtf8(l.data(), static_cast<int>(l.size())); });
  }
  afterAppend(bottom);
}

QString TLogView::line(int i) const {
  if (i < 0 || i >= lineCount()) return {};
  const Entry& e = index_[static_cast<std::size_t>(i)];
  return QString::fromUtf8(chunks_[e.chunk].data() + e.offset, static_cast<int>(e.length));
}

QStringList TLogView::lines() const {
  QStringList out;
  out.reserve(lineCount());
  for (int i = 0; i < lineCount(); ++i) out << line(i);
  return out;
}

std::size_t TLogView::storageBytes() const {
  std::size_t n = index_.capacity() * sizeof(Entry);
  for (const auto& c : chunks_) n += c.capacity();
  return n;
}

int TLogView::lineHeight() const { return fontMetrics().lineSpacing(); }

int TLogView::visibleLineCount() const { return std::max(1, viewport()->height() / std::max(1, lineHeight())); }

void TLogView::updateScrollBars() {
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, std::max(0, lineCount() - visibleLineCount()));
  v->setPageStep(visibleLineCount());
  v->setSingleStep(1);
  QScrollBar* h = horizontalScrollBar();
  h->setRange(0, std::max(0, widestPixels_ + 8 - viewport()->width()));
  h->setPageStep(viewport()->width());
  h->setSingleStep(fontMetrics().averageCharWidth() * 2);
}

void TLogView::resizeEvent(QResizeEvent* e) {
  const bool bottom = atBottom();
  QAbstractScrollArea::resizeEvent(e);
  updateScrollBars();
  if (bottom) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TLogView::changeEvent(QEvent* e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    widestPixels_ = 0;
    const QFontMetrics fm = fontMetrics();
    for (int i = 0; i < lineCount(); ++i) widestPixels_ = std::max(widestPixels_, fm.horizontalAdvance(line(i)));
    updateScrollBars();
  }
}

void TLogView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QFontMetrics fm = fontMetrics();
  const int lh = lineHeight();
  const int first = verticalScrollBar()->value();
  const int x0 = 4 - horizontalScrollBar()->value();
  const Pos selFrom = std::min(anchor_, cursor_), selTo = std::max(anchor_, cursor_);
  const bool hasSelection = !(anchor_ == cursor_);
  const QPalette pal = palette();
  for (int row = 0; row <= visibleLineCount() && first + row < lineCount(); ++row) {
    const int i = first + row;
    const QString text = line(i);
    const int y = row * lh;
    if (hasSelection && i >= selFrom.line && i <= selTo.line) {
      const int c0 = i == selFrom.line ? std::min(selFrom.column, static_cast<int>(text.size())) : 0;
      const int c1 = i == selTo.line ? std::min(selTo.column, static_cast<int>(text.size())) : static_cast<int>(text.size());
      const int px0 = x0 + fm.horizontalAdvance(text.left(c0));
      int px1 = x0 + fm.horizontalAdvance(text.left(c1));
      if (i != selTo.line) px1 += fm.averageCharWidth();  // the line break is selected too
      p.fillRect(QRect(px0, y, std::max(0, px1 - px0), lh), pal.highlight());
    }
    p.setPen(pal.color(QPalette::Text));
    p.drawText(x0, y + fm.ascent(), text);
  }
}

TLogView::Pos TLogView::posAt(const QPoint& pt) const {
  Pos pos;
  if (lineCount() == 0) return pos;
  const int row = std::max(0, pt.y()) / std::max(1, lineHeight());
  pos.line = std::clamp(verticalScrollBar()->value() + row, 0, lineCount() - 1);
  const QString text = line(pos.line);
  const QFontMetrics fm = fontMetrics();
  const int x = pt.x() - 4 + horizontalScrollBar()->value();
  int col = 0;
  while (col < text.size() && fm.horizontalAdvance(text.left(col + 1)) - fm.horizontalAdvance(text.at(col)) / 2 < x)
    ++col;
  pos.column = col;
  return pos;
}

void TLogView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const Pos p = posAt(e->position().toPoint());
  if (!(e->modifiers() & Qt::ShiftModifier)) anchor_ = p;
  cursor_ = p;
  selecting_ = true;
  viewport()->update();
}

void TLogView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) selecting_ = false;
  e->accept();
}

void TLogView::mouseMoveEvent(QMouseEvent* e) {
  if (!selecting_ || !(e->buttons() & Qt::LeftButton)) return;
  cursor_ = posAt(e->position().toPoint());
  const int y = e->position().toPoint().y();
  if (y < 0) verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
  if (y > viewport()->height()) verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
  viewport()->update();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* e) {
  // A double click selects the whole line.
  const Pos p = posAt(e->position().toPoint());
  anchor_ = {p.line, 0};
  cursor_ = {p.line, static_cast<int>(line(p.line).size())};
  viewport()->update();
}

QString TLogView::selectedText() const {
  if (anchor_ == cursor_) return {};
  const Pos from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
  QStringList parts;
  for (int i = from.line; i <= to.line && i < lineCount(); ++i) {
    const QString text = line(i);
    const int c0 = i == from.line ? std::min(from.column, static_cast<int>(text.size())) : 0;
    const int c1 = i == to.line ? std::min(to.column, static_cast<int>(text.size())) : static_cast<int>(text.size());
    parts << text.mid(c0, c1 - c0);
  }
  return parts.join('\n');
}

void TLogView::selectAll() {
  anchor_ = {0, 0};
  cursor_ = lineCount() ? Pos{lineCount() - 1, static_cast<int>(line(lineCount() - 1).size())} : Pos{};
  viewport()->update();
}

void TLogView::copy() const {
  const QString text = selectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TLogView::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) return copy();
  if (e->matches(QKeySequence::SelectAll)) return selectAll();
  QScrollBar* v = verticalScrollBar();
  switch (e->key()) {
    case Qt::Key_Up: v->setValue(v->value() - 1); return;
    case Qt::Key_Down: v->setValue(v->value() + 1); return;
    case Qt::Key_PageUp: v->setValue(v->value() - v->pageStep()); return;
    case Qt::Key_PageDown: v->setValue(v->value() + v->pageStep()); return;
    case Qt::Key_Home: if (e->modifiers() & Qt::ControlModifier) v->setValue(0); return;
    case Qt::Key_End: if (e->modifiers() & Qt::ControlModifier) v->setValue(v->maximum()); return;
    default: QAbstractScrollArea::keyPressEvent(e);
  }
}

void TLogView::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* copyAction = menu.addAction(tr("&Copy"), this, [this] { copy(); });
  copyAction->setEnabled(!(anchor_ == cursor_));
  menu.addAction(tr("Select &All"), this, [this] { selectAll(); });
  menu.exec(e->globalPos());
}
