// Card work off the window's thread. Each card operation runs on a worker
// thread while the window's thread waits in an event loop of its own: the
// window keeps painting, the progress bar and the busy animation move, and
// the desktop never sees it hang. The card manager's events come back to the
// window's thread one at a time, the worker waiting for each, so the window
// sees them in the order the operation made them. Input to the window's
// commands is held off until the operation ends.
#include <QCloseEvent>
#include <QResizeEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QThread>
#include <exception>
#include <thread>

#include "app/mainwindow.h"

namespace travosk {
namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TForm1::RunCardWork(const std::function<void()>& work) {
  // Work that an event handler starts while the worker waits for it, and
  // work before the window is up, runs where it is asked for.
  if (!work_threads_ || card_busy_ || QThread::currentThread() != thread()) {
    work();
    return;
  }
  card_busy_ = true;
  std::exception_ptr error;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  card_busy_ = false;
  if (error) std::rethrow_exception(error);
}

void TForm1::OnWindowThread(const std::function<void()>& handler) {
  if (QThread::currentThread() == thread()) {
    handler();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      this,
      [&] {
        try {
          handler();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (card_busy_ && watched->isWidgetType() && IsUserInput(event->type()) &&
      static_cast<QWidget*>(watched)->window() == this)
    return true;
  if (watched == client_ && event->type() == QEvent::Resize)
    GrowControls(static_cast<QResizeEvent*>(event)->size());
  if (Savertableview && HandlePaneDrop(watched, event)) return true;
  if (Savertableview && watched == Savertableview->viewport() && HandleListDrop(event)) return true;
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The card is safe only once the operation on it has ended.
  if (card_busy_) {
    ui_.Beep();
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

}  // namespace travosk
