// TMiniEdForm: the modal window in which the bytes of a save are edited. The
// caller opens a file in HexEditor1, shows the window and reads SaveRequested
// afterwards; the window knows nothing of cards.
#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>

#include "hexedit/hexeditor.h"
#include "hexedit/hexeditor_prompts.h"
#include "hexedit/hextocanvas.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QPrinter;
class QStatusBar;

namespace travosk {

class TMiniEdForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 680;
  static constexpr int kClientHeight = 487;
  static constexpr int32_t kDefaultJumpAmount = 4000;

  // prompts may be null for the Qt dialogs; a given one must outlive the form.
  explicit TMiniEdForm(QWidget* parent = nullptr, THexPrompts* prompts = nullptr);
  ~TMiniEdForm() override;

  void SetPrompts(THexPrompts* prompts);
  // The file opened on the first activation; by default the program's first
  // command-line argument.
  void SetStartupFile(const QString& path) { startupFile_ = path; }
  QString StatusText(int panel) const;
  QPrinter& Printer();
  int LastPrintedPages() const { return lastPrintedPages_; }
  QImage PreviewImage();

  uint8_t SaveRequested = 0;
  int32_t JumpAmount = kDefaultJumpAmount;
  int PrintLayout = 0;  // 0 hex, 1 decimal, 2 octal

  THexEditor* HexEditor1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  THexToCanvas HexToCanvas1;
  QMenuBar* MainMenu1 = nullptr;

  QMenu* File1 = nullptr;
  QAction* New1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Save1 = nullptr;
  QMenu* Saveas1 = nullptr;
  QAction* Anyfile1 = nullptr;
  QAction* Hextext1 = nullptr;
  QAction* ImportfromHexText1 = nullptr;
  QMenu* Printlayout1 = nullptr;
  QAction* LayoutHex1 = nullptr;
  QAction* LayoutDecimal1 = nullptr;
  QAction* LayoutOctal1 = nullptr;
  QAction* Printpreview1 = nullptr;
  QAction* Printsetup1 = nullptr;
  QAction* Print1 = nullptr;
  QAction* Exit1 = nullptr;

  QMenu* Edit1 = nullptr;
  QAction* Undo1 = nullptr;
  QAction* Cut1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Paste1 = nullptr;
  QAction* PasteText1 = nullptr;
  QAction* Goto1 = nullptr;
  QMenu* Jump1 = nullptr;
  QAction* Amount1 = nullptr;
  QAction* Jumpforward1 = nullptr;
  QAction* Jumpbackward1 = nullptr;
  QAction* Find1 = nullptr;
  QAction* FindNext1 = nullptr;

  QMenu* View1 = nullptr;
  std::array<QAction*, 3> LineSize{};     // 16, 32, 64 bytes per line
  std::array<QAction*, 3> ColumnWidth{};  // 1, 2, 4 bytes per column
  std::array<QAction*, 3> CaretStyles{};  // full block, left line, bottom line
  QAction* CaretAuto1 = nullptr;
  std::array<QAction*, 4> OffsetDisplays{};  // hex, dec, octal, none
  QMenu* Translation1 = nullptr;
  std::array<QAction*, 5> Translations{};
  QAction* Grid1 = nullptr;
  QAction* Showmarkers1 = nullptr;
  QAction* SwapNibbles1 = nullptr;
  QAction* MaskWhitespaces1 = nullptr;
  QAction* FixedFileSize1 = nullptr;

 public slots:
  void New1Click();
  void Open1Click();
  void Save1Click();
  void Anyfile1Click();
  void Hextext1Click();
  void ImportfromHexText1Click();
  void Printpreview1Click();
  void Printsetup1Click();
  void Print1Click();
  void Exit1Click();
  void Undo1Click();
  void Cut1Click();
  void Copy1Click();
  void Paste1Click();
  void PasteText1Click();
  void Goto1Click();
  void Amount1Click();
  void Jumpforward1Click();
  void Jumpbackward1Click();
  void Find1Click();
  void FindNext1Click();
  void File1Popup();
  void Edit1Popup();
  void View1Popup();
  void HexEditor1StateChanged();
  void FormActivate();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildViewMenu();
  void BuildStatusBar();
  // Saves under the file's own name (or a chosen one); true when written.
  bool SaveDocument();
  bool SaveTo(const QString& name);
  void CannotSave(const QString& name);
  bool CanClose();
  void FindFrom(int64_t first);
  void PaintPages(QPainter& painter, bool onePage);
  void UpdateMenuStates();

  std::unique_ptr<THexPrompts> ownPrompts_;
  THexPrompts* prompts_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
  std::array<QLabel*, 6> panels_{};
  QString startupFile_;
  bool activated_ = false;
  int lastPrintedPages_ = 0;

  QString findText_;
  QByteArray findPattern_;
  bool findIgnoreCase_ = false;
  int64_t findPos_ = -1;
};

// A goto box's number: "0x"/"$" prefixed hex, else decimal; -1 when no number.
int64_t ParsePosition(const QString& text);

}  // namespace travosk
