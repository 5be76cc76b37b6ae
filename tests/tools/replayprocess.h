// Test helpers for the replay tool: TReplayProcess runs the real brisemer-replay
// executable and follows its standard output (started with posix_spawn: Qt's process
// start runs the child in the parent's memory until it execs, which ThreadSanitizer
// cannot follow; the parent's locking is invisible to the checker afterwards); TPortReader opens a port's device the way
// the serial library does and collects what arrives.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <map>
#include <sys/types.h>
#include <sys/wait.h>

class TReplayProcess {
public:
    TReplayProcess();
    ~TReplayProcess();

    // Starts the tool with these arguments; false if it could not be started.
    bool Start(const QStringList& args);
    // Reads standard output lines until `wanted` arrives (true) or the timeout passes or
    // the tool ends (false). Every line read is kept in Lines(); "COMn=DEVICE" lines
    // update Devices().
    bool WaitForLine(const QString& wanted, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return WaitFor([&](const QString& line) { return line == wanted; }, timeout);
    }
    // The same for the first line that satisfies `match`.
    bool WaitFor(const std::function<bool(const QString&)>& match,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool WaitForReady() { return WaitForLine(QStringLiteral("ready")); }
    void Signal(int signal);
    // Waits for the tool to end; false on timeout.
    bool WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    int ExitCode() const { return WIFEXITED(fStatus) ? WEXITSTATUS(fStatus) : -1; }
    bool ExitedNormally() const { return fPid < 0 && WIFEXITED(fStatus); }
    QString StdErr();
    const QStringList& Lines() const { return fLines; }
    // The current device of each port, from the "COMn=DEVICE" lines.
    const std::map<QString, QString>& Devices() const { return fDevices; }
    QString Device(const QString& port) const;
    // The "stats COMn ..." line's value for `key` (e.g. "bytes"), -1 when missing.
    long long Stat(const QString& port, const QString& key) const;

private:
    void TakeLine(const QString& line);
    // Moves what the pipes hold into the buffers; waits up to `timeout` for something.
    void Pump(int timeoutMs);
    bool TakeBufferedLine(QString& line);
    // Reaps the child if it has ended (waiting up to `timeoutMs`); true once it has.
    bool Reap(int timeoutMs);

    pid_t fPid = -1;
    int fStatus = 0;
    int fOut = -1;
    int fErr = -1;
    QByteArray fStdOut;
    QStringList fLines;
    std::map<QString, QString> fDevices;
    QByteArray fStdErr;
};

class TPortReader {
public:
    explicit TPortReader(const QString& device);
    ~TPortReader();
    TPortReader(const TPortReader&) = delete;
    TPortReader& operator=(const TPortReader&) = delete;

    bool IsOpen() const { return fFd >= 0; }
    // Reads until `done(received)` holds, the line hangs up or the timeout passes;
    // returns done's verdict at the end.
    bool ReadUntil(const std::function<bool(const QByteArray&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool ReadBytes(qsizetype count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return ReadUntil([count](const QByteArray& data) { return data.size() >= count; }, timeout);
    }
    // Reads until the device hangs up (true) or the timeout passes (false).
    bool ReadToHangup(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    const QByteArray& Received() const { return fReceived; }
    bool HungUp() const { return fHungUp; }

private:
    int fFd = -1;
    QByteArray fReceived;
    bool fHungUp = false;
};

// Path of the executable under test and of the project's NMEA recordings.
QString ReplayExecutable();
QString NmeaDataFolder();
