// The main window's settings: read from Settings.ini as the window is created,
// written back at exit and when the Settings dialog is confirmed. Which keys, in
// which order, and for which control or field, is the key table's (SettingsKeys).
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include "app/ui/MainForm.h"
#include "app/ui/PageMain.h"
#include "app/ui/SettingsForm.h"
#include "widgets/Widgets.h"
#include "text/Numbers.h"

using namespace tessaly;

void TMainForm::loadSettings() {
  ini_ = std::make_unique<IniFile>(settingsPath(QDir::currentPath().toStdString()));
  if (!ini_->loaded()) {
    // A file that is there but cannot be read is left alone: the defaults serve this
    // run and nothing is written at exit. Reported once, when the window is up (and
    // through whatever message box is set by then).
    const QString text = QString::fromStdString("Unable to read " + ini_->path() + " (" + ini_->loadError() +
                                                "). The default settings are used and the file is not changed.");
    QTimer::singleShot(0, this, [this, text] { message(text); });
  }
  for (const auto& key : loadOrder()) applySetting(key);
}

void TMainForm::applySetting(const SettingKey& k) {
  const IniFile& ini = *ini_;
  const std::int32_t defInt = readIntOr(k.defaultValue, 0);
  if (k.target == field::SaveOnExit) {
    saveOnExit_ = ini.readBool(k.section, k.key, defInt != 0);
  } else if (k.target == field::MyPort) {
    session_.link().hostPort = ini.readInteger(k.section, k.key, defInt);
    endpoint_.setLocalPort(session_.link().hostPort);
  } else if (k.target == field::DevicePort) {
    session_.link().devicePort = ini.readInteger(k.section, k.key, defInt);
    endpoint_.setLocalPort(session_.link().hostPort);
  } else if (k.target == field::IPBase) {
    pageMain_->setIpBase(ini.readString(k.section, k.key, k.defaultValue));
  } else if (k.target == field::ShowManufacturerPage) {
    if (ini.readInteger(k.section, k.key, defInt) > 0) tabs_->setTabVisible(TabMfg, true);
  } else {
    QWidget* w = findChild<QWidget*>(QString::fromStdString(k.target));
    if (auto* c = qobject_cast<QCheckBox*>(w)) {
      c->setChecked(ini.readBool(k.section, k.key, defInt != 0));
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      // Bytes in the file are characters 0..255: they go back out unchanged.
      const std::string text = ini.readString(k.section, k.key, k.defaultValue);
      e->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    } else if (auto* r = qobject_cast<TRadioGroup*>(w)) {
      // Past the last item selects the last; below 0 selects nothing.
      const std::int32_t i = ini.readInteger(k.section, k.key, defInt);
      r->setItemIndex(i >= r->count() ? r->count() - 1 : i);
    } else if (auto* u = qobject_cast<TUpDown*>(w)) {
      u->setPosition(ini.readInteger(k.section, k.key, defInt));
      pageMain_->refreshDeviceIp();
    }
  }
}

void TMainForm::writeSetting(const SettingKey& k) {
  IniFile& ini = *ini_;
  if (k.target == field::IPBase) {
    ini.writeString(k.section, k.key, session_.link().ipBase);
    return;
  }
  QWidget* w = findChild<QWidget*>(QString::fromStdString(k.target));
  if (auto* c = qobject_cast<QCheckBox*>(w))
    ini.writeBool(k.section, k.key, c->isChecked());
  else if (auto* e = qobject_cast<QLineEdit*>(w))
    ini.writeString(k.section, k.key, e->text().toLatin1().toStdString());
  else if (auto* r = qobject_cast<TRadioGroup*>(w))
    ini.writeInteger(k.section, k.key, r->itemIndex());
  else if (auto* u = qobject_cast<TUpDown*>(w))
    ini.writeInteger(k.section, k.key, u->position());
}

void TMainForm::saveSettings() {
  // An unreadable file was reported at start and is never replaced.
  if (!ini_->loaded()) return;
  // Only the keys of this occasion go into the file as it is on disk now: with
  // save-on-exit off, that one key.
  const SettingKey& save = settingKeyFor(field::SaveOnExit);
  ini_->writeBool(save.section, save.key, saveOnExit_);
  if (saveOnExit_)
    for (const auto& key : saveOrder()) writeSetting(key);
  try {
    ini_->save();
  } catch (const std::exception&) {
    message(QString::fromStdString("Unable to write to " + ini_->path()));
  }
}

void TMainForm::applySettingsDialog() {
  saveOnExit_ = settingsForm_->saveOnExit();
  const int hostPort = settingsForm_->hostPort();
  const int devicePort = settingsForm_->devicePort();
  // The three keys are stored first; when they cannot be (an unreadable file
  // included), the ports stay as they are and the endpoint stays open.
  const SettingKey& save = settingKeyFor(field::SaveOnExit);
  const SettingKey& myPort = settingKeyFor(field::MyPort);
  const SettingKey& devicePortKey = settingKeyFor(field::DevicePort);
  ini_->writeBool(save.section, save.key, saveOnExit_);
  ini_->writeInteger(myPort.section, myPort.key, hostPort);
  ini_->writeInteger(devicePortKey.section, devicePortKey.key, devicePort);
  try {
    ini_->save();
  } catch (const std::exception&) {
    message(QString::fromStdString("Unable to write to " + ini_->path()));
    return;
  }
  session_.link().hostPort = hostPort;
  session_.link().devicePort = devicePort;
  // The next send binds the new host port.
  endpoint_.deactivate();
  endpoint_.setLocalPort(session_.link().hostPort);
}
