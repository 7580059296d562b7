#include "app/ui/PagePcr.h"

#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include "status/StatusReport.h"

PagePcr::PagePcr(PageHost& host, QWidget* parent) : TPage(host, "PagePcr", parent) {
  auto* root = new QHBoxLayout(this);
  root->setSpacing(6);

  auto* left = new QVBoxLayout;
  auto* corr = makeGroup(" PCR Corrector ", this, "GroupPCRCorrector");
  auto* cg = new QGridLayout(corr);
  cg->setContentsMargins(6, 2, 6, 4);
  cg->setVerticalSpacing(2);
  CheckBoxPCR = makeCheck("CheckBoxPCR", "PCR Corrector On", false, corr);
  CheckBoxDP = makeCheck("CheckBoxDP", "Direct PCR ReStamping", false, corr);
  ButtonSetPCR = makeButton("ButtonSetPCR", "SETPCRCORRECTOR", corr);
  EditTestPID1 = makeEdit("EditTestPID1", "0", 4, corr);
  ButtonST1 = makeButton("ButtonST1", "SETTESTPCRPID", corr);
  cg->addWidget(CheckBoxPCR, 0, 0, 1, 2);
  cg->addWidget(CheckBoxDP, 1, 0, 1, 2);
  cg->addWidget(ButtonSetPCR, 2, 0, 1, 2);
  cg->addWidget(makeLabel("", "Test PCRPID:", corr), 3, 0);
  cg->addWidget(EditTestPID1, 3, 1);
  cg->addWidget(ButtonST1, 4, 0, 1, 2);
  left->addWidget(corr);

  auto* figs = makeGroup(" PCR Figures ", this, "GroupPCRFigures");
  auto* fg = new QGridLayout(figs);
  fg->setContentsMargins(6, 2, 6, 4);
  fg->setVerticalSpacing(1);
  LabelSDR = makeLabel("LabelSDR", "SDRAM Packets: 0", figs);
  LabelSlide = makeLabel("LabelSlide", "Slide: 0 (0 Hz)", figs);
  LabelCOR = makeLabel("LabelCOR", "COR @ 40 ms: 0", figs);
  LabelBR = makeLabel("LabelBR", "PCR Base Error: 0", figs);
  Label110 = makeLabel("Label110", "(0.000 ms)", figs);
  LabelPCRG = makeLabel("LabelPCRG", "Gradient: -", figs);
  fg->addWidget(LabelSDR, 0, 0, 1, 2);
  fg->addWidget(LabelSlide, 1, 0, 1, 2);
  fg->addWidget(LabelCOR, 2, 0, 1, 2);
  fg->addWidget(LabelBR, 3, 0);
  fg->addWidget(Label110, 3, 1);
  fg->addWidget(LabelPCRG, 4, 0, 1, 2);
  LabelPCR1 = makeLabel("LabelPCR1", "0", figs);
  LabelNPCR1 = makeLabel("LabelNPCR1", "0", figs);
  LabelPCRD1 = makeLabel("LabelPCRD1", "0", figs);
  LabelLPCR1 = makeLabel("LabelLPCR1", "0", figs);
  fg->addWidget(makeLabel("", "Number of  PCRPIDs:", figs), 5, 0);
  fg->addWidget(LabelPCR1, 5, 1);
  fg->addWidget(makeLabel("", "New PCRPID counter:", figs), 6, 0);
  fg->addWidget(LabelNPCR1, 6, 1);
  fg->addWidget(makeLabel("", "PCR Discontinuity:", figs), 7, 0);
  fg->addWidget(LabelPCRD1, 7, 1);
  fg->addWidget(makeLabel("", "Large PCR errors:", figs), 8, 0);
  fg->addWidget(LabelLPCR1, 8, 1);
  left->addWidget(figs);

  auto* status = new QHBoxLayout;
  PanelPCR = new TPanel("PanelPCR", "Status", this);
  ButtonPCRQuery = makeButton("ButtonPCRQuery", "Query", this);
  status->addWidget(PanelPCR, 1);
  status->addWidget(ButtonPCRQuery);
  left->addLayout(status);
  left->addStretch(1);
  root->addLayout(left, 0);

  // The chart and its buttons.
  auto* right = new QVBoxLayout;
  auto* chart = new QChart;
  chart->setTitle("PCR correction coefficient vs. time (of the Test PCRPID)");
  chart->legend()->hide();
  chart->setMargins(QMargins(2, 2, 2, 2));
  Series1 = new QLineSeries;
  Series1->setObjectName("Series1");
  Series1->setName("Channel1");
  Series1->setColor(tColor(tessaly::colour::ChartLine));
  Series1->setPointsVisible(false);
  chart->addSeries(Series1);
  AxisBottom = new QValueAxis;
  AxisBottom->setObjectName("AxisBottom");
  AxisBottom->setTitleText("Second");
  AxisBottom->setRange(0, 500);
  AxisBottom->setLabelFormat("%d");
  AxisLeft = new QValueAxis;
  AxisLeft->setObjectName("AxisLeft");
  AxisLeft->setTitleText("COR @ 40 ms");
  AxisLeft->setRange(-120, 120);
  AxisLeft->setLabelFormat("%d");
  chart->addAxis(AxisBottom, Qt::AlignBottom);
  chart->addAxis(AxisLeft, Qt::AlignLeft);
  Series1->attachAxis(AxisBottom);
  Series1->attachAxis(AxisLeft);
  ChartPCR = new QChartView(chart, this);
  ChartPCR->setObjectName("ChartPCR");
  ChartPCR->setRenderHint(QPainter::Antialiasing);
  right->addWidget(ChartPCR, 1);

  auto* cb = new QHBoxLayout;
  Button2 = makeButton("Button2", "Start", this);
  Button5 = makeButton("Button5", "Continue", this);
  Button3 = makeButton("Button3", "Stop", this, false);
  Button4 = makeButton("Button4", "Clear", this, false);
  CheckBox9 = makeCheck("CheckBox9", "Auto Scale", false, this);
  for (auto* b : {Button2, Button5, Button3, Button4}) cb->addWidget(b);
  cb->addWidget(CheckBox9);
  cb->addStretch(1);
  right->addLayout(cb);
  root->addLayout(right, 1);

  connect(ButtonPCRQuery, &QPushButton::clicked, this, [this] { host_.query(); });
}

void PagePcr::otherPageShown() {
  // The chart's polling is stopped here (as by its Stop button) while it runs.
}

void PagePcr::presentStatus(const tessaly::tZODADevice& d) {
  using namespace tessaly;
  PanelPCR->setCaption("Data refreshed.");
  PanelPCR->setColor(colour::LightGreen);
  CheckBoxPCR->setChecked(d.PcrState & 0x01);
  CheckBoxDP->setChecked(d.PcrState & 0x10);
  LabelSDR->setText("SDRAM Packets: " + QString::number(d.SdramUsage));
  LabelSlide->setText(QString::fromStdString(slideText(d.PcrSlide)));
  LabelCOR->setText(QString::fromStdString(corText(d.PcrSlide)));
  LabelBR->setText(QString::fromStdString(baseErrorText(d.PcrBaseError)));
  Label110->setText(QString::fromStdString(baseErrorMsText(d.PcrBaseError)));
  LabelPCRG->setText(QString::fromStdString(gradientText(d.PcrBaseError)));
  EditTestPID1->setText(QString::number(d.TestPid));
  LabelPCR1->setText(QString::number(d.PcrPidCount));
  LabelNPCR1->setText(QString::number(d.NewPcrPidCount));
  LabelPCRD1->setText(QString::number(d.PcrDiscontinuity));
  LabelLPCR1->setText(QString::number(d.LargePcrErrors));
  QPalette p = LabelSDR->palette();
  p.setColor(QPalette::WindowText, tColor(sdramLabelColour(d)));
  LabelSDR->setPalette(p);
}
