// The window's view of a folder of cards as one library: every card under
// the folder with its saves, grouped by card, by game or as one list, and a
// filter box that searches names, product codes and titles. The listing is
// the core's (library/library.h); this only shows it.
#pragma once

#include <QDialog>

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
  library::Library library_;
  QLabel* summary_;
  QComboBox* grouping_;
  QLineEdit* filter_;
  QTreeWidget* tree_;
};

// "Open folder of cards…": asks for a folder and shows its library.
void OpenFolderOfCards(QWidget* parent, const QString& work_folder);

}  // namespace travosk
