#pragma once
// TLineChart: a line chart of one series with a title, a bottom axis from 0 to a
// settable maximum and a left axis that is manual or follows the data.
//
// Built for a series that grows by one point a second for an hour: adding a point
// at the right end costs the same at point 3,600 as at point 1. The line is kept
// in an image of the plot area; a new last point draws only its own segment there
// and repaints only that strip. Anything that moves the whole line (an axis change,
// a resize, a point inserted before the end, a new extreme in automatic scaling)
// redraws the image once at the next paint.
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <vector>

class TLineChart : public QWidget {
  Q_OBJECT
 public:
  explicit TLineChart(const QString& name, QWidget* parent = nullptr);

  void setTitle(const QString& title);
  void setBottomTitle(const QString& title);
  void setLeftTitle(const QString& title);
  void setSeriesName(const QString& name) { seriesName_ = name; }
  QString seriesName() const { return seriesName_; }
  void setLineColor(const QColor& c);
  QColor lineColor() const { return lineColor_; }

  // Points are kept in ascending x; a point equal in x to others goes after them.
  void clear();
  void addXY(double x, double y);
  int count() const { return static_cast<int>(points_.size()); }
  QPointF point(int i) const { return points_[static_cast<std::size_t>(i)]; }

  // Bottom axis: 0 .. max.
  void setBottomMax(double max);
  double bottomMax() const { return bottomMax_; }

  // Left axis: manual (the range set here) or automatic (the data's extent).
  void setLeftManual(double min, double max);
  void setLeftAutomatic();
  bool leftAutomatic() const { return leftAuto_; }
  double leftMin() const;  // the range in effect
  double leftMax() const;

  // Full repaints of the line image since construction (for measurements).
  int fullRedraws() const { return fullRedraws_; }
  // Paint events handled, and those that repainted the whole widget.
  int paints() const { return paints_; }
  int fullPaints() const { return fullPaints_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  QRect plotRect() const;
  QPointF toPixel(const QPointF& p, const QRect& plot) const;
  void invalidateLine();
  void redrawLine(const QRect& plot);
  void drawAxes(class QPainter& p, const QRect& plot) const;
  // Calls f(bottom, pixel, text) for every tick of the bottom, then the left axis.
  template <typename F>
  void forEachTick(const QRect& plot, F&& f) const;

  QString title_, bottomTitle_, leftTitle_, seriesName_;
  QColor lineColor_{Qt::green};
  std::vector<QPointF> points_;
  double dataMin_ = 0, dataMax_ = 0;
  double bottomMax_ = 100;
  bool leftAuto_ = false;
  double manualMin_ = -100, manualMax_ = 100;

  QImage line_;           // the plot area: background, grid and line
  bool lineValid_ = false;
  int fullRedraws_ = 0;
  int paints_ = 0;
  int fullPaints_ = 0;
};
