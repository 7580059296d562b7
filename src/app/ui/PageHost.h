#pragma once
// What a page needs from the main window: the engine, the device record, the link
// settings of the moment, and the one send path of a page transaction. Pages hold
// a PageHost& and never reach into each other.
#include <QString>
#include <cstdint>
#include <string>

#include "text/Bytes.h"
#include "link/Engine.h"
#include "link/Framing.h"
#include "status/DeviceStatus.h"

class TPanel;
class TMemo;

// One page transaction: the datagram is built by the caller.
struct PageTransaction {
  tessaly::Bytes datagram;
  TPanel* panel = nullptr;         // neutral at the start; "sent" text or the error text after
  std::uint8_t waitingCode = 0;    // set before sending
  QString errorText;               // shown in red on the panel when sending fails
  int timeoutMs = 1000;            // the waiting code's time-out
  TMemo* readMemo = nullptr;       // read instructions: cleared and told to "Press Query to show data!"
  QString sentText = QStringLiteral("Message sent, waiting for reply...");
};

class PageHost {
 public:
  virtual ~PageHost() = default;
  virtual tessaly::TransactionEngine& engine() = 0;
  virtual tessaly::tZODADevice& device() = 0;
  // The link settings as the Main page shows them now.
  virtual tessaly::Framing framing() const = 0;
  virtual std::uint8_t sdiAddress() const = 0;  // 1..15
  virtual std::string deviceIp() const = 0;     // the caption of LabelIPAddr
  virtual int devicePort() const = 0;
  virtual int hostPort() const = 0;

  // Neutral panel, waiting code, activate + send to deviceIp():devicePort(); on
  // failure the error text in red and no timer; on success the sent text, the read
  // memo note and the timer armed with the time-out. True when the datagram went out.
  virtual bool sendPageTransaction(const PageTransaction& t) = 0;
  // The usual case: one instruction under one label, in the selected framing to
  // the selected SDI address.
  virtual bool sendPageInstruction(std::string_view label, std::uint8_t opcode, const tessaly::Bytes& data,
                                   TPanel* panel, std::uint8_t waitingCode, const QString& errorText,
                                   TMemo* readMemo = nullptr) = 0;
  // The device query (every page's "Query" button).
  virtual void query() = 0;
  // Shows a modal information box (replaceable in tests).
  virtual void message(const QString& text) = 0;
  // One more point on the PCR correction chart from the status record as it stands
  // (the chart's own polling and the manufacturer test's status answers).
  virtual void addChartSample() {}
};

#include <QWidget>

// A page of the main window. Each page builds its own controls and registers the
// engine handlers of the state codes it owns.
class TPage : public QWidget {
  Q_OBJECT
 public:
  TPage(PageHost& host, const QString& name, QWidget* parent = nullptr) : QWidget(parent), host_(host) {
    setObjectName(name);
  }
  // Shows the freshly decoded status (PresentStatus calls every page in turn).
  virtual void presentStatus(const tessaly::tZODADevice&) {}

 protected:
  PageHost& host_;
};
