#include "app/ui/PanelMain.h"

#include <QApplication>
#include <QCommandLineParser>

#include "app/ui/MainForm.h"
#include "capture/CaptureFile.h"

int runPanel(QApplication& app) {
  tessaly::ignoreWriteSignals();
  QCoreApplication::setApplicationVersion(TESSALY_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription("Tessaly Panel: control and test panel for the ASI remultiplexer board.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption capture(
      "capture", "Write every datagram sent and received to FILE as it flows, a capture file for Wireshark (pcap).",
      "FILE");
  parser.addOption(capture);
  parser.process(app);

  TMainForm form;
  form.show();
  // A file that cannot be written is reported in a message box; the panel runs on.
  if (parser.isSet(capture)) form.startCapture(parser.value(capture));
  return app.exec();
}
