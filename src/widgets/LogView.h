#pragma once
// A read-only log view for very long memos (hundreds of thousands of lines).
// Lines are kept as compact 8-bit text in large chunks, and only the visible lines
// are laid out and painted, so adding a report costs the same at line 400,000 as
// at line 0 and memory stays close to the size of the text itself. It scrolls,
// selects (mouse, Shift+click, Ctrl+A) and copies (Ctrl+C, context menu) like a memo.
// A text holding line breaks becomes several lines.
#include <QAbstractScrollArea>
#include <QFontMetrics>
#include <algorithm>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

class TLogView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TLogView(const QString& name, const QStringList& initialLines = {}, QWidget* parent = nullptr);

  void clearLines();
  void addLine(const QString& line);
  void addLines(const QStringList& lines);
  void addLines(const std::vector<std::string>& lines);

  int lineCount() const { return static_cast<int>(index_.size()); }
  QString line(int i) const;
  QStringList lines() const;
  // The selected text, lines joined with '\n' (empty without a selection).
  QString selectedText() const;
  void selectAll();
  void copy() const;
  // Bytes held for the text and its index (for measurements).
  std::size_t storageBytes() const;

 signals:
  // After every clear and every insertion (one per addLines call).
  void changed();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;
  void changeEvent(QEvent*) override;

 private:
  struct Pos {
    int line = 0, column = 0;
    bool operator<(const Pos& o) const { return line < o.line || (line == o.line && column < o.column); }
    bool operator==(const Pos& o) const { return line == o.line && column == o.column; }
  };
  struct Entry {
    std::uint32_t chunk, offset, length;
  };

  void append(const char* data, std::size_t length);  // one line per '\n'-separated part
  void appendLine(const char* data, std::size_t length);
  void appendUtf16(const QString& line);
  void afterAppend(bool wasAtBottom);
  void updateScrollBars();
  int lineHeight() const;
  int visibleLineCount() const;
  Pos posAt(const QPoint& p) const;
  bool atBottom() const;
  // Measures a line only when it could be wider than the widest so far: a line of n
  // characters is at most n times the font's widest character.
  template <typename MakeText>
  void widen(const QFontMetrics& fm, qsizetype characters, MakeText text) {
    if (characters * fm.maxWidth() > widestPixels_) widestPixels_ = std::max(widestPixels_, fm.horizontalAdvance(text()));
  }

  static constexpr std::size_t kChunkSize = 1 << 20;
  std::vector<std::string> chunks_;
  std::vector<Entry> index_;
  int widestPixels_ = 0;
  Pos anchor_, cursor_;
  bool selecting_ = false;
};
