// "Check and repair card": the check of the card whose list is shown, and,
// when it finds damage, the repair's plan offered before anything changes.
#include "app/mainwindow.h"
#include "app/texts.h"
#include "card/checker.h"
#include "card/repair.h"

namespace travosk {

namespace {

QString Lines(const std::vector<std::string>& lines) {
  QString text;
  for (const auto& line : lines) text += "\n" + QString::fromStdString(line);
  return text;
}

}  // namespace

void TForm1::CheckRepairClick() {
  Guarded([this] {
    if (RefuseUnlessPS2List()) return;
    SetOperationCaption("Check and repair card");
    auto& volume = Card().Volume();
    bool mounted = false, healthy = false;
    card::RepairPlan plan;
    StartBusy();
    CardWork([&] {
      mounted = volume.Mount();
      if (!mounted) return;
      healthy = card::CheckFileSystem(volume).Healthy();
      if (!healthy) plan = card::PlanRepair(volume);
    });
    StopBusy();
    std::vector<std::string> actions;
    for (const auto& a : plan.actions) actions.push_back(a.where + ": " + a.what);
    if (!mounted) {
      ui_.Information(texts::kCanNotConnect);
    } else if (healthy) {
      ui_.Information("No problems found on the card.");
    } else if (!plan.refusals.empty() || actions.empty()) {
      ui_.Information("The card has damage that cannot be repaired safely; nothing was changed." +
                      Lines(plan.refusals));
    } else if (ui_.Confirm("Repair the card?" + Lines(actions))) {
      ShowNotify("Repairing the card..");
      StartBusy();
      const bool ok = CardWork([&] {
        card::ApplyRepair(volume, plan);
        return volume.Mount() && card::CheckFileSystem(volume).Healthy();
      });
      (void)CardWork([&] { return Card().Catalog(); });
      FillSaveList();
      StopBusy();
      HideNotify();
      ui_.Information(ok ? "Repair complete." : "Repair Fail.");
    }
    RedetectAdapter();
    SetOperationCaption("");
  });
}

}  // namespace travosk
