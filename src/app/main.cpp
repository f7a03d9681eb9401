// The program: the application, its forms in their order, the message loop.
//   travosk [FILE...]   FILE: a card image to open, or a save file to restore
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/forms.h"
#include "app/openfiles.h"
#include "app/screenshot.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/combined_platform.h"

namespace {

// --help and --version answer without a display; -1 when neither is asked.
int AnswerInfoOption(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: travosk [FILE...]\n"
          "  FILE  a card image to open, or a save file to restore to a card\n"
          "The window works in the current folder; travosk-start starts it in its own.\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("travosk %s\n", TRAVOSK_VERSION);
      return 0;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int code = AnswerInfoOption(argc, argv); code >= 0) return code;
  QApplication app(argc, argv);
  QApplication::setApplicationName("TRAVOSK v3.010e");

  // Hidden: --screenshot-script DIR SCENARIO (see app/screenshot.h).
  const QStringList args = QApplication::arguments();
  std::unique_ptr<travosk::UiServices> ui;
  travosk::ScreenshotUi* screenshots = nullptr;
  QString scenario;
  QStringList given;  // files named on the command line
  if (args.size() >= 4 && args[1] == "--screenshot-script") {
    auto s = std::make_unique<travosk::ScreenshotUi>(args[2]);
    screenshots = s.get();
    scenario = args[3];
    ui = std::move(s);
  } else {
    bool options = true;
    for (qsizetype i = 1; i < args.size(); ++i) {
      if (options && args[i] == "--") {
        options = false;
      } else if (options && args[i].startsWith('-')) {
        std::fprintf(stderr, "travosk: unknown option %s (see travosk --help)\n",
                     qPrintable(args[i]));
        return 2;
      } else {
        given << args[i];
      }
    }
    ui = std::make_unique<travosk::QtUiServices>();
  }

  const auto platform = travosk::link::MakePlatform();
  travosk::link::SystemClock clock;
  travosk::link::Link link(*platform, clock);
  // The working folder is the current folder.
  travosk::FormSet forms(link, *ui);
  if (auto* qt = dynamic_cast<travosk::QtUiServices*>(ui.get())) qt->SetParentWindow(forms.Form1.get());

  travosk::TForm1& main_window = *forms.Form1;
  main_window.adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    main_window.move(screen->availableGeometry().center() - main_window.rect().center());
  main_window.show();
  if (screenshots && !travosk::StartScreenshotScenario(forms, *screenshots, scenario)) {
    std::fprintf(stderr, "travosk: unknown screenshot scenario %s\n", qPrintable(scenario));
    return 2;
  }
  // The files are taken once the window is on the screen, so that their
  // questions stand in front of it.
  if (!given.isEmpty())
    QTimer::singleShot(0, &main_window, [&main_window, &ui, given] {
      travosk::OpenGivenFiles(main_window, *ui, given);
    });
  return app.exec();
}
