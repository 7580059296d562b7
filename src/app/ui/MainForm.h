#pragma once
// Placeholder main window; the application shell replaces it.
#include <QMainWindow>

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
};
