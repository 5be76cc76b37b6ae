#include "replayprocess.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TReplayProcess::TReplayProcess() {
    fProcess.setProcessChannelMode(QProcess::SeparateChannels);
}

TReplayProcess::~TReplayProcess() {
    if (fProcess.state() != QProcess::NotRunning) {
        fProcess.kill();
        fProcess.waitForFinished(5000);
    }
}

bool TReplayProcess::Start(const QStringList& args) {
    fProcess.start(ReplayExecutable(), args);
    return fProcess.waitForStarted(5000);
}

void TReplayProcess::TakeLine(const QString& line) {
    fLines << line;
    const auto equals = line.indexOf('=');
    if (line.startsWith(QStringLiteral("COM")) && equals > 0 && !line.contains(' '))
        fDevices[line.left(equals)] = line.mid(equals + 1);
}

bool TReplayProcess::WaitFor(const std::function<bool(const QString&)>& match,
                             std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    for (;;) {
        while (fProcess.canReadLine()) {
            const QString line = QString::fromUtf8(fProcess.readLine()).trimmed();
            TakeLine(line);
            if (match(line)) return true;
        }
        if (deadline.hasExpired()) return false;
        if (!fProcess.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) &&
            fProcess.state() == QProcess::NotRunning && !fProcess.canReadLine())
            return false;
    }
}

void TReplayProcess::Signal(int signal) {
    ::kill(static_cast<pid_t>(fProcess.processId()), signal);
}

bool TReplayProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (fProcess.state() != QProcess::NotRunning &&
        !fProcess.waitForFinished(static_cast<int>(timeout.count())))
        return false;
    while (fProcess.canReadLine())
        TakeLine(QString::fromUtf8(fProcess.readLine()).trimmed());
    const QByteArray rest = fProcess.readAllStandardOutput().trimmed();
    if (!rest.isEmpty()) TakeLine(QString::fromUtf8(rest));
    return true;
}

QString TReplayProcess::StdErr() {
    fStdErr += fProcess.readAllStandardError();
    return QString::fromUtf8(fStdErr);
}

QString TReplayProcess::Device(const QString& port) const {
    const auto found = fDevices.find(port);
    return found == fDevices.end() ? QString() : found->second;
}

long long TReplayProcess::Stat(const QString& port, const QString& key) const {
    for (const QString& line : fLines) {
        const QStringList words = line.split(' ');
        if (words.size() < 2 || words[0] != QStringLiteral("stats") || words[1] != port) continue;
        for (const QString& word : words)
            if (word.startsWith(key + '=')) return word.mid(key.size() + 1).toLongLong();
    }
    return -1;
}

TPortReader::TPortReader(const QString& device) {
    fFd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

TPortReader::~TPortReader() {
    if (fFd >= 0) ::close(fFd);
}

bool TPortReader::ReadUntil(const std::function<bool(const QByteArray&)>& done,
                            std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (fFd >= 0 && !fHungUp && !done(fReceived) && !deadline.hasExpired()) {
        pollfd pfd{fFd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) <= 0) continue;
        char buffer[8192];
        const ssize_t n = ::read(fFd, buffer, sizeof buffer);
        if (n > 0) {
            fReceived.append(buffer, n);
        } else if (n == 0 || errno != EAGAIN) {
            // A pseudo-terminal whose master closed reads as end of file or EIO.
            fHungUp = true;
        } else if (pfd.revents & (POLLHUP | POLLERR)) {
            fHungUp = true;
        }
    }
    return done(fReceived);
}

bool TPortReader::ReadToHangup(std::chrono::milliseconds timeout) {
    ReadUntil([](const QByteArray&) { return false; }, timeout);
    return fHungUp;
}

QString ReplayExecutable() {
    return QStringLiteral(BRISEMER_REPLAY_EXE);
}

QString NmeaDataFolder() {
    return QStringLiteral(BRISEMER_NMEA_DATA);
}
