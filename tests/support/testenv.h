// Helpers shared by the tests: a private configuration home, map-file entries, and
// waiting for a condition while the Qt event loop runs.
#pragma once

#include <QString>
#include <chrono>
#include <functional>

class TTestEnvironment {
public:
    // Called once by the test main before QApplication exists: points HOME and
    // XDG_CONFIG_HOME at a fresh temporary folder.
    static void PrepareProcess();
    // The private configuration folder ($XDG_CONFIG_HOME).
    static QString ConfigHome();
    // The user's serial-port map file inside it.
    static QString PortMapFile();
    // Writes the user map file with exactly these lines ("COMn = /dev/pts/N").
    static void WritePortMap(const QStringList& lines);
};

// Runs the event loop until pred() holds or the timeout passes; returns pred().
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Runs the event loop for a while (only where a test must show that nothing happens).
void ProcessEventsFor(std::chrono::milliseconds duration);
