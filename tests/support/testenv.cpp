#include "testenv.h"

#include "platform/nrportmap.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>

namespace {
QTemporaryDir* gHome = nullptr;
}

void TTestEnvironment::PrepareProcess() {
    gHome = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/brisemer-test-XXXXXX"));
    const QByteArray home = gHome->path().toLocal8Bit();
    const QByteArray config = (gHome->path() + QStringLiteral("/config")).toLocal8Bit();
    QDir().mkpath(QString::fromLocal8Bit(config));
    setenv("HOME", home.constData(), 1);
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    // Only the test's own map file names ports: no system map file and an empty sysfs,
    // so no test can ever reach a real serial port of the machine.
    TnrPortMapSources sources;
    sources.SystemMapFile = gHome->path() + QStringLiteral("/etc/serialcomm/ports");
    sources.SysfsRoot = gHome->path() + QStringLiteral("/sys");
    SetSerialPortMapSources(sources);
    std::atexit([] {
        delete gHome;
        gHome = nullptr;
    });
}

QString TTestEnvironment::ConfigHome() { return QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")); }

QString TTestEnvironment::PortMapFile() { return ConfigHome() + QStringLiteral("/serialcomm/ports"); }

void TTestEnvironment::WritePortMap(const QStringList& lines) {
    QDir().mkpath(ConfigHome() + QStringLiteral("/serialcomm"));
    QFile f(PortMapFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(PortMapFile()));
    for (const QString& line : lines)
        f.write(line.toUtf8() + '\n');
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(500);
    }
    return true;
}

void ProcessEventsFor(std::chrono::milliseconds duration) {
    QDeadlineTimer deadline(duration);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(500);
    }
}
