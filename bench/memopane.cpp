// Benchmark of the channel text pane with real NMEA and AIS traffic.
//
//   bench_memopane [data folder] [megabytes]
//
// 1. Append: AppendLine alone, as fast as it goes: MB/s, CPU seconds per MB, and resident
//    memory grown per byte of text kept, for a million lines and for the whole run.
// 2. Flood: two shown panes (offscreen), both flooded with 8 KiB deliveries cut into lines
//    at each CR as the main window does, the event loop running after every delivery, as
//    the port's event processing gives it: MB/s per channel, frames painted, the delay from
//    a line's CR to the paint that shows it, and how late a 100 ms timer fires meanwhile.
// 3. Paced: the same at 40 MB/s per channel for two seconds, with the CPU share it costs.
//
// Run it with QT_QPA_PLATFORM=offscreen (the bench script does).
#include "benchkit.h"
#include "memopane.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

long ResidentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * sysconf(_SC_PAGESIZE) : 0;
}

// The recordings as they come off the wire: header lines dropped, every sentence ended
// by CR LF (the replay tool restores CR LF for files stored with LF only).
QByteArray LoadWire(const QString& folder) {
    QByteArray wire;
    const QStringList names = QDir(folder).entryList({"*.log", "*.aivdm"}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.startsWith('#')) continue;
            if (line.endsWith('\r')) line.chop(1);
            if (line.isEmpty()) continue;
            wire += line;
            wire += "\r\n";
        }
    }
    return wire;
}

// What the main window's receive assembly hands to the pane: the bytes between two CRs,
// so each line after the first starts with the LF of the previous CR LF.
struct TLine {
    qsizetype offset;
    qsizetype size;
};

std::vector<TLine> CutAtCr(const QByteArray& wire) {
    std::vector<TLine> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        if (wire.at(i) == '\r') {
            lines.push_back({start, i - start});
            start = i + 1;
        }
    }
    return lines;
}

void BenchAppend(const QByteArray& wire, const std::vector<TLine>& lines, double megabytes) {
    TMemoPane pane;
    const long residentBefore = ResidentBytes();
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::uint64_t bytes = 0;
    std::uint64_t count = 0;
    double millionSeconds = 0;
    long millionResident = 0;
    std::uint64_t millionBytes = 0;
    const std::uint64_t target = static_cast<std::uint64_t>(megabytes * 1e6);
    while (bytes < target) {
        for (const TLine& line : lines) {
            pane.AppendLine(wire.constData() + line.offset, static_cast<std::size_t>(line.size));
            bytes += static_cast<std::uint64_t>(line.size);
            if (++count == 1000000) {
                millionSeconds = wall.nsecsElapsed() / 1e9;
                millionResident = ResidentBytes() - residentBefore;
                millionBytes = bytes;
            }
        }
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    const long resident = ResidentBytes() - residentBefore;
    std::printf("append: %llu lines, %.1f MB in %.3f s: %.0f MB/s, %.5f CPU s/MB\n",
                static_cast<unsigned long long>(count), bytes / 1e6, seconds, bytes / 1e6 / seconds,
                cpu / (bytes / 1e6));
    if (millionBytes > 0)
        std::printf("append: first 1,000,000 lines (%.1f MB) in %.3f s, resident +%.1f MB = %.2f bytes per "
                    "byte of text\n",
                    millionBytes / 1e6, millionSeconds, millionResident / 1e6,
                    double(millionResident) / double(millionBytes));
    std::printf("append: whole run resident +%.1f MB = %.2f bytes per byte of text\n", resident / 1e6,
                double(resident) / double(bytes));

    QElapsedTimer save;
    save.start();
    const QString path = QDir::temp().filePath(QStringLiteral("bench_memopane.txt"));
    QString error;
    if (pane.SaveToFile(path, &error))
        std::printf("save: %.1f MB written in %.3f s\n", QFile(path).size() / 1e6, save.nsecsElapsed() / 1e9);
    else
        std::printf("save: failed: %s\n", qPrintable(error));
    QFile::remove(path);
}

// The pane with the time its paints take.
class TTimedPane : public TMemoPane {
public:
    qint64 paintNs = 0;
    qint64 worstPaintNs = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        TMemoPane::paintEvent(event);
        const qint64 spent = timer.nsecsElapsed();
        paintNs += spent;
        worstPaintNs = std::max(worstPaintNs, spent);
    }
};

// megabytesPerSecond 0: a flood, as fast as the panes take it; otherwise deliveries paced
// to that rate per channel.
void BenchLive(const QByteArray& wire, double megabytes, double megabytesPerSecond) {
    const char* mode = megabytesPerSecond > 0 ? "paced" : "flood";
    constexpr qsizetype kDelivery = 8192;
    struct TChannel {
        TTimedPane pane;
        QByteArray pending;
        qint64 firstUnpaintedNs = -1;
        qint64 worstDelayNs = 0;
        double totalDelayNs = 0;
        int paints = 0;
    };
    QWidget window;
    window.resize(720, 574);
    TChannel channels[2];
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2; ++i) {
        TChannel& channel = channels[i];
        channel.pane.setParent(&window);
        channel.pane.setGeometry(8, i == 0 ? 84 : 333, 704, 202);
        channel.pane.SetText(i == 0 ? QStringLiteral("MemoGPS") : QStringLiteral("Memo AIS"));
    }
    window.show();
    QApplication::processEvents();

    class TPaintWatch : public QObject {
    public:
        TPaintWatch(TChannel& channel, QElapsedTimer& clock) : fChannel(channel), fClock(clock) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && fChannel.firstUnpaintedNs >= 0) {
                const qint64 delay = fClock.nsecsElapsed() - fChannel.firstUnpaintedNs;
                fChannel.worstDelayNs = std::max(fChannel.worstDelayNs, delay);
                fChannel.totalDelayNs += double(delay);
                ++fChannel.paints;
                fChannel.firstUnpaintedNs = -1;
            }
            return false;
        }
        TChannel& fChannel;
        QElapsedTimer& fClock;
    };
    TPaintWatch watch0(channels[0], clock), watch1(channels[1], clock);
    channels[0].pane.viewport()->installEventFilter(&watch0);
    channels[1].pane.viewport()->installEventFilter(&watch1);

    // A timer like the window's status refresh, faster so that lateness shows.
    qint64 lastTick = clock.nsecsElapsed();
    qint64 worstTickNs = 0;
    int ticks = 0;
    QTimer rhythm;
    rhythm.setTimerType(Qt::PreciseTimer);
    QObject::connect(&rhythm, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worstTickNs = std::max(worstTickNs, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    rhythm.start(100);

    const std::uint64_t target = static_cast<std::uint64_t>(megabytes * 1e6);
    std::uint64_t delivered = 0;
    qsizetype at = 0;
    const double cpuBefore = CpuSeconds();
    const qint64 start = clock.nsecsElapsed();
    lastTick = start;
    while (delivered < target) {
        if (megabytesPerSecond > 0) {
            // Ahead of the line rate: sleep until the next delivery is due, as the port's
            // event thread would wait, and let the event loop run.
            QApplication::processEvents();
            const double dueNs = double(delivered) / (megabytesPerSecond * 1e6) * 1e9;
            const double aheadNs = dueNs - double(clock.nsecsElapsed() - start);
            if (aheadNs > 0)
                std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<long long>(aheadNs)));
        }
        for (TChannel& channel : channels) {
            // The receive assembly: each CR ends the pending line; a line that starts and
            // ends within one delivery goes to the pane straight from the delivery.
            const qsizetype size = std::min(kDelivery, wire.size() - at);
            const char* bytes = wire.constData() + at;
            const char* end = bytes + size;
            while (bytes < end) {
                const char* cr =
                    static_cast<const char*>(std::memchr(bytes, '\r', static_cast<std::size_t>(end - bytes)));
                if (!cr) {
                    channel.pending.append(bytes, end - bytes);
                    break;
                }
                if (channel.pending.isEmpty()) {
                    channel.pane.AppendLine(bytes, static_cast<std::size_t>(cr - bytes));
                } else {
                    channel.pending.append(bytes, cr - bytes);
                    channel.pane.AppendLine(channel.pending.constData(),
                                            static_cast<std::size_t>(channel.pending.size()));
                    channel.pending.resize(0);
                }
                if (channel.firstUnpaintedNs < 0) channel.firstUnpaintedNs = clock.nsecsElapsed();
                bytes = cr + 1;
            }
        }
        const qsizetype size = std::min(kDelivery, wire.size() - at);
        delivered += static_cast<std::uint64_t>(size);
        at = (at + size) % wire.size();
        QApplication::processEvents();
    }
    const double seconds = (clock.nsecsElapsed() - start) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("%s: two panes, %.1f MB per channel in %.3f s: %.0f MB/s per channel, %.5f CPU s/MB (both "
                "channels), CPU %.0f%% of one core\n",
                mode, delivered / 1e6, seconds, delivered / 1e6 / seconds, cpu / (2 * delivered / 1e6),
                100.0 * cpu / seconds);
    for (int i = 0; i < 2; ++i) {
        const TChannel& channel = channels[i];
        std::printf(
            "%s: pane %d: %lld lines, %d frames painted (%.0f per s), CR to paint: mean %.1f ms, worst "
            "%.1f ms\n",
            mode, i + 1, static_cast<long long>(channel.pane.LineCount()), channel.paints,
            channel.paints / seconds, channel.paints ? channel.totalDelayNs / channel.paints / 1e6 : 0.0,
            channel.worstDelayNs / 1e6);
        std::printf("%s: pane %d: painting a frame takes %.2f ms on average, %.2f ms at worst\n", mode, i + 1,
                    channel.paints ? channel.pane.paintNs / 1e6 / channel.paints : 0.0,
                    channel.pane.worstPaintNs / 1e6);
    }
    std::printf("%s: 100 ms timer fired %d times, longest interval %.1f ms\n", mode, ticks,
                worstTickNs / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/work/shared/data/nmea");
    const double megabytes = argc > 2 ? std::atof(argv[2]) : 200.0;
    const QByteArray wire = LoadWire(folder);
    if (wire.isEmpty()) {
        std::fprintf(stderr, "bench_memopane: no recordings in %s\n", qPrintable(folder));
        return 1;
    }
    const std::vector<TLine> lines = CutAtCr(wire);
    std::printf("data: %zu lines, %.1f kB of recorded traffic from %s, mean line %.1f bytes\n", lines.size(),
                wire.size() / 1e3, qPrintable(folder), double(wire.size()) / double(lines.size()));
    BenchAppend(wire, lines, megabytes);
    BenchLive(wire, megabytes / 2, 0);
    // The goal rate on both channels for two seconds.
    BenchLive(wire, 80, 40);
    return 0;
}
