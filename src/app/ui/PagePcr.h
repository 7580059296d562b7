#pragma once
// "PCR Corrector": the corrector's switches and test PID, its figures, and the
// chart of its correction against time.
#include <functional>

#include "app/ui/PageHost.h"
#include "instructions/PageInstructions.h"
#include "widgets/Widgets.h"
#include "status/ChartPoller.h"

class TLineChart;

class PagePcr : public TPage {
  Q_OBJECT
 public:
  explicit PagePcr(PageHost& host, QWidget* parent = nullptr);
  void presentStatus(const tessaly::tZODADevice& d) override;

  // Another page was shown: the chart's polling stops here when it runs.
  void otherPageShown();


  // Button and check box handlers.
  void Button2Click();  // Start
  void Button5Click();  // Continue
  void Button3Click();  // Stop
  void Button4Click();  // Clear
  void CheckBox9Click();
  void ButtonSetPCRClick();
  void ButtonST1Click();
  // One more point from the status record as it stands (x = the new SampleCount).
  void AddChartSample();
  bool polling() const;

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
  TLineChart* ChartPCR;  // one series, "Channel1"
  QPushButton* Button2;  // Start
  QPushButton* Button5;  // Continue
  QPushButton* Button3;  // Stop
  QPushButton* Button4;  // Clear
  QCheckBox* CheckBox9;  // Auto Scale

 private:
  void setPollingButtons(bool polling);
  void applyLeftAxisRule();
  void pollTimerFired(std::uint8_t code);  // 200..202
  void pollSendFailed();                   // the request could not go out: polling rests
  // The polling loop's text and colour on the status panel.
  void showPollMessage(std::string_view text, std::uint32_t colour);
  // Carries out the poller's actions in order.
  void carryOut(const tessaly::ChartActions& actions);

  tessaly::ChartPoller poller_;
  std::uint8_t polledAddress_ = 0;  // the SDI address the request on its way went to
};
