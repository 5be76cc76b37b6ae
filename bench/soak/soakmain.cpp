// brisemer-soak: the Brisemer program with the flood soak's instruments (soakprobe.h).
//
// It starts exactly as brisemer does - library modules, the toolkit's French catalogue,
// the main window, the help window and the port settings dialog, the settings file beside
// the executable - and attaches the probe to the main window before showing it. Only the
// soak driver (bench/soak/flood.py) runs it.
#include "VrLeds.h"
#include "handlerguard.h"
#include "helpform.h"
#include "mainform.h"
#include "nrcommthreads.h"
#include "nrmodules.h"
#include "nrsemaphore.h"
#include "nrsysutils.h"
#include "portsettingsform.h"
#include "settingsfile.h"
#include "soakprobe.h"
#include "toolkitfrench.h"

#include <QTranslator>

int main(int argc, char** argv) {
    TGuardedApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Brisemer"));
    app.setQuitOnLastWindowClosed(false);

    const TLibraryModules modules{nrcommModule, nrsysutilsModule, nrsemaphoreModule, VrLedsModule};

    QTranslator toolkitFrench;
    InstallToolkitFrench(toolkitFrench);

    TForm1 form1(SettingsFileNameFor(QCoreApplication::applicationFilePath()));
    TForm2 form2;
    TForm3 form3(&form1);
    form1.SetHelpForm(&form2);
    form1.SetSettingsForm(&form3);
    QObject::connect(&form1, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    TSoakProbe probe(form1);
    form1.show(); // runs the start-up
    probe.Started();
    return app.exec();
}
