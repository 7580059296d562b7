#include "widgets/LineChart.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kLeftMargin = 54;
constexpr int kRightMargin = 14;
constexpr int kBottomMargin = 38;
constexpr int kTitleGap = 8;

// A tick step of 1, 2 or 5 times a power of ten giving about `wanted` intervals.
double niceStep(double range, int wanted) {
  if (range <= 0) return 1;
  const double raw = range / wanted;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * p) return m * p;
  return 10 * p;
}

QString tickText(double v) {
  const double r = std::round(v);
  if (std::fabs(v - r) < 1e-9) return QString::number(static_cast<long long>(r));
  return QString::number(v, 'g', 6);
}

}  // namespace

TLineChart::TLineChart(const QString& name, QWidget* parent) : QWidget(parent) {
  setObjectName(name);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(200, 150);
}

void TLineChart::setTitle(const QString& title) {
  title_ = title;
  invalidateLine();
}
void TLineChart::setBottomTitle(const QString& title) {
  bottomTitle_ = title;
  update();
}
void TLineChart::setLeftTitle(const QString& title) {
  leftTitle_ = title;
  update();
}
void TLineChart::setLineColor(const QColor& c) {
  lineColor_ = c;
  invalidateLine();
}

void TLineChart::clear() {
  points_.clear();
  points_.shrink_to_fit();
  dataMin_ = dataMax_ = 0;
  invalidateLine();
}

void TLineChart::addXY(double x, double y) {
  const bool atEnd = points_.empty() || x >= points_.back().x();
  const double oldMin = leftMin(), oldMax = leftMax();
  if (points_.empty()) {
    dataMin_ = dataMax_ = y;
  } else {
    dataMin_ = std::min(dataMin_, y);
    dataMax_ = std::max(dataMax_, y);
  }
  if (atEnd) {
    points_.emplace_back(x, y);
  } else {
    const auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                     [](double v, const QPointF& p) { return v < p.x(); });
    points_.insert(at, QPointF(x, y));
  }
  if (!atEnd || leftMin() != oldMin || leftMax() != oldMax || !lineValid_) {
    invalidateLine();
    return;
  }
  if (points_.size() < 2) return;
  // Only the new segment: onto the line image, and the strip it covers on screen.
  const QRect plot = plotRect();
  const QPointF a = toPixel(points_[points_.size() - 2], plot);
  const QPointF b = toPixel(points_.back(), plot);
  QPainter p(&line_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(lineColor_, 1));
  p.translate(-QPointF(plot.topLeft()));
  p.drawLine(a, b);
  p.end();
  const QRect strip = QRectF(a, b).normalized().toAlignedRect().adjusted(-2, -2, 2, 2);
  update(strip.intersected(plot));
}

void TLineChart::setBottomMax(double max) {
  if (max == bottomMax_) return;
  bottomMax_ = max;
  invalidateLine();
}

void TLineChart::setLeftManual(double min, double max) {
  if (!leftAuto_ && min == manualMin_ && max == manualMax_) return;
  leftAuto_ = false;
  manualMin_ = min;
  manualMax_ = max;
  invalidateLine();
}

void TLineChart::setLeftAutomatic() {
  if (leftAuto_) return;
  leftAuto_ = true;
  invalidateLine();
}

double TLineChart::leftMin() const {
  if (!leftAuto_ || points_.empty()) return manualMin_;
  return dataMin_ == dataMax_ ? dataMin_ - 1 : dataMin_;
}

double TLineChart::leftMax() const {
  if (!leftAuto_ || points_.empty()) return manualMax_;
  return dataMin_ == dataMax_ ? dataMax_ + 1 : dataMax_;
}

QRect TLineChart::plotRect() const {
  QFont bold = font();
  bold.setBold(true);
  const int top = QFontMetrics(bold).height() + kTitleGap + 4;
  return QRect(QPoint(kLeftMargin, top), QPoint(width() - kRightMargin, height() - kBottomMargin));
}

QPointF TLineChart::toPixel(const QPointF& v, const QRect& plot) const {
  const double lo = leftMin(), hi = leftMax();
  const double x = plot.left() + (bottomMax_ > 0 ? v.x() / bottomMax_ : 0) * plot.width();
  const double y = plot.bottom() - (hi > lo ? (v.y() - lo) / (hi - lo) : 0.5) * plot.height();
  return {x, y};
}

void TLineChart::invalidateLine() {
  lineValid_ = false;
  update();
}

void TLineChart::resizeEvent(QResizeEvent*) { lineValid_ = false; }

void TLineChart::redrawLine(const QRect& plot) {
  const qreal dpr = devicePixelRatioF();
  const QSize size = plot.size().expandedTo(QSize(1, 1)) * dpr;
  if (line_.size() != size) line_ = QImage(size, QImage::Format_RGB32);
  line_.setDevicePixelRatio(dpr);
  line_.fill(Qt::white);
  QPainter p(&line_);
  p.translate(-QPointF(plot.topLeft()));
  p.setPen(QColor(0xE4, 0xE4, 0xE4));
  forEachTick(plot, [&p, &plot](bool bottom, int at, const QString&) {
    if (bottom)
      p.drawLine(at, plot.top(), at, plot.bottom());
    else
      p.drawLine(plot.left(), at, plot.right(), at);
  });
  if (points_.size() >= 2) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(lineColor_, 1));
    std::vector<QPointF> px;
    px.reserve(points_.size());
    for (const QPointF& v : points_) px.push_back(toPixel(v, plot));
    p.drawPolyline(px.data(), static_cast<int>(px.size()));
  }
  lineValid_ = true;
  ++fullRedraws_;
}

template <typename F>
void TLineChart::forEachTick(const QRect& plot, F&& f) const {
  const double bStep = niceStep(bottomMax_, 10);
  for (double v = 0; v <= bottomMax_ + bStep * 1e-6; v += bStep)
    f(true, qRound(toPixel(QPointF(v, 0), plot).x()), tickText(v));
  const double lo = leftMin(), hi = leftMax();
  const double lStep = niceStep(hi - lo, 8);
  for (double v = std::ceil(lo / lStep - 1e-9) * lStep; v <= hi + lStep * 1e-6; v += lStep)
    f(false, qRound(toPixel(QPointF(0, v), plot).y()), tickText(std::fabs(v) < lStep * 1e-6 ? 0 : v));
}

void TLineChart::drawAxes(QPainter& p, const QRect& plot) const {
  const QFontMetrics fm(font());
  p.setPen(Qt::black);
  forEachTick(plot, [&](bool bottom, int at, const QString& t) {
    if (bottom) {
      p.drawLine(at, plot.bottom(), at, plot.bottom() + 4);
      p.drawText(at - fm.horizontalAdvance(t) / 2, plot.bottom() + 6 + fm.ascent(), t);
    } else {
      p.drawLine(plot.left() - 4, at, plot.left(), at);
      p.drawText(plot.left() - 6 - fm.horizontalAdvance(t), at + fm.ascent() / 2 - 1, t);
    }
  });
  p.drawRect(plot.adjusted(-1, -1, 0, 0));
  p.drawText(QRect(plot.left(), height() - fm.height() - 2, plot.width(), fm.height()), Qt::AlignHCenter,
             bottomTitle_);
  p.save();
  p.translate(4 + fm.ascent(), plot.center().y());
  p.rotate(-90);
  p.drawText(QRect(-plot.height() / 2, -fm.ascent(), plot.height(), fm.height()), Qt::AlignHCenter, leftTitle_);
  p.restore();
}

void TLineChart::paintEvent(QPaintEvent* e) {
  const QRect plot = plotRect();
  if (!lineValid_) redrawLine(plot);
  ++paints_;
  QPainter p(this);
  // A strip inside the plot (a new segment) needs only its part of the image.
  if (plot.contains(e->rect())) {
    const QRect r = e->rect();
    const qreal d = line_.devicePixelRatio();
    p.drawImage(QRectF(r), line_, QRectF(QPointF(r.topLeft() - plot.topLeft()) * d, QSizeF(r.size()) * d));
    return;
  }
  ++fullPaints_;
  p.fillRect(rect(), palette().window());
  p.drawImage(plot.topLeft(), line_);
  drawAxes(p, plot);
  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  p.drawText(QRect(0, 4, width(), QFontMetrics(bold).height()), Qt::AlignHCenter, title_);
}
