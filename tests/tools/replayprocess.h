// Test helpers for the replay tool: TReplayProcess runs the real brisemer-replay
// executable and follows its standard output; TPortReader opens a port's device the way
// the serial library does and collects what arrives.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <map>

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

    int ExitCode() const { return fProcess.exitCode(); }
    bool ExitedNormally() const { return fProcess.exitStatus() == QProcess::NormalExit; }
    QString StdErr();
    const QStringList& Lines() const { return fLines; }
    // The current device of each port, from the "COMn=DEVICE" lines.
    const std::map<QString, QString>& Devices() const { return fDevices; }
    QString Device(const QString& port) const;
    // The "stats COMn ..." line's value for `key` (e.g. "bytes"), -1 when missing.
    long long Stat(const QString& port, const QString& key) const;

private:
    void TakeLine(const QString& line);

    QProcess fProcess;
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
