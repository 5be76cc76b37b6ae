// TBrisemerProgram: the whole program, for main() to run.
//
// The library modules start first, then Qt's French catalogue so the toolkit's own
// dialogs speak French, then the three windows in their order: the main window, the help
// window and the port settings dialog (both hidden). The link analysis and the
// continuous capture are added to the main window from outside it (linkanalysishost.h).
// Run() shows the main window, which runs the start-up, and returns when the main window
// has closed.
//
// Builds of the program that carry instruments (bench/) have their own main(): they make
// the program, attach to its windows from outside and then run it.
//
// Threads: user-interface thread only.
#pragma once

#include <functional>
#include <memory>

class QApplication;
class QTranslator;
class TForm1;
class TForm2;
class TForm3;
class TLibraryModules;

class TBrisemerProgram {
public:
    // argc and argv are main's: the application object keeps referring to them.
    TBrisemerProgram(int& argc, char** argv);
    ~TBrisemerProgram();
    TBrisemerProgram(const TBrisemerProgram&) = delete;
    TBrisemerProgram& operator=(const TBrisemerProgram&) = delete;

    TForm1& MainForm() { return *fForm1; }
    TForm3& SettingsForm() { return *fForm3; }

    // Shows the main window, calls afterShow (if any) and runs the event loop.
    int Run(const std::function<void()>& afterShow = {});

private:
    std::unique_ptr<QApplication> fApp;
    std::unique_ptr<TLibraryModules> fModules;
    std::unique_ptr<QTranslator> fToolkitFrench;
    std::unique_ptr<TForm1> fForm1;
    std::unique_ptr<TForm2> fForm2;
    std::unique_ptr<TForm3> fForm3;
};
