#include "app/ui/FormAbout.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/Widgets.h"

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("FormAbout");
  setWindowTitle("About");
  setModal(true);
  auto* root = new QVBoxLayout(this);
  auto* panel = new QFrame(this);
  panel->setObjectName("PanelAbout");
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  auto* pl = new QVBoxLayout(panel);
  pl->setContentsMargins(24, 14, 24, 14);
  pl->setSpacing(6);
  Label1 = makeLabel("Label1", "", panel);
  Label2 = makeLabel("Label2", "", panel);
  Label3 = makeLabel("Label3", "Written by the Tessaly Panel developers", panel);
  Label4 = makeLabel("Label4", "Contact: the Tessaly Panel project tracker", panel);
  QFont big = Label1->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  Label1->setFont(big);
  for (auto* l : {Label1, Label2, Label3, Label4}) {
    l->setAlignment(Qt::AlignCenter);
    pl->addWidget(l);
  }
  root->addWidget(panel);
  ButtonOK = makeButton("ButtonOK", "OK", this);
  ButtonOK->setDefault(true);
  root->addWidget(ButtonOK, 0, Qt::AlignHCenter);
  connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
  // The create handler presets the two lines; the menu replaces them before every showing.
  setTexts("ASI Remultiplexer", "Tessaly v1.00");
  Label1->setText(product_);
  Label2->setText(version_);
  setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

void TFormAbout::setTexts(const QString& product, const QString& version) {
  product_ = product;
  version_ = version;
}

void TFormAbout::showEvent(QShowEvent* e) {
  Label1->setText(product_);
  Label2->setText(version_);
  QDialog::showEvent(e);
}
