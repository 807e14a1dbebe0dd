// SPDX-License-Identifier: MIT
// The application object: failures that escape an event handler, or that
// the serial component hands over, reach the error report and the program
// goes on; the event thread's synchronised calls run on the GUI thread.
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "AppTest.h"
#include "Application.h"
#include "CPort.h"

using namespace vxpanel;
using vxpanel::test::TPrivateSettings;
using vxpanel::test::WaitFor;

namespace {

// A thread that runs one call on the main thread and waits for it, as the
// port's event thread does with each batch.
class TSyncThread : public cport::TThread {
 public:
  std::thread::id RanOn;

 protected:
  void Execute() override {
    Synchronize([this] { RanOn = std::this_thread::get_id(); });
  }
};

// An object whose event handler fails on its first event.
class TThrower : public QObject {
 public:
  int Events = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    if (++Events == 1) throw std::runtime_error("boom in a handler");
    return true;
  }
};

}  // namespace

TEST(Application, AnExceptionFromAHandlerIsReportedAndTheProgramGoesOn) {
  TPrivateSettings reports;
  TThrower thrower;
  QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
  ASSERT_TRUE(WaitFor([&] { return !reports.Reports().isEmpty(); }));
  EXPECT_EQ(reports.Reports(), QStringList{"boom in a handler"});
  QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
  ASSERT_TRUE(WaitFor([&] { return thrower.Events == 2; })) << "still dispatching";
  EXPECT_EQ(reports.Reports().size(), 1);
}

TEST(Application, AnExceptionWithoutAMessageShowsAnEmptyText) {
  TPrivateSettings reports;
  QTimer::singleShot(0, [] { throw 42; });
  ASSERT_TRUE(WaitFor([&] { return !reports.Reports().isEmpty(); }));
  EXPECT_EQ(reports.Reports(), QStringList{QString()});
}

TEST(Application, TheSerialComponentsUncaughtFailuresAreReported) {
  TPrivateSettings reports;
  cport::HandleApplicationException(std::make_exception_ptr(cport::EComPort(cport::CError_OpenFailed, 2)));
  std::thread other([] { cport::HandleApplicationException(std::make_exception_ptr(std::runtime_error("late"))); });
  other.join();
  ASSERT_TRUE(WaitFor([&] { return reports.Reports().size() == 2; }));
  EXPECT_TRUE(reports.Reports()[0].startsWith("Unable to open com port")) << reports.Reports()[0].toStdString();
  EXPECT_EQ(reports.Reports()[1], "late") << "a report from another thread is shown on the GUI thread";
}

TEST(Application, SynchronisedCallsRunOnTheGuiThreadThroughTheEventLoop) {
  TSyncThread t;
  t.Start();
  // Only the event loop runs here: the application's hook must bring the
  // call to this thread.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!t.Finished() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(t.Finished());
  t.WaitFor();
  EXPECT_EQ(t.RanOn, std::this_thread::get_id());
}
