// SPDX-License-Identifier: MIT
// Drives a modal dialog from a handler that runs once the dialog shows.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <chrono>
#include <functional>

namespace cport::test {

// Runs act on the first modal dialog of type T that appears (within a
// generous deadline); act must end the dialog (accept, reject, close).
template <class T>
void WhenShown(std::function<void(T&)> act, int timeoutMs = 10000) {
  // Owned by the application, so a timer that never fires again is still
  // freed when the tests end.
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, act, deadline] {
    T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!dialog && std::chrono::steady_clock::now() < deadline) return;
    timer->stop();
    timer->deleteLater();
    if (dialog) act(*dialog);
  });
  timer->start();
}

// What the operator does in a drop-down list: opens it, moves to the entry
// with this text and presses Enter, so the box sends its signals as Qt does
// for a real pick.  False when there is no such entry or the pick did not
// take.
inline bool PickEntry(QComboBox* box, const QString& text) {
  const int i = box->findText(text, Qt::MatchExactly);
  if (i < 0) return false;
  box->showPopup();
  QAbstractItemView* list = box->view();
  list->setCurrentIndex(box->model()->index(i, box->modelColumn(), box->rootModelIndex()));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(list, &enter);
  return box->currentIndex() == i && !list->isVisible();
}

}  // namespace cport::test
