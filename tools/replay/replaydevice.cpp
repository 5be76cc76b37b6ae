#include "replaydevice.h"

#include "replayerror.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool SpeedConstant(unsigned baud, speed_t& speed) {
    static const struct {
        unsigned Baud;
        speed_t Speed;
    } kSpeeds[] = {{50, B50},         {75, B75},         {110, B110},        {134, B134},
                   {150, B150},       {200, B200},       {300, B300},        {600, B600},
                   {1200, B1200},     {1800, B1800},     {2400, B2400},      {4800, B4800},
                   {9600, B9600},     {19200, B19200},   {38400, B38400},    {57600, B57600},
                   {115200, B115200}, {230400, B230400}, {460800, B460800},  {500000, B500000},
                   {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
    for (const auto& entry : kSpeeds) {
        if (entry.Baud == baud) {
            speed = entry.Speed;
            return true;
        }
    }
    return false;
}

} // namespace

TReplayDevice::TReplayDevice(std::string portName, std::string path, int fd)
    : fPortName(std::move(portName)), fPath(std::move(path)), fFd(fd) {}

TReplayDevice::~TReplayDevice() {
    TReplayDevice::Close();
}

std::string TReplayDevice::Label() const {
    return fPortName + " (" + fPath + ")";
}

size_t TReplayDevice::Write(const char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::write(fFd, data, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        ThrowSystemError(Label() + ": cannot write");
    }
}

void TReplayDevice::DiscardInput() {
    char buffer[4096];
    while (fFd >= 0 && ::read(fFd, buffer, sizeof buffer) > 0) {
    }
}

void TReplayDevice::Close() {
    if (fFd >= 0) {
        ::close(fFd);
        fFd = -1;
    }
}

TPtyDevice::TPtyDevice(std::string portName, std::string path, int master, int slave)
    : TReplayDevice(std::move(portName), std::move(path), master), fSlave(slave) {}

TPtyDevice::~TPtyDevice() {
    TPtyDevice::Close();
}

std::unique_ptr<TPtyDevice> TPtyDevice::Create(const std::string& portName) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) ThrowSystemError(portName + ": cannot create a pseudo-terminal");
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const int error = errno;
        ::close(master);
        throw TReplayError(SystemMessage(portName + ": cannot set up a pseudo-terminal", error));
    }
    // Raw line discipline on the slave side (set through the master): without it the
    // kernel would turn CR into LF and echo everything before the reader sets its own
    // line settings.
    termios settings{};
    if (::tcgetattr(master, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(master, TCSANOW, &settings);
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        const int error = errno;
        ::close(master);
        throw TReplayError(SystemMessage(portName + ": cannot open " + name, error));
    }
    return std::unique_ptr<TPtyDevice>(new TPtyDevice(portName, name, master, slave));
}

size_t TPtyDevice::Unread() const {
    int queued = 0;
    if (fSlave < 0 || ::ioctl(fSlave, FIONREAD, &queued) != 0 || queued < 0) return 0;
    return static_cast<size_t>(queued);
}

void TPtyDevice::Close() {
    TReplayDevice::Close(); // the master first: that is what hangs the readers up
    if (fSlave >= 0) {
        ::close(fSlave);
        fSlave = -1;
    }
}

std::unique_ptr<TTtyDevice> TTtyDevice::Open(const std::string& portName, const std::string& path,
                                             const TLineFormat& format, unsigned baud) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) ThrowSystemError(portName + ": cannot open " + path);
    std::unique_ptr<TTtyDevice> device(new TTtyDevice(portName, path, fd));
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        ThrowSystemError(portName + ": " + path + " is not a usable terminal");
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag |= kSizes[format.DataBits() - 5] | CLOCAL | CREAD;
    switch (format.Parity()) {
    case TLineFormat::pNone:
        break;
    case TLineFormat::pOdd:
        settings.c_cflag |= PARENB | PARODD;
        break;
    case TLineFormat::pEven:
        settings.c_cflag |= PARENB;
        break;
    case TLineFormat::pMark:
        settings.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TLineFormat::pSpace:
        settings.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (format.StopHalfBits() > 2)
        settings.c_cflag |= CSTOPB; // with 5 data bits the UART makes this 1.5 stop bits
    speed_t speed{};
    if (SpeedConstant(baud, speed)) {
        ::cfsetispeed(&settings, speed);
        ::cfsetospeed(&settings, speed);
    } else {
        device->fWarning = portName + ": " + path + " keeps its baud rate; " + std::to_string(baud) +
                           " has no standard speed constant (the replay is paced at it all the same)";
    }
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        ThrowSystemError(portName + ": cannot set the line settings of " + path);
    return device;
}

size_t TTtyDevice::Unread() const {
    int queued = 0;
    if (fFd < 0 || ::ioctl(fFd, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<size_t>(queued);
}
