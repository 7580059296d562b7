#include "app/ui/PageMain.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "link/LinkSettings.h"
#include "status/StatusReport.h"

PageMain::PageMain(PageHost& host, tessaly::LinkSettings& link, QWidget* parent)
    : TPage(host, "PageMain", parent), link_(link) {
  auto* root = new QHBoxLayout(this);

  // Left: the Ethernet controller group.
  auto* setup = makeGroup("", this, "GroupECSetup");
  auto* sl = new QVBoxLayout(setup);
  LabelECSetup = makeLabel("LabelECSetup", "Ethernet Controller Setup", setup);
  QFont hf = LabelECSetup->font();
  hf.setBold(true);
  hf.setPointSizeF(hf.pointSizeF() * 1.2);
  LabelECSetup->setFont(hf);
  sl->addWidget(LabelECSetup);

  auto* ipBox = makeGroup(" Device IP Address ", setup, "GroupDeviceIP");
  auto* ig = new QGridLayout(ipBox);
  LabelIPAddr = makeLabel("LabelIPAddr", QString::fromStdString(link_.deviceIp()), ipBox);
  QFont bf = LabelIPAddr->font();
  bf.setBold(true);
  LabelIPAddr->setFont(bf);
  UpDownIP = new TUpDown("UpDownIP", 0, 255, tessaly::kDefaultIpExt, ipBox);
  ig->addWidget(makeLabel("", "Device IP:", ipBox), 0, 0);
  ig->addWidget(LabelIPAddr, 0, 1);
  ig->addWidget(UpDownIP, 0, 2);
  EditIP = makeEdit("EditIP", "10.123.13.101", 128, ipBox);
  ButtonIPBase = makeButton("ButtonIPBase", "Change IP", ipBox);
  ig->addWidget(makeLabel("", "IP Address:", ipBox), 1, 0);
  ig->addWidget(EditIP, 1, 1);
  ig->addWidget(ButtonIPBase, 1, 2);
  ig->setColumnStretch(1, 1);
  sl->addWidget(ipBox);

  RadioGroupAP = new TRadioGroup("RadioGroupAP", " Protocoll ", {"CW-Net", "DDToIP"}, 2, setup);
  RadioGroupAP->setItemIndex(0);
  sl->addWidget(RadioGroupAP);
  RadioGroup3 = new TRadioGroup("RadioGroup3", " SDI Address ", numberItems(1, 15), 5, setup);
  RadioGroup3->setItemIndex(0);
  sl->addWidget(RadioGroup3);

  auto* q = new QHBoxLayout;
  ButtonQuery = makeButton("ButtonQuery", "Query", setup);
  ButtonQuery->setMinimumWidth(90);
  LabelD = makeLabel("LabelD", "Device Code:", setup);
  q->addWidget(ButtonQuery);
  q->addSpacing(10);
  q->addWidget(LabelD, 1);
  sl->addLayout(q);
  sl->addStretch(1);
  root->addWidget(setup, 5);

  // Right: the device information memo.
  auto* info = makeGroup(" Device Information ", this, "GroupDeviceInfo");
  auto* il = new QVBoxLayout(info);
  MemoInfo = new TMemo("MemoInfo",
                       {"Step 1. Set the IP Address of your Ethernet ", "Controller.", "",
                        "Step 2. Set the SDI Address of the ASI ", "Remultiplexer Board.", "",
                        "Step 3. If you use a CW-4900 type Ethernet ", "Controller set the Protocoll to CW-Net.", "",
                        "Step 4. Press the Query button."},
                       info);
  il->addWidget(MemoInfo);
  root->addWidget(info, 4);

  connect(UpDownIP, &TUpDown::clicked, this, &PageMain::UpDownIPClick);
  connect(RadioGroupAP, &TRadioGroup::changed, this, &PageMain::radioGroupsChanged);
  connect(RadioGroup3, &TRadioGroup::changed, this, &PageMain::radioGroupsChanged);
  radioGroupsChanged();
  connect(ButtonIPBase, &QPushButton::clicked, this, &PageMain::ButtonIPBaseClick);
  connect(ButtonQuery, &QPushButton::clicked, this, [this] { host_.query(); });
}

void PageMain::setIpBase(const std::string& base) {
  link_.ipBase = base;
  refreshDeviceIp();
}

void PageMain::refreshDeviceIp() {
  link_.ipExtension = UpDownIP->position();
  LabelIPAddr->setText(QString::fromStdString(link_.deviceIp()));
}

void PageMain::UpDownIPClick() { refreshDeviceIp(); }

void PageMain::ButtonIPBaseClick() {
  const auto split = tessaly::splitChangeIp(EditIP->text().toStdString());
  if (!split) return;  // an address that does not pass changes nothing, silently
  link_.ipBase = split->base;
  UpDownIP->setPosition(split->extension);
  refreshDeviceIp();
}

void PageMain::presentStatus(const tessaly::tZODADevice& d) {
  LabelD->setText(QString::fromStdString(tessaly::deviceCodeText(d)));
  MemoInfo->addLines(tessaly::statusReportLines(d));
}

void PageMain::querySent(const std::vector<std::string>& memoLines) {
  MemoInfo->clearLines();
  MemoInfo->addLines(memoLines);
}

void PageMain::querySendFailed() {
  MemoInfo->clearLines();
  MemoInfo->addLines(QStringList{"Communication Error!", "Check your network connection!"});
}

void PageMain::queryTimedOut() {
  MemoInfo->addLine("No answer received (in 1s).");
  LabelD->setText("Device Code:");
}

void PageMain::presentQueryOutcome(const tessaly::QueryOutcome& o) {
  MemoInfo->clearLines();
  MemoInfo->addLines(tessaly::queryAnswerLines(o));
  if (o.statusAnswer()) LabelD->setText(QString::fromStdString(tessaly::queryDeviceCodeText(o)));
}

void PageMain::radioGroupsChanged() {
  link_.framing = RadioGroupAP->itemIndex() == 1 ? tessaly::Framing::DDToIP : tessaly::Framing::CwNet;
  // No selection (an index of -1 from the settings file) addresses SDI 0.
  link_.sdiAddress = static_cast<std::uint8_t>(RadioGroup3->itemIndex() + 1);
}
