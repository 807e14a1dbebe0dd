// SPDX-License-Identifier: MIT
#include "AppTest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextStream>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "Application.h"
#include "CPort.h"

namespace vxpanel::test {

namespace {

class TAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Headless by default, and never the user's own settings or runtime
    // folder, even before a test has chosen its private settings.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FHome = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", (FHome->path() + "/config").toLocal8Bit());
    const QString runtime = FHome->path() + "/runtime";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    FApp = std::make_unique<TApplication>(FArgc, FArgv);
  }
  void TearDown() override {
    FApp.reset();
    FHome.reset();
  }

 private:
  int FArgc = 1;
  char FName[16] = "vxpanel-test";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QTemporaryDir> FHome;
  std::unique_ptr<TApplication> FApp;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

}  // namespace

TPrivateSettings::TPrivateSettings() : FRoot(FDir.path() + "/config") {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FRoot);
  SetErrorReporter([this](const QString& text) { FReports << text; });
}

TPrivateSettings::~TPrivateSettings() {
  SetErrorReporter(nullptr);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     qEnvironmentVariable("XDG_CONFIG_HOME"));
}

QString TPrivateSettings::File() const { return FRoot + "/Morvaleq/KV.conf"; }

void TPrivateSettings::Write(const QStringList& lines) const {
  QDir().mkpath(FRoot + "/Morvaleq");
  QFile f(File());
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write settings file");
  QTextStream out(&f);
  out << "[ComPort]\n";
  for (const QString& l : lines) out << l << "\n";
  out.flush();
  // The toolkit re-reads a file only when its time or size changed: every
  // version written here gets a time of its own.
  static int version = 0;
  f.setFileTime(QDateTime::currentDateTime().addSecs(++version), QFileDevice::FileModificationTime);
}

std::map<std::string, std::string> TPrivateSettings::Values() const {
  std::map<std::string, std::string> values;
  QFile f(File());
  if (!f.open(QIODevice::ReadOnly)) return values;
  bool inGroup = false;
  for (const QString& raw : QString::fromUtf8(f.readAll()).split('\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith('[')) {
      inGroup = line == "[ComPort]";
    } else if (inGroup && line.contains('=')) {
      const qsizetype eq = line.indexOf('=');
      values[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
  }
  return values;
}

void TPrivateSettings::Block() {
  QDir(FRoot).removeRecursively();
  QFile f(FRoot);
  f.open(QIODevice::WriteOnly);
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    QCoreApplication::processEvents();
    cport::CheckSynchronize();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace vxpanel::test
