#include <QApplication>

#include "app/ui/PanelMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return runPanel(app);
}
