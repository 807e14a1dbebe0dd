// Drives a modal dialog from a handler that runs once the dialog shows.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>

namespace cport::test {

// Runs act on the first modal dialog of type T that appears (within a
// generous deadline); act must end the dialog (accept, reject, close).
template <class T>
void WhenShown(std::function<void(T&)> act, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [act, deadline, poll] {
    if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(*d);
      return;
    }
    if (std::chrono::steady_clock::now() < deadline) QTimer::singleShot(5, *poll);
  };
  QTimer::singleShot(0, *poll);
}

}  // namespace cport::test
