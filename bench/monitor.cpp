// Benchmark of the main window under load: both channels receive recorded NMEA and AIS
// sentences as fast as two pseudo-terminals carry them, while the window runs its
// 2000 ms status refresh.
//
// Figures: lines and megabytes per second shown per channel, the process CPU time, and
// the intervals between status refreshes (each should stay within a few tens of
// milliseconds of 2000 ms: the window stays responsive during the flood).
//
// Usage: bench_monitor [recordings folder] [seconds]
// The ports are pseudo-terminals mapped as COM201 and COM202 in a private serial-port
// map; the settings file is a private temporary one. No real serial port is touched.
#include "benchkit.h"
#include "mainform.h"
#include "memopane.h"
#include "nrportmap.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// The sentences of the recordings whose names end with one of the suffixes, header
// lines left out, every line ended by CR LF as on the wire.
QByteArray Recordings(const QString& folder, const QStringList& patterns) {
    QByteArray out;
    for (const QString& name : QDir(folder).entryList(patterns, QDir::Files, QDir::Name)) {
        QFile f(QDir(folder).filePath(name));
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (QByteArray line : f.readAll().split('\n')) {
            while (line.endsWith('\r'))
                line.chop(1);
            if (line.isEmpty() || line.startsWith('#')) continue;
            out += line + "\r\n";
        }
    }
    if (out.isEmpty()) throw std::runtime_error("no recordings in " + folder.toStdString());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QByteArray config = (home.path() + QStringLiteral("/config")).toLocal8Bit();
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(BRISEMER_RECORDINGS);
    const double seconds = argc > 2 ? std::atof(argv[2]) : 21.0;

    // Only the private map names ports: no system map, no hardware ports.
    TnrPortMapSources sources;
    sources.UserMapFile = home.path() + QStringLiteral("/config/serialcomm/ports");
    sources.SystemMapFile = home.path() + QStringLiteral("/etc/ports");
    sources.SysfsRoot = home.path() + QStringLiteral("/sys");
    SetSerialPortMapSources(sources);

    const QByteArray gpsData = Recordings(folder, {QStringLiteral("*.log")});
    const QByteArray aisData = Recordings(folder, {QStringLiteral("*.aivdm")});
    TPty gps, ais;
    QDir().mkpath(home.path() + QStringLiteral("/config/serialcomm"));
    {
        QFile map(sources.UserMapFile);
        if (!map.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the port map");
        map.write(QStringLiteral("COM201 = %1\nCOM202 = %2\n").arg(gps.Slave(), ais.Slave()).toUtf8());
        QFile settings(home.filePath(QStringLiteral("brisemer.INI")));
        if (!settings.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the settings file");
        settings.write("[ComPort GPS]\r\nComNb=201\r\n[ComPort AIS]\r\nComNb=202\r\n");
    }

    TForm1 form(home.filePath(QStringLiteral("brisemer.INI")));
    form.show();
    if (!form.nrComm1->Active() || !form.nrComm2->Active()) {
        std::fprintf(stderr, "bench_monitor: the ports did not open\n");
        return 1;
    }

    std::vector<double> intervals;
    TClock::time_point lastRefresh = TClock::now();
    bool firstRefresh = true;
    QObject::connect(form.Timer1, &QTimer::timeout, [&] {
        const auto now = TClock::now();
        // The first interval runs from the window's creation, not from a refresh.
        if (!firstRefresh)
            intervals.push_back(std::chrono::duration<double, std::milli>(now - lastRefresh).count());
        firstRefresh = false;
        lastRefresh = now;
    });

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> gpsWritten{0}, aisWritten{0};
    const double cpuStart = CpuSeconds();
    const auto start = TClock::now();
    std::thread gpsWriter([&] { gps.Flood(gpsData, stop, gpsWritten); });
    std::thread aisWriter([&] { ais.Flood(aisData, stop, aisWritten); });

    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    stop = true;
    gpsWriter.join();
    aisWriter.join();
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;

    const double mb = 1024.0 * 1024.0;
    std::printf("flood of both channels for %.1f s (recordings: %s)\n", elapsed, qPrintable(folder));
    std::printf("  GPS: %lld lines shown, %.1f lines/s, %.2f MB/s written\n",
                static_cast<long long>(form.Memo1->LineCount()), form.Memo1->LineCount() / elapsed,
                gpsWritten / mb / elapsed);
    std::printf("  AIS: %lld lines shown, %.1f lines/s, %.2f MB/s written\n",
                static_cast<long long>(form.Memo2->LineCount()), form.Memo2->LineCount() / elapsed,
                aisWritten / mb / elapsed);
    std::printf("  CPU: %.2f s for %.1f s (%.0f%%)\n", cpu, elapsed, 100.0 * cpu / elapsed);
    if (intervals.empty()) {
        std::printf("  status refresh: no interval measured (run longer than 4 s)\n");
        return 1;
    }
    double worst = 0;
    std::printf("  status refresh intervals (ms):");
    for (double i : intervals) {
        std::printf(" %.1f", i);
        worst = std::max(worst, std::abs(i - 2000.0));
    }
    std::printf("\n  largest deviation from 2000 ms: %.1f ms (goal: at most 50 ms)\n", worst);
    form.nrComm1->SetActive(false);
    form.nrComm2->SetActive(false);
    return worst <= 50.0 ? 0 : 2;
}
