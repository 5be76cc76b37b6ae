#include "replayprocess.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cstring>
#include <spawn.h>
#include <vector>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

extern char** environ;

TReplayProcess::TReplayProcess() = default;

TReplayProcess::~TReplayProcess() {
    if (fPid > 0) {
        ::kill(fPid, SIGKILL);
        Reap(5000);
    }
    if (fOut >= 0) ::close(fOut);
    if (fErr >= 0) ::close(fErr);
}

bool TReplayProcess::Start(const QStringList& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    const QByteArray program = ReplayExecutable().toLocal8Bit();
    // A test that crashes must not leave a replay looping forever.
    std::vector<QByteArray> words{program, "--with-parent"};
    for (const QString& a : args) words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    const int rc = posix_spawn(&fPid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    fOut = out[0];
    fErr = err[0];
    ::fcntl(fOut, F_SETFL, O_NONBLOCK);
    ::fcntl(fErr, F_SETFL, O_NONBLOCK);
    if (rc != 0) {
        fPid = -1;
        fStdErr = QByteArray("cannot start ") + program + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

void TReplayProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{fOut, POLLIN, 0}, {fErr, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) return;
    const std::pair<int*, QByteArray*> streams[] = {{&fOut, &fStdOut}, {&fErr, &fStdErr}};
    for (const auto& [fd, into] : streams) {
        if (*fd < 0) continue;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(*fd, buffer, sizeof buffer);
            if (n > 0) {
                into->append(buffer, n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) { // the tool closed its end
                ::close(*fd);
                *fd = -1;
            }
            break;
        }
    }
}

bool TReplayProcess::TakeBufferedLine(QString& line) {
    const auto end = fStdOut.indexOf('\n');
    if (end < 0) return false;
    line = QString::fromUtf8(fStdOut.left(end)).trimmed();
    fStdOut.remove(0, end + 1);
    return true;
}

bool TReplayProcess::Reap(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (fPid > 0) {
        const pid_t r = ::waitpid(fPid, &fStatus, WNOHANG);
        if (r == fPid || (r < 0 && errno != EINTR)) {
            fPid = -1;
            break;
        }
        if (deadline.hasExpired()) return false;
        ::usleep(2000);
    }
    return true;
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
    bool looked = false; // a zero timeout still takes what the pipe already holds
    for (;;) {
        QString line;
        while (TakeBufferedLine(line)) {
            TakeLine(line);
            if (match(line)) return true;
        }
        // Standard output closed and nothing left: the tool has ended.
        if (fOut < 0 || (looked && deadline.hasExpired())) return false;
        Pump(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, 100)));
        looked = true;
    }
}

void TReplayProcess::Signal(int signal) {
    if (fPid > 0) ::kill(fPid, signal);
}

bool TReplayProcess::WaitForExit(std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (fOut >= 0 || fErr >= 0) {
        if (deadline.hasExpired()) return false;
        Pump(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 100)));
    }
    if (!Reap(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())))) return false;
    QString line;
    while (TakeBufferedLine(line)) TakeLine(line);
    const QByteArray rest = fStdOut.trimmed();
    fStdOut.clear();
    if (!rest.isEmpty()) TakeLine(QString::fromUtf8(rest));
    return true;
}

QString TReplayProcess::StdErr() {
    Pump(0);
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
