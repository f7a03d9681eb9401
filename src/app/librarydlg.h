// The window's view of a folder of cards as one library: every card under
// the folder with its saves, grouped by card, by game or as one list, and a
// filter box that searches names, product codes and titles. The listing is
// the core's (library/library.h); this only shows it.
#pragma once

#include <QDialog>
#include <QIcon>

#include <map>
#include <vector>

#include "library/library.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace travosk {

class LibraryDialog : public QDialog {
 public:
  // Lists the folder at once (through the library's index in the cache
  // folder); a folder that cannot be listed shows why.
  LibraryDialog(const QString& folder, const QString& work_folder, QWidget* parent = nullptr);

  QTreeWidget* Tree() const { return tree_; }
  QLineEdit* Filter() const { return filter_; }
  QComboBox* Grouping() const { return grouping_; }
  QLabel* Summary() const { return summary_; }

 private:
  void Fill();
  // Gives the save rows in view the icons of their cards, reading one card
  // each time round; then comes back for the next while rows in view lack
  // them (the listing itself reads no icon).
  void ShowIcons();
  void ScheduleIcons();
  library::Library library_;
  std::string work_folder_;
  std::map<size_t, std::vector<QIcon>> icons_;  // by card, one per save
  bool icons_scheduled_ = false;
  QLabel* summary_;
  QComboBox* grouping_;
  QLineEdit* filter_;
  QTreeWidget* tree_;
};

// "Open folder of cards…": asks for a folder and shows its library.
void OpenFolderOfCards(QWidget* parent, const QString& work_folder);

}  // namespace travosk
