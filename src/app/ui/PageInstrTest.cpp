#include "app/ui/PageInstrTest.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

PageInstrTest::PageInstrTest(PageHost& host, QWidget* parent) : TPage(host, "PageInstrTest", parent) {
  auto* root = new QVBoxLayout(this);
  auto* title = makeLabel("LabelInstrTest", "Instruction Test", this);
  QFont tf = title->font();
  tf.setBold(true);
  tf.setPointSizeF(tf.pointSizeF() * 1.2);
  title->setFont(tf);
  root->addWidget(title);

  auto* top = new QHBoxLayout;
  auto* rows = makeGroup(" Instructions ", this, "GroupInstructions");
  auto* g = new QGridLayout(rows);
  g->setVerticalSpacing(3);
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
  MemoIns->setFont(mono);
  root->addWidget(MemoIns, 1);
}
