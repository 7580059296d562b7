#include "app/ui/PageHost.h"

#include "widgets/Widgets.h"

using namespace tessaly;

void TPage::queryStarted() {
  if (queryPanel_.panel && queryPanel_.neutralAtStart) queryPanel_.panel->setColor(colour::ButtonFace);
}

void TPage::querySent(const std::vector<std::string>&) {
  if (queryPanel_.panel && queryPanel_.showsSending) queryPanel_.panel->setCaption("Message sent, waiting for reply...");
}

void TPage::querySendFailed() {
  if (queryPanel_.panel && queryPanel_.showsSending) queryPanel_.panel->setCaption("Communication Error!");
}

void TPage::queryTimedOut() {
  if (!queryPanel_.panel) return;
  queryPanel_.panel->setCaption("No answer received (in 1s).");
  queryPanel_.panel->setColor(colour::Red);
}

void TPage::presentQueryOutcome(const QueryOutcome& o) {
  if (!queryPanel_.panel) return;
  // A status answer leaves the panels neutral; anything else is shown in red.
  queryPanel_.panel->setCaption(QString::fromStdString(queryAnswerText(o)));
  queryPanel_.panel->setColor(o.statusAnswer() ? colour::ButtonFace : colour::Red);
  if (queryPanel_.showsOtherText && o.kind == QueryKind::NoDevice)
    queryPanel_.panel->setCaption("No device connected to the SDI.");
}
