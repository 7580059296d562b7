#include <QApplication>

#include "app/MainForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TMainForm form;
  form.show();
  return app.exec();
}
