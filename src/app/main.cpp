// The program: the application, its forms in their order, the message loop.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "app/forms.h"
#include "app/screenshot.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/platform_factory.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("TRAVOSK v3.010e");

  // Hidden: --screenshot-script DIR SCENARIO (see app/screenshot.h).
  const QStringList args = QApplication::arguments();
  std::unique_ptr<travosk::UiServices> ui;
  travosk::ScreenshotUi* screenshots = nullptr;
  QString scenario;
  if (args.size() >= 4 && args[1] == "--screenshot-script") {
    auto s = std::make_unique<travosk::ScreenshotUi>(args[2]);
    screenshots = s.get();
    scenario = args[3];
    ui = std::move(s);
  } else {
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
  return app.exec();
}
