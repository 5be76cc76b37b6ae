#include "nrportmap.h"

#include "nrerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <mutex>

namespace {

std::mutex gSourcesLock;
TnrPortMapSources gSources;

constexpr int kMaxPortNumber = 65535;
constexpr int kFirstOtherNumber = 97;
constexpr int kFamilySize = 32;

// Reads one map file into `entries` (name number -> path). Within the file the first line
// for a name wins; an entry of this file replaces what an earlier file gave the name.
void ReadMapFile(const QString& file, QMap<int, QString>& entries) {
    QSet<int> seen;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return; // a missing or unreadable file maps nothing
    QTextStream in(&f);
    while (!in.atEnd()) {
        QString line = in.readLine();
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0) line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty()) continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        const int number = ParsePortName(line.left(equals).trimmed());
        const QString path = line.mid(equals + 1).trimmed();
        // A NUL ends the path at the system call, which would then open another device.
        if (number == 0 || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) continue;
        if (seen.contains(number)) continue;
        seen.insert(number);
        entries.insert(number, path);
    }
}

QString ReadSmallFile(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(f.read(4096)).trimmed();
}

// A serial-core port without a UART behind it: the 8250 driver registers ttyS0..ttyS<n>
// whether or not the hardware exists.
bool IsPlaceholder(const QString& ttyDir) {
    bool ok = false;
    const int type = ReadSmallFile(ttyDir + QStringLiteral("/type")).toInt(&ok);
    if (ok) return type == 0;
    const QFileInfo driver(ttyDir + QStringLiteral("/device/driver"));
    const QString target = driver.isSymLink() ? driver.symLinkTarget() : driver.canonicalFilePath();
    return QFileInfo(target).fileName() == QStringLiteral("serial8250");
}

// Splits "ttyUSB12" into "ttyUSB" and 12; a name without a number ends in -1.
std::pair<QString, int> SplitName(const QString& name) {
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    if (digits == name.size() || name.size() - digits > 6) return {name, -1};
    return {name.left(digits), name.mid(digits).toInt()};
}

int FamilyNumber(const QString& name) {
    const auto [family, index] = SplitName(name);
    if (index < 0 || index >= kFamilySize) return 0;
    if (family == QStringLiteral("ttyS")) return 1 + index;
    if (family == QStringLiteral("ttyUSB")) return 33 + index;
    if (family == QStringLiteral("ttyACM")) return 65 + index;
    return 0;
}

// Name order with numbers compared as numbers.
bool NameLess(const QString& a, const QString& b) {
    const auto [fa, ia] = SplitName(a);
    const auto [fb, ib] = SplitName(b);
    if (fa != fb) return fa < fb;
    if (ia != ib) return ia < ib;
    return a < b;
}

QString Canonical(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

} // namespace

QString TnrPortMapSources::EffectiveUserMapFile() const {
    if (!UserMapFile.isEmpty()) return UserMapFile;
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/serialcomm/ports");
}

TnrPortMapSources SerialPortMapSources() {
    std::lock_guard g(gSourcesLock);
    return gSources;
}

void SetSerialPortMapSources(const TnrPortMapSources& sources) {
    std::lock_guard g(gSourcesLock);
    gSources = sources;
}

int ParsePortName(const QString& name) {
    if (name.size() < 4 || name.size() > 8 || !name.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive))
        return 0;
    const QString digits = name.mid(3);
    if (digits.at(0) == QLatin1Char('0')) return 0;
    for (QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return 0;
    const int number = digits.toInt();
    return number <= kMaxPortNumber ? number : 0;
}

QList<TnrPortMapEntry> ReadSerialPortMap(const TnrPortMapSources& sources) {
    QMap<int, QString> mapped;
    ReadMapFile(sources.SystemMapFile, mapped);
    ReadMapFile(sources.EffectiveUserMapFile(), mapped);

    QMap<int, TnrPortMapEntry> result;
    QSet<QString> namedDevices;
    for (auto it = mapped.cbegin(); it != mapped.cend(); ++it) {
        TnrPortMapEntry e;
        e.DevicePath = it.value();
        e.Number = it.key();
        e.PortName = QStringLiteral("COM%1").arg(it.key());
        e.FromMapFile = true;
        result.insert(e.Number, e);
        namedDevices.insert(Canonical(e.DevicePath));
    }

    const QString ttyClass = sources.SysfsRoot + QStringLiteral("/class/tty");
    // The active console list may name several ("tty0 ttyS0").
    const QStringList consoles = ReadSmallFile(ttyClass + QStringLiteral("/console/active"))
                                     .split(QLatin1Char(' '), Qt::SkipEmptyParts);

    QStringList others;
    QList<std::pair<int, QString>> fixed;
    const QStringList names = QDir(ttyClass).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QString dir = ttyClass + QLatin1Char('/') + name;
        if (!QFileInfo::exists(dir + QStringLiteral("/device")) || consoles.contains(name) ||
            IsPlaceholder(dir))
            continue;
        if (namedDevices.contains(Canonical(sources.DevRoot + QLatin1Char('/') + name))) continue;
        if (const int number = FamilyNumber(name))
            fixed.append({number, name});
        else
            others.append(name);
    }
    auto add = [&](int number, const QString& name) {
        TnrPortMapEntry e;
        e.DevicePath = sources.DevRoot + QLatin1Char('/') + name;
        e.Number = number;
        e.PortName = QStringLiteral("COM%1").arg(number);
        result.insert(number, e);
    };
    for (const auto& [number, name] : fixed)
        if (!result.contains(number)) // a map file gave this name to another device
            add(number, name);
    std::sort(others.begin(), others.end(), NameLess);
    int next = kFirstOtherNumber;
    for (const QString& name : others) {
        while (next <= kMaxPortNumber && result.contains(next))
            ++next;
        if (next > kMaxPortNumber) break;
        add(next, name);
    }
    return result.values();
}

QList<TnrPortMapEntry> ReadSerialPortMap() {
    return ReadSerialPortMap(SerialPortMapSources());
}

bool ResolvePortName(const QString& name, QString& path, const TnrPortMapSources& sources) {
    const int number = ParsePortName(name);
    if (number != 0) {
        for (const TnrPortMapEntry& e : ReadSerialPortMap(sources)) {
            if (e.Number == number) {
                path = e.DevicePath;
                return true;
            }
        }
    }
    SetLastError(ENOENT);
    return false;
}

bool ResolvePortName(const QString& name, QString& path) {
    return ResolvePortName(name, path, SerialPortMapSources());
}
