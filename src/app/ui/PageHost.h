#pragma once
// What a page needs from the main window: the engine, the device record, the link
// settings of the moment, the one start of a transaction, and the one send path of
// a page instruction. Pages hold a PageHost& and never reach into each other; the
// main window tells every page what happened through TPage's virtuals below.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "text/Bytes.h"
#include "link/Engine.h"
#include "link/Framing.h"
#include "status/DeviceStatus.h"
#include "status/StatusReport.h"

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

  // Starts the registered transaction `waiting` with a datagram to deviceIp():devicePort()
  // (the engine's start(): state, send, arm, then `left`; a failed send runs the
  // transaction's send-failure handler instead). False when the send failed at once.
  bool startTransaction(std::uint8_t waiting, const tessaly::Bytes& datagram, const tessaly::StartOptions& o,
                        std::function<void()> left = {}) {
    return engine().start(waiting, deviceIp(), devicePort(), datagram, o, std::move(left));
  }

  // Neutral panel, then startTransaction; on failure the error text in red and no
  // timer; once the datagram has left, the sent text, the read memo note and the
  // timer armed with the time-out. False when the send failed at once.
  virtual bool sendPageTransaction(const PageTransaction& t) = 0;
  // The usual case: one instruction under one label, in the selected framing to
  // the selected SDI address.
  virtual bool sendPageInstruction(std::string_view label, std::uint8_t opcode, const tessaly::Bytes& data,
                                   TPanel* panel, std::uint8_t waitingCode, const QString& errorText,
                                   TMemo* readMemo = nullptr) = 0;
  // A page's wait for the board's interrupt notice after an instruction: `waiting`
  // moves to `received` on a notice; the outcome shows on `panel`.
  virtual void registerNoticeWait(std::uint8_t /*waiting*/, std::uint8_t /*received*/, TPanel* /*panel*/) {}
  // The device query (every page's "Query" button).
  virtual void query() = 0;
  // Decodes the status block in the receive buffer from `answerBase` into the device
  // record and presents it on every page (the query's and the chart's answers).
  virtual void decodeAndPresent(int /*answerBase*/) {}
  // Clears the Main page's information memo (the chart's failed poll).
  virtual void clearInfo() {}
  // Shows a modal information box (replaceable in tests).
  virtual void message(const QString& text) = 0;
  // One more point on the PCR correction chart from the status record as it stands
  // (the chart's own polling and the manufacturer test's status answers).
  virtual void addChartSample() {}
};

#include <QWidget>

// A page of the main window. Each page builds its own controls, registers the
// transactions it owns, and shows what the main window tells it.
class TPage : public QWidget {
  Q_OBJECT
 public:
  TPage(PageHost& host, const QString& name, QWidget* parent = nullptr) : QWidget(parent), host_(host) {
    setObjectName(name);
  }
  // Shows the freshly decoded status (the main window calls every page in turn).
  virtual void presentStatus(const tessaly::tZODADevice&) {}

  // The device query, as it goes: started (before the send), sent (with the lines for
  // the information memo), could not be sent, timed out, answered.
  virtual void queryStarted();
  virtual void querySent(const std::vector<std::string>& memoLines);
  virtual void querySendFailed();
  virtual void queryTimedOut();
  virtual void presentQueryOutcome(const tessaly::QueryOutcome& o);

 protected:
  // The page's status panel that follows the query (by default the virtuals above
  // only touch this panel).
  struct QueryPanel {
    TPanel* panel = nullptr;
    bool neutralAtStart = false;  // button-face colour when a query starts
    bool showsSending = false;    // the sent and the communication-error texts
    bool showsOtherText = false;  // the outcome's own text for the pages' panels ("No device ...")
  };
  void followQuery(const QueryPanel& p) { queryPanel_ = p; }

  PageHost& host_;

 private:
  QueryPanel queryPanel_;
};
