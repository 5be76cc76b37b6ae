#include "ptypair.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

TPtyPair::TPtyPair() {
    fMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fMaster < 0 || grantpt(fMaster) != 0 || unlockpt(fMaster) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    char name[128];
    if (ptsname_r(fMaster, name, sizeof name) != 0)
        throw std::runtime_error("ptsname failed");
    fSlavePath = QString::fromLocal8Bit(name);
    // Raw master: the bytes a test writes reach the port unchanged.
    termios t{};
    tcgetattr(fMaster, &t);
    cfmakeraw(&t);
    tcsetattr(fMaster, TCSANOW, &t);
}

TPtyPair::~TPtyPair() { CloseMaster(); }

void TPtyPair::Write(const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fMaster, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd pfd{fMaster, POLLOUT, 0};
                poll(&pfd, 1, 100);
                continue;
            }
            throw std::runtime_error("write to pseudo-terminal failed");
        }
        p += n;
        left -= n;
    }
}

QByteArray TPtyPair::Read(int count, std::chrono::milliseconds timeout) {
    QByteArray out;
    QDeadlineTimer deadline(timeout);
    while (out.size() < count && !deadline.hasExpired()) {
        pollfd pfd{fMaster, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(fMaster, buf, std::min<size_t>(sizeof buf, static_cast<size_t>(count - out.size())));
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

void TPtyPair::CloseMaster() {
    if (fMaster >= 0) {
        ::close(fMaster);
        fMaster = -1;
    }
}
