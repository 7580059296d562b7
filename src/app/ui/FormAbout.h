#pragma once
// The About box: four centred lines and an OK button.
#include <QDialog>

class QLabel;
class QPushButton;

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget* parent = nullptr);
  // The two texts the box copies into its first two lines when it is shown.
  void setTexts(const QString& product, const QString& version);
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QPushButton* ButtonOK;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QString product_, version_;
};
