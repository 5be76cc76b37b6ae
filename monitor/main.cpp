// brisemer: tests the serial links of a GPS receiver and an AIS transponder.
//
// The library modules start first, then Qt's French catalogue so the toolkit's own
// dialogs speak French, then the three windows in their order: the main window, the help
// window and the port settings dialog (both hidden). The program ends when the main
// window has closed. The link analysis and the continuous capture are added to the main
// window from outside it (linkanalysishost.h).
#include "VrLeds.h"
#include "handlerguard.h"
#include "helpform.h"
#include "linkanalysishost.h"
#include "mainform.h"
#include "nrcommthreads.h"
#include "nrmodules.h"
#include "nrsemaphore.h"
#include "nrsysutils.h"
#include "portsettingsform.h"
#include "settingsfile.h"
#include "toolkitfrench.h"

#include <QTranslator>

// Benchmark and soak builds of the same program add their instruments (bench/).
#ifdef BRISEMER_PROBE
#include "programprobe.h"
#endif
#ifdef BRISEMER_SOAK_PROBE
#include "soakprobe.h"
#endif

int main(int argc, char** argv) {
    TGuardedApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Brisemer"));
    app.setQuitOnLastWindowClosed(false);

    const TLibraryModules modules{nrcommModule, nrsysutilsModule, nrsemaphoreModule, VrLedsModule};

    QTranslator toolkitFrench;
    InstallToolkitFrench(toolkitFrench);

    const QString exe = QCoreApplication::applicationFilePath();
    TForm1 form1(SettingsFileLocationFor(exe));
    form1.SetSaveFolder(SaveFolderFor(exe));
    TForm2 form2;
    TForm3 form3(&form1);
    form1.SetHelpForm(&form2);
    form1.SetSettingsForm(&form3);
    // The link analysis window and the continuous capture; a child of the window.
    new TLinkAnalysisHost(form1);
#ifdef BRISEMER_PROBE
    TProgramProbe probe(form1, form3);
#endif
#ifdef BRISEMER_SOAK_PROBE
    TSoakProbe soakProbe(form1);
#endif
    QObject::connect(&form1, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    form1.show(); // runs the start-up
#ifdef BRISEMER_SOAK_PROBE
    soakProbe.Started();
#endif
    return app.exec();
}
