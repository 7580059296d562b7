#pragma once
// Widget test harness for the main window.
//
// What it gives a test:
//   - a temporary working directory (made current while the harness lives) with a
//     Settings.ini that points the panel at 127.0.0.1 with two free UDP ports, and
//     shows the manufacturer page; pass extra INI text, or no file at all;
//   - a VirtualClock, a VirtualTimer and a FakeEndpoint, and TMainForm built with
//     them: nothing waits for real time and nothing goes on the network;
//   - find<T>("objectName") for any control, click("ButtonName") with QTest,
//     advance(ms) of virtual time, inject(bytes) / injectAfter(ms, bytes) of answers;
//   - status answers for injection: StatusBlock (a 1024-byte block with the
//     presence byte 0x45 and device code 0x1A, plus setters by block offset), and
//     cwNetAnswer / ddtoipAnswer that wrap it into 1032 / 1049-byte datagrams;
//   - a message-box catcher (messages()) and a scripted input box for the Settings dialog.
//
// Every send the fake endpoint records must go to 127.0.0.0/8; the harness counts
// the others in nonLoopbackSends() and tests check it stays 0.
//
// Typical use:
//   uitest::Harness h;
//   h.click("ButtonQuery");
//   h.inject(uitest::cwNetAnswer(uitest::StatusBlock().set8(tessaly::block::Model, 2)));
//   h.advance(10);
//   QCOMPARE(h.find<QLabel>("LabelD")->text(), QString("Device Code: h1A (v0.00)"));
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

#include "FakeEndpoint.h"
#include "VirtualClock.h"
#include "app/MainForm.h"
#include "widgets/Widgets.h"
#include "text/Bytes.h"
#include "status/Decode.h"

namespace uitest {

// A UDP port on 127.0.0.1 that nothing is bound to right now.
int freeUdpPort();

// Settings.ini text pointing at 127.0.0.1 (IPBase 127.0.0., IPExt 1) with the given ports
// and framing (ACKProt 0 CW-Net, 1 DDToIP).
QString loopbackSettings(int hostPort, int devicePort, bool showManufacturerPage = true, int framing = 0);

// The text a control shows: a panel's caption, a label's, an edit's or a button's text.
QString textOf(const QWidget& root, const QString& name);

// A working directory of its own, current while the object lives.
class TempWorkDir {
 public:
  TempWorkDir();
  ~TempWorkDir();
  QString path() const { return dir_.path(); }
  QString file(const QString& name) const { return dir_.filePath(name); }
  void write(const QString& name, const QString& text) const;
  QString read(const QString& name) const;

 private:
  QTemporaryDir dir_;
  QString previous_;
};

struct Options {
  bool writeSettings = true;     // false: start with no Settings.ini at all
  QString extraSettings;         // appended to the loopback settings
  QString settingsText;          // when set: the whole file (must still point at 127.0.0.1)
  bool settingsIsDirectory = false;  // a directory named Settings.ini: nothing can be written
  bool showManufacturerPage = true;
};

class Harness {
 public:
  explicit Harness(const Options& options = {});
  ~Harness();

  TMainForm& form() { return *form_; }
  template <typename T = QWidget>
  T* find(const QString& name) const {
    T* w = form_->findChild<T*>(name);
    if (!w) qWarning("no control named %s", qPrintable(name));
    return w;
  }
  QString text(const QString& name) const;  // label, edit, button, panel caption
  TPanel* panel(const QString& name) const { return find<TPanel>(name); }
  TMemo* memo(const QString& name) const { return find<TMemo>(name); }
  void click(const QString& buttonName);
  void advance(std::int64_t ms) { clock.advance(ms); }
  bool inject(const tessaly::Bytes& datagram) { return endpoint.inject(datagram); }
  void injectAfter(std::int64_t ms, const tessaly::Bytes& datagram) { endpoint.injectAfter(ms, datagram); }
  // Sets the framing (0 CW-Net, 1 DDToIP) and the SDI address (1..15) on the Main page.
  void selectLink(int framing, int sdiAddress = 1);
  // Closes the window as the user would (close handler runs).
  void close();

  // Answers the Settings dialog's input box with these texts in turn (nullopt = Cancel).
  void scriptInput(std::vector<std::optional<QString>> answers);
  const QStringList& inputCaptions() const { return inputCaptions_; }
  const QStringList& messages() const { return messages_; }
  // Runs `trigger` (which opens a modal dialog) and clicks `button` of the dialog
  // named `dialog` once it is shown.
  void answerModal(const std::function<void()>& trigger, const QString& dialog, const QString& button);
  int nonLoopbackSends() const;

  TempWorkDir dir;
  int hostPort = 0;
  int devicePort = 0;
  tessaly::testing::VirtualClock clock;
  tessaly::testing::VirtualTimer timer{clock};
  tessaly::testing::FakeEndpoint endpoint{&clock};

 private:
  std::unique_ptr<TMainForm> form_;
  QStringList messages_;
  QStringList inputCaptions_;
  std::vector<std::optional<QString>> inputs_;
};

// A 1024-byte status block with the presence byte and the remultiplexer's device code.
class StatusBlock {
 public:
  StatusBlock();
  StatusBlock& set8(int offset, std::uint32_t v);
  StatusBlock& set16(int offset, std::uint32_t v);
  StatusBlock& set24(int offset, std::uint32_t v);
  StatusBlock& set32(int offset, std::uint32_t v);
  const tessaly::Bytes& bytes() const { return bytes_; }

 private:
  tessaly::Bytes bytes_;
};

// 1032 bytes: "CW-Net", 0x09, the SDI address, the block.
tessaly::Bytes cwNetAnswer(const StatusBlock& block, std::uint8_t sdiAddress = 1);
// 1049 bytes: "DDToIP", a label, 0x01, the answer code 0xF3, a 16-bit length, the block.
tessaly::Bytes ddtoipAnswer(const StatusBlock& block);
// A datagram of n bytes (an interrupt notice when n <= 26).
tessaly::Bytes datagramOfLength(std::size_t n, std::uint8_t fill = 0);

}  // namespace uitest
