#pragma once
// The window reads Settings.ini from the working directory: the benchmarks give it
// one in a temporary directory that points at 127.0.0.1 and never saves at exit.
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace bench {

// Makes `dir` the working directory and writes its Settings.ini; false on failure.
inline bool useLoopbackSettings(const QTemporaryDir& dir, int hostPort, int devicePort, const char* extraMain = "") {
  QDir::setCurrent(dir.path());
  QFile ini(dir.filePath("Settings.ini"));
  if (!ini.open(QIODevice::WriteOnly)) return false;
  const QString text = QStringLiteral("[Settings]\nSaveOnExit=0\nMyPort=%1\nDevicePort=%2\n"
                                      "[Main]\nIPBase=127.0.0.\nIPExt=1\nIPText=127.0.0.1\n%3")
                           .arg(hostPort)
                           .arg(devicePort)
                           .arg(QString::fromLatin1(extraMain));
  return ini.write(text.toLatin1()) == text.size();
}

}  // namespace bench
