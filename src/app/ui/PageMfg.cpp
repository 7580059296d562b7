#include "app/ui/PageMfg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "status/StatusReport.h"

PageMfg::PageMfg(PageHost& host, QWidget* parent) : TPage(host, "PageMfg", parent) {
  auto* root = new QVBoxLayout(this);
  root->setSpacing(4);

  // Step 1.
  auto* s1 = makeGroup(" Step 1. - Communication and SelfTest ", this, "GroupMfgStep1");
  auto* l1 = new QHBoxLayout(s1);
  l1->setContentsMargins(6, 2, 6, 4);
  Button6 = makeButton("Button6", "Query", s1);
  Button6->setMinimumWidth(80);
  PanelMS = new TPanel("PanelMS", "Press Query!", s1);
  PanelMS->setMinimumWidth(230);
  l1->addWidget(Button6);
  l1->addWidget(PanelMS, 1);
  for (int i = 1; i <= 7; ++i) {
    PanelXC[i] = new TPanel("PanelXC" + QString::number(i), "", s1);
    PanelXC[i]->setFixedWidth(34);
    l1->addWidget(PanelXC[i]);
  }
  root->addWidget(s1);

  // Step 2.
  auto* s2 = makeGroup(" Step 2. - Program Test Configuration", this, "GroupMfgStep2");
  auto* l2 = new QHBoxLayout(s2);
  l2->setContentsMargins(6, 2, 6, 4);
  auto* inputs = new QGridLayout;
  inputs->setVerticalSpacing(2);
  EditTP = makeEdit("EditTP", "58100", 5, s2);
  inputs->addWidget(makeLabel("", "Test Input Stream Port:", s2), 0, 0);
  inputs->addWidget(EditTP, 0, 1);
  const char* apDefaults[] = {"", "150", "151", "160"};
  const char* apNotes[] = {"", "(PMT PID)", "(Video PID)", "(Audio PID)"};
  for (int i = 1; i <= 3; ++i) {
    const QString d = QString::number(i);
    CheckBoxAP[i] = makeCheck("CheckBoxAP" + d, "Enable additional PID:", true, s2);
    EditAP[i] = makeEdit("EditAP" + d, apDefaults[i], 0, s2);
    inputs->addWidget(CheckBoxAP[i], i, 0);
    inputs->addWidget(EditAP[i], i, 1);
    inputs->addWidget(makeLabel("", apNotes[i], s2), i, 2);
  }
  CheckBoxMIP = makeCheck("CheckBoxMIP", "Multicast IP:", true, s2);
  inputs->addWidget(CheckBoxMIP, 4, 0);
  auto* mip = new QHBoxLayout;
  mip->setSpacing(2);
  const char* mipDefaults[] = {"", "239", "123", "13", "100"};
  for (int i = 1; i <= 4; ++i) {
    EditMIP[i] = makeEdit("EditMIP" + QString::number(i), mipDefaults[i], 3, s2);
    EditMIP[i]->setFixedWidth(36);
    mip->addWidget(EditMIP[i]);
  }
  mip->addStretch(1);
  inputs->addLayout(mip, 4, 1, 1, 2);
  auto* runButtons = new QHBoxLayout;
  ButtonMS = makeButton("ButtonMS", "Program Test Configuration", s2);
  ButtonBreak = makeButton("ButtonBreak", "Break", s2, false);
  runButtons->addWidget(ButtonMS);
  runButtons->addWidget(ButtonBreak);
  inputs->addLayout(runButtons, 5, 0, 1, 3);
  LabelTest = makeLabel("LabelTest", "Press 'Program Test Configuration' !", s2);
  inputs->addWidget(LabelTest, 6, 0, 1, 3);
  PanelTest = new TPanel("PanelTest", "", s2);
  inputs->addWidget(PanelTest, 7, 0, 1, 3);
  l2->addLayout(inputs, 1);

  auto* procs = makeGroup(" Processes ", s2, "GroupProcesses");
  auto* pl = new QGridLayout(procs);
  pl->setContentsMargins(6, 2, 6, 4);
  pl->setVerticalSpacing(2);
  const char* steps[] = {"Set up NCOs and stream formats", "Erase PID Filters and PSI Inserters",
                         "Program PID Filters and PSI Ins.", "Read PID Filters", "Read PSI Inserters"};
  for (int i = 0; i < 5; ++i) {
    LabelProcess[i] = makeLabel("Label" + QString::number(94 + i), steps[i], procs);
    pl->addWidget(LabelProcess[i], i, 0, 1, 5);
  }
  pl->addWidget(makeLabel("", "PID Filters:", procs), 5, 0);
  pl->addWidget(makeLabel("", "PSI Inserters:", procs), 6, 0);
  for (int u = 1; u <= 4; ++u) {
    const QString d = QString::number(u);
    PanelPID[u] = new TPanel("PanelPID" + d, d, procs);
    PanelPSIUnit[u] = new TPanel("PanelPSI" + d, d, procs);
    pl->addWidget(PanelPID[u], 5, u);
    pl->addWidget(PanelPSIUnit[u], 6, u);
  }
  l2->addWidget(procs, 1);
  root->addWidget(s2);

  // Step 3.
  auto* s3 = makeGroup(" Step 3. - Visual Test with PCR Correction ", this, "GroupMfgStep3");
  auto* l3 = new QHBoxLayout(s3);
  l3->setContentsMargins(6, 2, 6, 4);
  ButtonPCRON = makeButton("ButtonPCRON", "Enable PCR Correctors", s3);
  ButtonPCROFF = makeButton("ButtonPCROFF", "Disable PCR Correctors", s3);
  l3->addWidget(ButtonPCRON);
  l3->addWidget(ButtonPCROFF);
  l3->addSpacing(12);
  l3->addWidget(makeLabel("", "PCR Correctors:", s3));
  for (int u = 1; u <= 4; ++u) {
    PanelPCRUnit[u] = new TPanel("PanelPCR" + QString::number(u), QString::number(u), s3);
    PanelPCRUnit[u]->setFixedWidth(40);
    l3->addWidget(PanelPCRUnit[u]);
  }
  l3->addStretch(1);
  root->addWidget(s3);
  root->addStretch(1);

  connect(Button6, &QPushButton::clicked, this, [this] { host_.query(); });
}

void PageMfg::pageHidden() {
  // A running test run is broken off here (as by its Break button).
}

void PageMfg::presentStatus(const tessaly::tZODADevice& d) {
  PanelPCRUnit[1]->setColor((d.PcrState & 1) ? tessaly::colour::LightGreen : tessaly::colour::ButtonFace);
}
