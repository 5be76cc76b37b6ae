#include "usbadapters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Attribute(const QString& dir, const char* name) {
    QFile f(dir + QLatin1Char('/') + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

// The USB device (the folder with idVendor) above a tty's device, "" when none is.
QString UsbDeviceOf(const QString& ttyDir) {
    QString dir = QFileInfo(ttyDir + QStringLiteral("/device")).canonicalFilePath();
    for (int depth = 0; !dir.isEmpty() && depth < 6; ++depth) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor"))) return dir;
        dir = QFileInfo(dir).path();
    }
    return {};
}

// The first link in `folder` that leads to `target`.
QString LinkTo(const QString& folder, const QString& target) {
    const QFileInfoList links = QDir(folder).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                                           QDir::Name);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && link.canonicalFilePath() == target) return link.absoluteFilePath();
    return {};
}

QString GroupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid)) return QString::fromLocal8Bit(g->gr_name);
    return QString::number(gid);
}

} // namespace

QList<TUsbAdapter> FindUsbAdapters(const TnrPortMapSources& sources) {
    QList<TUsbAdapter> adapters;
    QHash<QString, int> identities; // vendor:product:serial -> adapters
    QStringList identityOf;
    const QString ttyClass = sources.SysfsRoot + QStringLiteral("/class/tty");
    const QStringList names = QDir(ttyClass).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    const QList<TnrPortMapEntry> map = ReadSerialPortMap(sources);
    for (const QString& name : names) {
        if (!name.startsWith(QLatin1String("ttyUSB")) && !name.startsWith(QLatin1String("ttyACM"))) continue;
        const QString usb = UsbDeviceOf(ttyClass + QLatin1Char('/') + name);
        if (usb.isEmpty()) continue;
        TUsbAdapter a;
        a.TtyName = name;
        a.Node = sources.DevRoot + QLatin1Char('/') + name;
        a.Description = (Attribute(usb, "manufacturer") + QLatin1Char(' ') + Attribute(usb, "product")).trimmed();
        const QString target = QFileInfo(a.Node).canonicalFilePath();
        if (!target.isEmpty()) {
            a.ById = LinkTo(sources.DevRoot + QStringLiteral("/serial/by-id"), target);
            a.ByPath = LinkTo(sources.DevRoot + QStringLiteral("/serial/by-path"), target);
        }
        for (const TnrPortMapEntry& e : map)
            if (!target.isEmpty() && QFileInfo(e.DevicePath).canonicalFilePath() == target) {
                a.PortName = e.PortName;
                break;
            }
        struct stat st {};
        const QByteArray node = QFile::encodeName(a.Node);
        a.MayOpen = ::access(node.constData(), R_OK | W_OK) == 0;
        if (::stat(node.constData(), &st) == 0) a.Group = GroupName(st.st_gid);
        // The interface (the "1.0" of "1-2:1.0") keeps the ports of one multi-port adapter
        // apart.
        QString interface;
        for (QString dir = QFileInfo(ttyClass + QLatin1Char('/') + name + QStringLiteral("/device")).canonicalFilePath();
             !dir.isEmpty() && dir != usb && dir.size() > 1; dir = QFileInfo(dir).path()) {
            const QString folder = QFileInfo(dir).fileName();
            if (folder.contains(QLatin1Char(':'))) {
                interface = folder.mid(folder.indexOf(QLatin1Char(':')) + 1);
                break;
            }
        }
        const QString id = Attribute(usb, "idVendor") + QLatin1Char(':') + Attribute(usb, "idProduct") +
                           QLatin1Char(':') + Attribute(usb, "serial") + QLatin1Char(':') + interface;
        ++identities[id];
        identityOf << id;
        adapters << a;
    }
    for (int i = 0; i < adapters.size(); ++i) {
        TUsbAdapter& a = adapters[i];
        a.SharedById = identities.value(identityOf[i]) > 1;
        const QString stable = !a.ById.isEmpty() && !a.SharedById ? a.ById : !a.ByPath.isEmpty() ? a.ByPath : a.Node;
        a.MapLine = (a.PortName.isEmpty() ? QStringLiteral("COMn") : a.PortName) + QStringLiteral(" = ") + stable;
    }
    return adapters;
}
