// The real window on an in-process simulated adapter: a temporary working
// folder with the supplied icon and "savers", copies of card images in the
// adapter's slots, and every question answered by a ScriptedUi.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "app/forms.h"
#include "card/checker.h"
#include "common/errors.h"
#include "manager/ps2mfmsys.h"
#include "scripted_ui.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace travosk::testing {

// A file the build made (demo cards, supplied files).
inline QString DataFile(const QString& name) {
  const QByteArray dir = qgetenv("TRAVOSK_DATA");
  return QDir(dir.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(dir)).filePath(name);
}

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write " + path.toStdString());
}

// The PS2 file system of a card or SmartMedia image, mounted from a copy by a
// card manager of its own: true when it mounts and the checker finds nothing.
inline bool ImageHealthy(const QString& image, sim::MediumKind kind) {
  QTemporaryDir work;
  const QString copy = QDir(work.path()).filePath("copy.img");
  if (!work.isValid() || !QFile::copy(image, copy)) return false;
  QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
  sim::LoopbackSession session;
  if (kind == sim::MediumKind::kSmartMedia)
    session.adapter.InsertSmartMedia(sim::Medium::Open(copy.toStdString(), kind));
  else
    session.adapter.InsertCard(sim::Medium::Open(copy.toStdString(), kind));
  manager::TPS2MFMSYS mgr(session.link);
  mgr.InitSystem(work.path().toStdString());
  mgr.Access().Medium = kind == sim::MediumKind::kSmartMedia ? Slot::kSmartMedia : Slot::kCard;
  try {
    const bool healthy = mgr.Volume().Mount() && card::CheckFileSystem(mgr.Volume()).Healthy();
    mgr.DoneSystem();
    return healthy;
  } catch (const CardError&) {
    mgr.DoneSystem();
    return false;
  }
}

struct RigSetup {
  QString card;  // demo file name for the card slot, empty for none
  sim::MediumKind card_kind = sim::MediumKind::kPS2;
  QString smartmedia;  // demo file name for the SmartMedia slot
  bool generic_icon = true;
  QString settings;  // "PS2M.cfg" content to start with, when not empty
};

// The card slot and the SmartMedia slot holding copies of demo files.
inline RigSetup Cards(const QString& card, const QString& smartmedia = {},
                      sim::MediumKind kind = sim::MediumKind::kPS2) {
  RigSetup s;
  s.card = card;
  s.card_kind = kind;
  s.smartmedia = smartmedia;
  return s;
}

class GuiRig {
 public:
  // The window works in a temporary folder of its own, or in `folder`.
  explicit GuiRig(const RigSetup& setup, const QString& folder = {})
      : folder_(folder.isEmpty() ? dir.path() : folder) {
    if (!dir.isValid()) throw std::runtime_error("no temporary folder");
    if (setup.generic_icon) QFile::copy(DataFile("PS2ICO.bmp"), Work("PS2ICO.bmp"));
    for (const char* image : {"pcf4M.bin", "pcf8M.bin", "pcf16M.bin", "pcf32M.bin"})
      QFile::copy(DataFile(image), Work(image));
    if (!setup.settings.isEmpty()) WriteAll(Work("PS2M.cfg"), setup.settings.toUtf8());
    if (!setup.card.isEmpty()) {
      card_image = Insert(setup.card, "card-" + setup.card);
      session.adapter.InsertCard(sim::Medium::Open(card_image.toStdString(), setup.card_kind));
    }
    if (!setup.smartmedia.isEmpty()) {
      sm_image = Insert(setup.smartmedia, "sm-" + setup.smartmedia);
      session.adapter.InsertSmartMedia(
          sim::Medium::Open(sm_image.toStdString(), sim::MediumKind::kSmartMedia));
    }
    forms = std::make_unique<FormSet>(session.link, ui, folder_);
    // The tests step the animation themselves.
    w().Timer1->stop();
    w().Timer2->stop();
  }

  TForm1& w() { return *forms->Form1; }
  QString Work(const QString& name) const { return QDir(folder_).filePath(name); }
  QString Saver(const QString& name) const { return QDir(Work("savers")).filePath(name); }
  QStringList ListNames() const {
    QStringList out;
    for (int i = 0; i < forms->Form1->Savertableview->count(); ++i)
      out << forms->Form1->Savertableview->item(i)->text();
    return out;
  }
  int Row(const QString& name) const {
    return ListNames().indexOf(name);
  }
  // OPEN/CATALOG, choosing the device with that button of the device dialog.
  void Catalog(const QString& button) {
    ui.modals.push_back(Click(button));
    w().CatalogBtnClick();
  }
  void Select(const QString& name) { w().Savertableview->setCurrentRow(Row(name)); }

  QTemporaryDir dir;
  QString folder_;
  sim::LoopbackSession session;
  ScriptedUi ui;
  QString card_image;
  QString sm_image;
  std::unique_ptr<FormSet> forms;

  // A writable copy of a demo file in the working folder, by the name `copy`.
  QString Insert(const QString& demo, const QString& copy) {
    const QString path = Work(copy);
    if (!QFile::copy(DataFile(demo), path))
      throw std::runtime_error("missing demo file " + demo.toStdString());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
  }
};

}  // namespace travosk::testing
