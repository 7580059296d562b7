#pragma once
// "PCR Corrector": the corrector's switches and test PID, its figures, and the
// chart of its correction against time.
#include "app/ui/PageHost.h"
#include "app/ui/Widgets.h"

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

class PagePcr : public TPage {
  Q_OBJECT
 public:
  explicit PagePcr(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // Another page was shown: the chart's polling stops here when it runs.
  void otherPageShown();

  QCheckBox* CheckBoxPCR;
  QCheckBox* CheckBoxDP;
  QPushButton* ButtonSetPCR;
  QLineEdit* EditTestPID1;
  QPushButton* ButtonST1;
  QLabel* LabelSDR;
  QLabel* LabelSlide;
  QLabel* LabelCOR;
  QLabel* LabelBR;
  QLabel* Label110;
  QLabel* LabelPCRG;
  QLabel* LabelPCR1;
  QLabel* LabelNPCR1;
  QLabel* LabelPCRD1;
  QLabel* LabelLPCR1;
  TPanel* PanelPCR;
  QPushButton* ButtonPCRQuery;
  QChartView* ChartPCR;
  QLineSeries* Series1;
  QValueAxis* AxisBottom;
  QValueAxis* AxisLeft;
  QPushButton* Button2;  // Start
  QPushButton* Button5;  // Continue
  QPushButton* Button3;  // Stop
  QPushButton* Button4;  // Clear
  QCheckBox* CheckBox9;  // Auto Scale

  // SETPCRCORRECTOR / SETTESTPCRPID (waiting code 8, PanelPCR) and the chart's
  // Start, Continue, Stop, Clear, Auto Scale and polling codes 200..202 go here.
};
