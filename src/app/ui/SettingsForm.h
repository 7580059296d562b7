#pragma once
// The Settings dialog: save-on-exit flag, host port and device port.
#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

class TSettingsForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSettingsForm(QWidget* parent = nullptr);

  // The opening step: the controls take the current values.
  void load(bool saveOnExit, int hostPort, int devicePort);
  bool saveOnExit() const;
  int hostPort() const;
  int devicePort() const;

  // The text-input box behind "Change": returns false when cancelled. Tests
  // replace it; by default it is a modal input dialog.
  using InputBox = std::function<bool(const QString& caption, const QString& prompt, QString& text)>;
  void setInputBox(InputBox box) { inputBox_ = std::move(box); }
  // The information box for "Invalid port number!".
  void setMessageBox(std::function<void(const QString&)> box) { messageBox_ = std::move(box); }

  // A port typed into the input box: decimal 1..65534, or nothing.
  static bool parsePort(const QString& text, int& port);

  QCheckBox* CheckBoxSSOE;
  QLabel* LabelHP;
  QLabel* LabelDP;
  QPushButton* ButtonCh1;
  QPushButton* ButtonCh2;
  QPushButton* BitBtnSaveS;
  QPushButton* BitBtnCancel;
  QPushButton* ButtonRD;

 private:
  void change(QLabel* target, const QString& caption);
  void restoreDefault();
  InputBox inputBox_;
  std::function<void(const QString&)> messageBox_;
};
