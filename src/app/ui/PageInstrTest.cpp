#include "app/ui/PageInstrTest.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "link/Engine.h"
#include "status/StatusReport.h"

using namespace tessaly;

namespace {

constexpr int kAnswerTimeoutMs = 1000;

std::string latin1(const QLineEdit* e) { return e->text().toLatin1().toStdString(); }
QString latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// The edit's background: the window colour the platform gives edits, or a colour of ours.
void restoreEditColour(QLineEdit* e) {
  QPalette p = e->palette();
  const QPalette app = QApplication::palette(e);
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    p.setColor(group, QPalette::Base, app.color(group, QPalette::Base));
  e->setPalette(p);
}

void setEditColour(QLineEdit* e, const QColor& c) {
  QPalette p = e->palette();
  p.setColor(QPalette::Active, QPalette::Base, c);
  p.setColor(QPalette::Inactive, QPalette::Base, c);
  e->setPalette(p);
}

}  // namespace

PageInstrTest::PageInstrTest(PageHost& host, QWidget* parent) : TPage(host, "PageInstrTest", parent) {
  auto* root = new QVBoxLayout(this);
  root->setSpacing(4);
  root->addWidget(makeHeading("LabelInstrTest", "Instruction Test", this));

  auto* top = new QHBoxLayout;
  auto* rows = makeGroup(" Instructions ", this, "GroupInstructions");
  auto* g = new QGridLayout(rows);
  g->setVerticalSpacing(1);
  g->addWidget(makeLabel("", "Opcode", rows), 0, 1);
  g->addWidget(makeLabel("", "Length", rows), 0, 2);
  g->addWidget(makeLabel("", "Data (comma separated)", rows), 0, 3);
  const char* lengths[] = {"", "3", "4", "0", "0", "0"};
  const char* data[] = {"", "$00,$56,$78", "0,5,6,7", "$00", "0", "0"};
  for (int n = 1; n <= 5; ++n) {
    const QString d = QString::number(n);
    const bool on = n == 1;
    CheckBoxI[n] = makeCheck("CheckBoxI" + d, d + ".", on, rows);
    EditOC[n] = makeEdit("EditOC" + d, "$00", 3, rows, on);
    EditOC[n]->setFixedWidth(50);
    EditL[n] = makeEdit("EditL" + d, lengths[n], 5, rows, false);
    EditL[n]->setFixedWidth(50);
    EditData[n] = makeEdit("EditData" + d, data[n], 0, rows, on);
    g->addWidget(CheckBoxI[n], n, 0);
    g->addWidget(EditOC[n], n, 1);
    g->addWidget(EditL[n], n, 2);
    g->addWidget(EditData[n], n, 3);
  }
  g->addWidget(makeLabel("LabelAuto", "Auto", rows), 6, 2, Qt::AlignHCenter);
  g->setColumnStretch(3, 1);
  top->addWidget(rows, 1);

  auto* side = makeGroup(" Message ", this, "GroupMessage");
  auto* sl = new QVBoxLayout(side);
  sl->addWidget(makeLabel("", "User Text (Max. 15):", side));
  Edit1 = makeEdit("Edit1", "Quillmarsh Bt.", 0, side);
  sl->addWidget(Edit1);
  ButtonICompute = makeButton("ButtonICompute", "View message", side);
  ButtonISend = makeButton("ButtonISend", "Send", side);
  sl->addWidget(ButtonICompute);
  sl->addWidget(ButtonISend);
  sl->addStretch(1);
  top->addWidget(side);
  root->addLayout(top);

  MemoIns = new TMemo("MemoIns", {"Instruction Set Tester"}, this);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setFamilies({"Courier New", "DejaVu Sans Mono", "Liberation Mono", mono.family()});
  mono.setStyleHint(QFont::TypeWriter);
  // The size of the window's own text, so that a whole send report fits the memo's height.
  mono.setPointSizeF(8);
  MemoIns->setFont(mono);
  root->addWidget(MemoIns, 1);

  for (int n = 1; n <= 5; ++n) {
    // Also follows ticks that come from the settings file.
    connect(CheckBoxI[n], &QCheckBox::toggled, this, [this, n] { CheckBoxIClick(n); });
    EditOC[n]->installEventFilter(this);
    EditData[n]->installEventFilter(this);
  }
  connect(ButtonICompute, &QPushButton::clicked, this, &PageInstrTest::ButtonIComputeClick);
  connect(ButtonISend, &QPushButton::clicked, this, &PageInstrTest::ButtonISendClick);

  registerInstructionTest(
      host_.engine(), [this] { answerTimedOut(); }, [this] { answerReceived(); }, [this] { sendFailed(); });
}

void PageInstrTest::sendFailed() {
  host_.engine().endpoint().deactivate();
  MemoIns->addLines(sendFailureLines());
}

void PageInstrTest::CheckBoxIClick(int row) {
  const bool on = CheckBoxI[row]->isChecked();
  EditOC[row]->setEnabled(on);
  EditData[row]->setEnabled(on);
}

bool PageInstrTest::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return TPage::eventFilter(watched, event);
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit) return TPage::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    const bool isData = std::find(EditData.begin(), EditData.end(), edit) != EditData.end();
    const std::string text = latin1(edit);
    edit->setText(latin1(isData ? cleanDataText(text) : cleanOpcodeText(text)));
    restoreEditColour(edit);
  } else if (!key->text().isEmpty()) {
    // Keys that type something (modifiers and cursor keys alone do not).
    setEditColour(edit, tColor(colour::UnconfirmedEdit));
  }
  return false;  // the key itself goes on to the edit
}

InstructionMessage PageInstrTest::buildMessage() {
  std::array<InstructionRow, kInstructionRows> rows;
  for (int n = 1; n <= kInstructionRows; ++n) {
    InstructionRow& r = rows[static_cast<std::size_t>(n - 1)];
    r.ticked = CheckBoxI[n]->isChecked();
    if (!r.ticked) continue;
    r.opcodeText = latin1(EditOC[n]);
    r.dataText = latin1(EditData[n]);
  }
  InstructionMessage m = buildInstructionMessage(rows, latin1(Edit1), host_.framing(), host_.sdiAddress());
  for (int n = 1; n <= kInstructionRows; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    if (m.opcodeTexts[i]) EditOC[n]->setText(latin1(*m.opcodeTexts[i]));
    if (m.dataTexts[i]) EditData[n]->setText(latin1(*m.dataTexts[i]));
    if (m.counts[i]) EditL[n]->setText(QString::number(*m.counts[i]));
  }
  Edit1->setText(latin1(m.labelText));
  return m;
}

void PageInstrTest::ButtonIComputeClick() {
  MemoIns->clearLines();
  MemoIns->addLines(viewDumpLines(buildMessage()));
}

void PageInstrTest::ButtonISendClick() {
  host_.engine().endPendingSend();
  MemoIns->clearLines();
  const InstructionMessage m = buildMessage();
  MemoIns->addLines(sendDumpLines(m));
  const std::string ip = host_.deviceIp();
  const int port = host_.devicePort();
  // A message that does not fit one datagram is not sent at all: nothing is cut.
  if (!fitsOneDatagram(m.datagram)) {
    sendFailed();
    return;
  }
  // This page waits only once the datagram is out: the timer is armed, then the state set.
  StartOptions o;
  o.stateAt = StateAt::AfterArm;
  o.armMs = kAnswerTimeoutMs;
  host_.startTransaction(state::InstrTestWait, m.datagram, o, [this, ip, port, sdi = m.sdiAddress] {
    MemoIns->addLines(sendSuccessLines(ip, port, sdi));
  });
}

void PageInstrTest::answerTimedOut() { MemoIns->addLine(latin1(std::string(kInstructionNoAnswerLine))); }

void PageInstrTest::answerReceived() {
  const ReceiveBuffer& buffer = host_.engine().buffer();
  MemoIns->addLines(answerLines(buffer.bytes().data(), buffer.size(), host_.engine().receivedLength()));
}
