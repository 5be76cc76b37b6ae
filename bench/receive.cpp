// Benchmark of the receive path of the serial port component, on pseudo-terminals:
//
//   flood     a writer thread fills the master side as fast as the kernel takes it; the
//             figure is the bytes per second that reach OnAfterReceive on the
//             user-interface thread (and, for comparison, on the message thread).
//   paced     NMEA-sized lines at the pace of a 38400-baud line; the figure is the time
//             from the write of a line's last byte to the OnAfterReceive call that
//             delivers it (median, 99th percentile, maximum), and the process CPU time.
//   idle      an open port with no traffic; the process CPU time over the period.
//
// Usage: bench_receive [flood seconds] [paced lines] [idle seconds]
// It never touches a real serial port: the ports it opens are pseudo-terminals it maps
// in a private serial-port map.

#include "benchkit.h"
#include "nrcomm.h"
#include "platform/nrportmap.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

void MapPort(const QString& configHome, int number, const QString& path) {
    QDir().mkpath(configHome + QStringLiteral("/serialcomm"));
    QFile map(configHome + QStringLiteral("/serialcomm/ports"));
    if (!map.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the port map");
    map.write(QStringLiteral("COM%1 = %2\n").arg(number).arg(path).toUtf8());
}

// Runs the event loop, as the application does, until done() holds or the limit passes;
// done() is looked at every `check` milliseconds.
void RunEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, int check = 5) {
    QDeadlineTimer deadline(limit);
    QEventLoop loop;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired()) loop.quit();
    });
    timer.start(check);
    if (!done()) loop.exec();
}

// --- flood ---

void Flood(const QString& configHome, double seconds, bool useMainThread) {
    TPty pty;
    MapPort(configHome, 250, pty.Slave());
    TnrComm com;
    com.SetComPortNo(250);
    com.SetBaudRate(115200);
    com.SetUseMainThread(useMainThread);
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint32_t> largest{0};
    std::atomic<std::uint64_t> calls{0};
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t n) {
        received.fetch_add(n, std::memory_order_relaxed);
        calls.fetch_add(1, std::memory_order_relaxed);
        if (n > largest.load(std::memory_order_relaxed)) largest.store(n, std::memory_order_relaxed);
    };
    com.SetActive(true);

    std::vector<char> block(64 * 1024);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 31 + 7);
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> written{0};
    const auto start = TClock::now();
    const double cpuStart = CpuSeconds();
    std::thread writer([&] {
        while (!stop && pty.WriteAll(block.data(), block.size(), stop, &written)) {
        }
    });
    RunEventLoopUntil([&] { return TClock::now() - start > std::chrono::duration<double>(seconds); },
                      std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 1000));
    stop = true;
    writer.join();
    // Deliver what is still on its way, then take the time.
    RunEventLoopUntil([&] { return received.load() >= written.load(); }, std::chrono::seconds(10));
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    com.SetActive(false);

    const double mb = received.load() / 1e6;
    std::printf(
        "flood (%s): %.1f MB in %.2f s = %.1f MB/s, %llu chunks of at most %u bytes, %s, CPU %.0f%%\n",
        useMainThread ? "user-interface thread" : "message thread", mb, elapsed, mb / elapsed,
        static_cast<unsigned long long>(calls.load()), largest.load(),
        received.load() == written.load() ? "complete" : "INCOMPLETE", 100.0 * cpu / elapsed);
}

// --- paced 38400-baud lines ---

void Paced(const QString& configHome, int lines) {
    TPty pty;
    MapPort(configHome, 251, pty.Slave());
    TnrComm com;
    com.SetComPortNo(251);
    com.SetBaudRate(38400);

    // One AIS sentence, as an AIS transponder sends it.
    const QByteArray sentence = "!AIVDM,1,1,,A,15MgK45P3@G?fl0E`JbR0OwT0@MS,0*4E\r\n";
    const std::uint64_t lineSize = sentence.size();
    // 10 bits a byte on the wire: start, 8 data, stop.
    const auto linePeriod = std::chrono::nanoseconds(static_cast<long long>(lineSize * 10 * 1e9 / 38400));

    std::vector<TClock::time_point> sentAt(static_cast<size_t>(lines));
    std::vector<double> latency;
    latency.reserve(static_cast<size_t>(lines));
    std::atomic<int> sentCount{0};
    std::uint64_t received = 0;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t n) {
        const auto now = TClock::now();
        const std::uint64_t before = received;
        received += n;
        // Every line whose last byte is in this chunk is delivered now.
        for (std::uint64_t end = (before / lineSize + 1) * lineSize; end <= received; end += lineSize) {
            const size_t line = static_cast<size_t>(end / lineSize - 1);
            if (line < sentAt.size() && static_cast<int>(line) < sentCount.load(std::memory_order_acquire))
                latency.push_back(std::chrono::duration<double, std::micro>(now - sentAt[line]).count());
        }
    };
    com.SetActive(true);

    std::atomic<bool> stop{false};
    const double cpuStart = CpuSeconds();
    const auto start = TClock::now();
    std::thread writer([&] {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < lines && !stop; ++i) {
            // At the pace of the line: the next sentence starts when the last one is out.
            next.tv_nsec += linePeriod.count();
            while (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            sentAt[static_cast<size_t>(i)] = TClock::now();
            sentCount.store(i + 1, std::memory_order_release);
            pty.WriteAll(sentence.constData(), static_cast<size_t>(sentence.size()), stop);
        }
    });
    RunEventLoopUntil([&] { return received >= lineSize * static_cast<std::uint64_t>(lines); },
                      std::chrono::milliseconds(static_cast<long long>(lines) * 40 + 5000));
    stop = true;
    writer.join();
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    com.SetActive(false);

    if (latency.empty()) {
        std::printf("paced 38400 baud: nothing received\n");
        return;
    }
    std::sort(latency.begin(), latency.end());
    const auto at = [&](double q) {
        return latency[std::min(latency.size() - 1, static_cast<size_t>(q * latency.size()))];
    };
    std::printf("paced 38400 baud: %zu lines of %llu bytes in %.1f s; write-to-OnAfterReceive latency median "
                "%.0f us, "
                "99th percentile %.0f us, max %.0f us; process CPU %.2f s (%.1f%%)\n",
                latency.size(), static_cast<unsigned long long>(lineSize), elapsed, at(0.5), at(0.99),
                latency.back(), cpu, 100.0 * cpu / elapsed);
}

// --- idle ---

void Idle(const QString& configHome, double seconds) {
    TPty pty;
    MapPort(configHome, 252, pty.Slave());
    TnrComm com;
    com.SetComPortNo(252);
    int calls = 0;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t*, std::uint32_t) { ++calls; };
    com.SetActive(true);
    const double cpuStart = CpuSeconds();
    const auto start = TClock::now();
    // The event loop waits too, as the application's does.
    RunEventLoopUntil([&] { return TClock::now() - start > std::chrono::duration<double>(seconds); },
                      std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 1000), 250);
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    com.SetActive(false);
    std::printf("idle open port: %.1f s, process CPU %.4f s (%.2f%%)\n", elapsed, cpu, 100.0 * cpu / elapsed);
}

} // namespace

int main(int argc, char** argv) {
    const double floodSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int pacedLines = argc > 2 ? std::atoi(argv[2]) : 1000;
    const double idleSeconds = argc > 3 ? std::atof(argv[3]) : 3.0;

    // A private configuration home: the map written here is the only one the ports see.
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    const QString configHome = home.path() + QStringLiteral("/config");
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Only the ports mapped here exist for this process: no system map, no hardware.
    TnrPortMapSources sources = SerialPortMapSources();
    sources.SystemMapFile = home.filePath(QStringLiteral("no-system-map"));
    sources.SysfsRoot = home.filePath(QStringLiteral("empty-sysfs"));
    SetSerialPortMapSources(sources);
    QApplication app(argc, argv);

    try {
        Flood(configHome, floodSeconds, true);
        Flood(configHome, floodSeconds, false);
        Paced(configHome, pacedLines);
        Idle(configHome, idleSeconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_receive: %s\n", e.what());
        return 1;
    }
    return 0;
}
