#include "app/ui/PageSend.h"

#include "widgets/Widgets.h"
#include "instructions/NoticeWait.h"
#include "link/Framing.h"

using namespace tessaly;

void PageSender::registerNoticeWait(std::uint8_t waiting, std::uint8_t received, TPanel* panel) {
  tessaly::registerNoticeWait(
      host_.engine(), waiting, received,
      [panel](bool got) {
        const std::string_view text = noticeOutcomeText(got);
        panel->setCaption(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        panel->setColor(got ? colour::LightGreen : colour::Red);
      },
      [this, waiting](bool) { showFailure(waiting); });
}

void PageSender::showFailure(std::uint8_t waiting) const {
  const Failure& f = failures_[waiting];
  if (!f.panel) return;
  f.panel->setCaption(f.text);
  f.panel->setColor(colour::Red);
}

bool PageSender::send(const PageTransaction& t) {
  host_.engine().endPendingSend();
  if (t.panel) t.panel->setColor(colour::ButtonFace);
  failures_[t.waitingCode] = {t.panel, t.errorText};
  StartOptions o;
  o.armMs = t.timeoutMs;
  return host_.engine().start(t.waitingCode, host_.deviceIp(), host_.devicePort(), t.datagram, o,
                              [panel = t.panel, sentText = t.sentText, readMemo = t.readMemo] {
                                if (panel) panel->setCaption(sentText);
                                if (readMemo) {
                                  readMemo->clearLines();
                                  readMemo->addLine("Press Query to show data!");
                                }
                              });
}

bool PageSender::sendInstruction(std::string_view label, std::uint8_t opcode, const Bytes& data, TPanel* panel,
                                 std::uint8_t waitingCode, const QString& errorText, TMemo* readMemo) {
  PageTransaction t;
  t.datagram = encodeSingleInstructionDatagram(host_.framing(), label, host_.sdiAddress(), opcode, data);
  t.panel = panel;
  t.waitingCode = waitingCode;
  t.errorText = errorText;
  t.readMemo = readMemo;
  return send(t);
}
