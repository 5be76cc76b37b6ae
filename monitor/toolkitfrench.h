// The toolkit's French catalogue (Qt's "qt_fr"), so that the toolkit's own dialogs and
// buttons - the save dialog, its overwrite question, standard buttons - speak French, as
// the rest of the program does.
//
// Threads: user-interface thread, before the windows are created.
#pragma once

#include <QTranslator>

// Loads the catalogue into the translator and installs it in the application; false when
// the catalogue is not installed (the toolkit then stays in English).
bool InstallToolkitFrench(QTranslator& translator);
