// What the benchmark programs share: the process's CPU time and a pseudo-terminal whose
// master side the benchmark writes as the far end of a serial line.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

// User and system CPU seconds of this process so far.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class TPty {
public:
    TPty() {
        fMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fMaster < 0 || grantpt(fMaster) != 0 || unlockpt(fMaster) != 0)
            throw std::runtime_error("cannot create a pseudo-terminal");
        char name[128];
        if (ptsname_r(fMaster, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
        fSlave = QString::fromLocal8Bit(name);
    }
    ~TPty() { ::close(fMaster); }
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    int Master() const { return fMaster; }
    QString Slave() const { return fSlave; }

    // Writes everything, waiting for room; false when the writing should stop. Adds the
    // bytes the kernel took to `written`.
    bool WriteAll(const char* data, size_t size, const std::atomic<bool>& stop,
                  std::atomic<std::uint64_t>* written = nullptr) {
        while (size > 0 && !stop) {
            const ssize_t n = ::write(fMaster, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<size_t>(n);
                if (written) written->fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fMaster, POLLOUT, 0};
                ::poll(&p, 1, 20);
            } else {
                return false;
            }
        }
        return size == 0;
    }

    // Writes the data over and over until stop; counts what the kernel took.
    void Flood(const QByteArray& data, const std::atomic<bool>& stop, std::atomic<std::uint64_t>& written) {
        while (!stop && WriteAll(data.constData(), static_cast<size_t>(data.size()), stop, &written)) {
        }
    }

private:
    int fMaster = -1;
    QString fSlave;
};
