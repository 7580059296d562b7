#include "app/MainForm.h"

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("ASI Remultiplexer Tessaly v1.00");
}
