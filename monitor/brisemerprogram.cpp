#include "brisemerprogram.h"

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

TBrisemerProgram::TBrisemerProgram(int& argc, char** argv) {
    fApp = std::make_unique<TGuardedApplication>(argc, argv);
    fApp->setApplicationName(QStringLiteral("Brisemer"));
    fApp->setQuitOnLastWindowClosed(false);

    fModules = std::make_unique<TLibraryModules>(
        std::initializer_list<TLibraryModule>{nrcommModule, nrsysutilsModule, nrsemaphoreModule, VrLedsModule});

    fToolkitFrench = std::make_unique<QTranslator>();
    InstallToolkitFrench(*fToolkitFrench);

    const QString exe = QCoreApplication::applicationFilePath();
    fForm1 = std::make_unique<TForm1>(SettingsFileLocationFor(exe));
    fForm1->SetSaveFolder(SaveFolderFor(exe));
    fForm2 = std::make_unique<TForm2>();
    fForm3 = std::make_unique<TForm3>(fForm1.get());
    fForm1->SetHelpForm(fForm2.get());
    fForm1->SetSettingsForm(fForm3.get());
    // The link analysis window and the continuous capture; a child of the window.
    new TLinkAnalysisHost(*fForm1);
}

// In the reverse order of their making: the windows before the catalogue and the modules
// they use, all before the application object.
TBrisemerProgram::~TBrisemerProgram() {
    fForm3.reset();
    fForm2.reset();
    fForm1.reset();
    fToolkitFrench.reset();
    fModules.reset();
    fApp.reset();
}

int TBrisemerProgram::Run(const std::function<void()>& afterShow) {
    QObject::connect(fForm1.get(), &TForm1::Closed, fApp.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    fForm1->show(); // runs the start-up
    if (afterShow) afterShow();
    return fApp->exec();
}
