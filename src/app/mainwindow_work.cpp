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
#include "app/strings.h"

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

void TForm1::HoldCurrentCard() {
  // An open image is its file; the adapter is its device, when other
  // programs can reach it at all.
  const bool image = current_image_ >= 0 && current_image_ < static_cast<int>(images_.size());
  const std::string target = image ? PathOf(images_[current_image_]->path) : link_.DevicePath();
  if (target.empty() || card_locks_.count(target)) return;
  // An adapter inside this process (the tests' and the images' own) is
  // beyond the reach of other programs.
  if (!image && dynamic_cast<sim::LoopbackPlatform*>(&link_.platform())) return;
  const auto wait = link::LockWait();
  // A reader's port is held as an adapter's device is.
  const bool file = image && !images_[current_image_]->reader;
  card_locks_.emplace(target, file ? link::CardLock::OnImage(target, wait)
                                   : link::CardLock::OnDevice(target, wait));
}

void TForm1::RunCardWork(const std::function<void()>& work) {
  // Outside a command (start-up, device changes) the card is held for this
  // operation alone; inside one, until the command ends (Guarded).
  struct LetGo {
    TForm1& w;
    ~LetGo() {
      if (w.command_depth_ == 0 && !w.card_busy_) w.card_locks_.clear();
    }
  };
  // Work that an event handler starts while the worker waits for it, and
  // work before the window is up, runs where it is asked for.
  if (!work_threads_ || card_busy_ || QThread::currentThread() != thread()) {
    LetGo let_go{*this};
    HoldCurrentCard();
    work();
    return;
  }
  card_busy_ = true;
  std::exception_ptr error;
  QEventLoop loop;
  // The wait for a card another program holds runs on the worker too, so
  // the window keeps painting meanwhile.
  std::thread worker([&] {
    try {
      HoldCurrentCard();
      work();
    } catch (...) {
      error = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  card_busy_ = false;
  LetGo let_go{*this};
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
