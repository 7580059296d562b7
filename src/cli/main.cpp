// tessaly-cli: the board's exchanges from a shell, over the panel's core.
#include <QCoreApplication>

#include "capture/CaptureFile.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
  tessaly::ignoreWriteSignals();
  QCoreApplication app(argc, argv);
  return tessaly::cli::run(app.arguments());
}
