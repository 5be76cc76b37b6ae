#include "channelcapture.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool TChannelCapture::Open(const QString& path, bool stamped, QString* reason) {
    Close();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (reason) *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    fFd = fd;
    fStamped = stamped;
    fPath = path;
    fStamper = TCaptureStamper{};
    return true;
}

bool TChannelCapture::Write(const std::uint8_t* data, std::size_t size, std::int64_t utcMicros, QString* reason) {
    if (fFd < 0) return false;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (fStamped) {
        fStampedBytes.clear();
        fStamper.Stamp(data, size, utcMicros, fStampedBytes);
        bytes = fStampedBytes.data();
        size = fStampedBytes.size();
    }
    while (size > 0) {
        const ssize_t put = ::write(fFd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return Fail(errno, reason);
        // A short write: the rest is written again, and then fails with the reason.
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool TChannelCapture::StillThere(QString* reason) {
    if (fFd < 0) return false;
    struct stat st{};
    // A file whose folder was removed has lost its last name: writes would still succeed
    // into nowhere.
    if (::fstat(fFd, &st) != 0) return Fail(errno, reason);
    if (st.st_nlink == 0) return Fail(ENOENT, reason);
    return true;
}

bool TChannelCapture::Fail(int error, QString* reason) {
    if (reason) *reason = QString::fromLocal8Bit(std::strerror(error));
    Close();
    return false;
}

void TChannelCapture::Close() {
    if (fFd >= 0) ::close(fFd);
    fFd = -1;
}
