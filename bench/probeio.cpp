#include "probeio.h"

#include <QSocketNotifier>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void ProbeSay(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

TProbeCommands::TProbeCommands(std::function<void(const QByteArray&)> onCommand, std::function<void()> onEnd,
                               QObject* parent)
    : QObject(parent), fOnCommand(std::move(onCommand)), fOnEnd(std::move(onEnd)) {
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    fNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(fNotifier, &QSocketNotifier::activated, this, &TProbeCommands::Read);
}

void TProbeCommands::Read() {
    char buffer[4096];
    bool ended = false;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            fInput.append(buffer, n);
            continue;
        }
        if (n == 0) {
            fNotifier->setEnabled(false);
            ended = true;
        }
        break; // EAGAIN: all read for now
    }
    for (qsizetype end; (end = fInput.indexOf('\n')) >= 0;) {
        const QByteArray line = fInput.left(end).trimmed();
        fInput.remove(0, end + 1);
        if (!line.isEmpty()) fOnCommand(line);
    }
    if (ended && fOnEnd) fOnEnd();
}
