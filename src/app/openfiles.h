// Files named on the program's command line, as a file manager passes them
// ("Open with TRAVOSK"): a card image opens in the window with its saves
// listed; a save file is offered for restoring onto a card the user chooses.
#pragma once

#include <QStringList>

namespace travosk {

class TForm1;
class UiServices;

// Handles each file in turn once the window is shown. A file that is neither
// a card image nor a save file is named in an error box, and nothing is
// written anywhere for it.
void OpenGivenFiles(TForm1& window, UiServices& ui, const QStringList& files);

}  // namespace travosk
