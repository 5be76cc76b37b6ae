#include "fakesysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TFakeSysfs::TFakeSysfs() {
    QDir(Root()).mkpath(QStringLiteral("class/tty"));
}

void TFakeSysfs::WriteAttribute(const QString& directory, const QString& name, const QString& value) {
    QFile f(directory + QLatin1Char('/') + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(f.fileName()));
    f.write(value.toUtf8() + '\n'); // sysfs attributes end with a line end
}

void TFakeSysfs::Link(const QString& link, const QString& target) {
    QFile::remove(link);
    if (!QFile::link(target, link)) qFatal("cannot link %s", qPrintable(link));
}

QString TFakeSysfs::AddDevice(const QString& path, const QString& bus, const QString& driver,
                              const QMap<QString, QString>& attributes) {
    const QString dir = Root() + QStringLiteral("/devices/") + path;
    QDir().mkpath(dir);
    WriteAttribute(dir, QStringLiteral("uevent"),
                   driver.isEmpty() ? QString() : QStringLiteral("DRIVER=") + driver);
    const QString busDir = Root() + QStringLiteral("/bus/") + bus;
    QDir().mkpath(busDir + QStringLiteral("/drivers"));
    Link(dir + QStringLiteral("/subsystem"), busDir);
    if (!driver.isEmpty()) {
        QDir().mkpath(busDir + QStringLiteral("/drivers/") + driver);
        Link(dir + QStringLiteral("/driver"), busDir + QStringLiteral("/drivers/") + driver);
    }
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        WriteAttribute(dir, it.key(), it.value());
    return dir;
}

QString TFakeSysfs::AddTty(const QString& name, const QString& hardware,
                           const QMap<QString, QString>& attributes) {
    const QString dir = hardware.isEmpty() ? Root() + QStringLiteral("/devices/virtual/tty/") + name
                                           : hardware + QStringLiteral("/tty/") + name;
    QDir().mkpath(dir);
    WriteAttribute(dir, QStringLiteral("uevent"), QStringLiteral("MAJOR=188\nMINOR=0\nDEVNAME=") + name);
    QDir().mkpath(Root() + QStringLiteral("/class/tty"));
    Link(dir + QStringLiteral("/subsystem"), Root() + QStringLiteral("/class/tty"));
    if (!hardware.isEmpty()) Link(dir + QStringLiteral("/device"), hardware);
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        WriteAttribute(dir, it.key(), it.value());
    Link(Root() + QStringLiteral("/class/tty/") + name, dir);
    return dir;
}

void TFakeSysfs::SetActiveConsole(const QString& names) {
    QDir().mkpath(Root() + QStringLiteral("/class/tty/console"));
    WriteAttribute(Root() + QStringLiteral("/class/tty/console"), QStringLiteral("active"), names);
}
