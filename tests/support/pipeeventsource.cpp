#include "pipeeventsource.h"

#include <QList>
#include <QString>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

TPipeEventSource::TPipeEventSource() {
    if (::pipe2(fFds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
}

TPipeEventSource::~TPipeEventSource() {
    ::close(fFds[0]);
    ::close(fFds[1]);
}

bool TPipeEventSource::Receive(TDeviceEvent& event) {
    QByteArray line;
    char c;
    while (::read(fFds[0], &c, 1) == 1 && c != '\n')
        line.append(c);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 4) return false;
    event = {QString::fromUtf8(parts[0]), QString::fromUtf8(parts[1]), QString::fromUtf8(parts[2]),
             QString::fromUtf8(parts[3])};
    return true;
}

void TPipeEventSource::Send(const QByteArray& line) const {
    const QByteArray text = line + '\n';
    if (::write(fFds[1], text.constData(), static_cast<size_t>(text.size())) != text.size())
        throw std::runtime_error("pipe write failed");
}
