// Fuzz target: the serial-port map, read from two map files and a sysfs tree.
//
// The input gives the text of the system's and the user's map file and picks a few
// hardware ttys (some placeholders, some consoles) for a private sysfs tree. In the map
// texts "@DEV@" stands for the private device folder, so that map entries can name the
// same devices as sysfs. The result must be exactly what the map's rules give, worked out
// here independently:
//   - entries "COMn = /path", n from 1 to 65535 without leading zero, any letter case;
//     '#' starts a comment; blanks around names and paths are ignored; other lines,
//     relative paths and paths that hold a NUL are skipped;
//   - within a file the first line for a name wins; the user's file wins over the system's;
//   - hardware ports take their family number unless a map entry names the device or
//     holds the number; others take free numbers from 97 up in name order.
// And the list must be well formed: ordered by number, each number once, names "COMn",
// every entry resolvable by name, an unknown name failing with ENOENT.
#include "fuzzsupport.h"
#include "platform/nrerror.h"
#include "platform/nrportmap.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

const char* const kTtys[] = {"ttyS0",    "ttyS1",   "ttyS31",  "ttyS32",   "ttyUSB0", "ttyUSB5", "ttyACM0",
                             "ttyACM31", "ttyAMA0", "ttyAMA2", "ttyAMA10", "rfcomm0", "ttyGS0",  "ttyS4"};
constexpr int kTtyCount = sizeof(kTtys) / sizeof(kTtys[0]);

struct THardware {
    QString name;
    bool placeholder = false;
    bool console = false;
};

QString Root() {
    static const QString root = FuzzScratchFolder();
    return root;
}
QString DevRoot() {
    return Root() + QStringLiteral("/dev");
}
QString SysRoot() {
    return Root() + QStringLiteral("/sys");
}

bool operator==(const THardware& a, const THardware& b) {
    return a.name == b.name && a.placeholder == b.placeholder && a.console == b.console;
}

void BuildSysfs(const QList<THardware>& ttys) {
    // Rebuilt only when it changes: most inputs differ in their map texts alone.
    static QList<THardware> built;
    static bool once = false;
    if (once && built == ttys) return;
    once = true;
    built = ttys;
    QDir(SysRoot()).removeRecursively();
    const QString ttyClass = SysRoot() + QStringLiteral("/class/tty");
    QStringList consoles;
    for (const THardware& t : ttys) {
        const QString dir = ttyClass + QLatin1Char('/') + t.name;
        if (!QDir().mkpath(dir + QStringLiteral("/device"))) FuzzFail(__FILE__, __LINE__, "mkpath", dir);
        FuzzWriteFile(dir + QStringLiteral("/type"), t.placeholder ? "0\n" : "4\n");
        if (t.console) consoles << t.name;
    }
    QDir().mkpath(ttyClass + QStringLiteral("/console"));
    FuzzWriteFile(ttyClass + QStringLiteral("/console/active"),
                  consoles.join(QLatin1Char(' ')).toUtf8() + "\n");
}

// --- the model ---

int ModelPortNumber(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^[Cc][Oo][Mm]([1-9][0-9]{0,4})$"));
    const QRegularExpressionMatch m = form.match(name);
    if (!m.hasMatch()) return 0;
    const int n = m.captured(1).toInt();
    return n <= 65535 ? n : 0;
}

void ModelReadMapFile(const QByteArray& bytes, QMap<int, QString>& entries) {
    QMap<int, QString> thisFile;
    // The file is read as text: every CR byte is dropped before decoding; the text is UTF-8
    // unless a byte-order mark at the start says UTF-16 or UTF-32; the mark is not text and
    // an unfinished character at the very end is not either.
    const QByteArray withoutCr = QByteArray(bytes).replace('\r', QByteArray());
    QStringDecoder decoder(QStringConverter::encodingForData(withoutCr).value_or(QStringConverter::Utf8));
    QString text = decoder(withoutCr);
    for (QString line : text.split(QLatin1Char('\n'))) {
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0) line.truncate(hash);
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const int number = ModelPortNumber(line.left(eq).trimmed());
        const QString path = line.mid(eq + 1).trimmed();
        if (number == 0 || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) continue;
        if (!thisFile.contains(number)) thisFile.insert(number, path);
    }
    for (auto it = thisFile.cbegin(); it != thisFile.cend(); ++it)
        entries.insert(it.key(), it.value());
}

int FamilyNumber(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^(ttyS|ttyUSB|ttyACM)([0-9]+)$"));
    const QRegularExpressionMatch m = form.match(name);
    if (!m.hasMatch()) return 0;
    const int k = m.captured(2).toInt();
    if (k >= 32) return 0;
    const QString family = m.captured(1);
    return (family == QStringLiteral("ttyS") ? 1 : family == QStringLiteral("ttyUSB") ? 33 : 65) + k;
}

bool NameOrder(const QString& a, const QString& b) {
    static const QRegularExpression form(QStringLiteral("^(.*?)([0-9]+)$"));
    const auto ma = form.match(a);
    const auto mb = form.match(b);
    const QString fa = ma.hasMatch() ? ma.captured(1) : a;
    const QString fb = mb.hasMatch() ? mb.captured(1) : b;
    if (fa != fb) return fa < fb;
    return (ma.hasMatch() ? ma.captured(2).toInt() : -1) < (mb.hasMatch() ? mb.captured(2).toInt() : -1);
}

QString Canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(path) : c;
}

QList<TnrPortMapEntry> Model(const QByteArray& systemMap, const QByteArray& userMap,
                             const QList<THardware>& ttys) {
    QMap<int, QString> files;
    ModelReadMapFile(systemMap, files);
    ModelReadMapFile(userMap, files);
    QMap<int, TnrPortMapEntry> result;
    QSet<QString> named;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        result.insert(it.key(), {it.value(), QStringLiteral("COM%1").arg(it.key()), it.key(), true});
        named.insert(Canonical(it.value()));
    }
    QStringList others;
    QList<std::pair<int, QString>> fixed;
    for (const THardware& t : ttys) {
        if (t.placeholder || t.console || named.contains(Canonical(DevRoot() + QLatin1Char('/') + t.name)))
            continue;
        if (const int n = FamilyNumber(t.name))
            fixed.append({n, t.name});
        else
            others.append(t.name);
    }
    for (const auto& [n, name] : fixed)
        if (!result.contains(n))
            result.insert(n, {DevRoot() + QLatin1Char('/') + name, QStringLiteral("COM%1").arg(n), n, false});
    std::sort(others.begin(), others.end(), NameOrder);
    int next = 97;
    for (const QString& name : others) {
        while (result.contains(next))
            ++next;
        result.insert(next,
                      {DevRoot() + QLatin1Char('/') + name, QStringLiteral("COM%1").arg(next), next, false});
    }
    return result.values();
}

QString Describe(const QList<TnrPortMapEntry>& list) {
    QString out;
    for (const TnrPortMapEntry& e : list)
        out += QStringLiteral("\n    %1 %2 -> %3%4")
                   .arg(e.Number)
                   .arg(e.PortName, Escaped(e.DevicePath.toUtf8()),
                        e.FromMapFile ? QString() : QStringLiteral(" (sysfs)"));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    QDir().mkpath(DevRoot());
    // Plain files stand for the device nodes: the map only resolves their paths.
    for (const char* tty : kTtys)
        FuzzWriteFile(DevRoot() + QLatin1Char('/') + QLatin1String(tty), QByteArray());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    QList<THardware> ttys;
    const int ttyCount = fdp.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < ttyCount; ++i) {
        THardware t;
        t.name = QLatin1String(kTtys[fdp.ConsumeIntegralInRange(0, kTtyCount - 1)]);
        const auto kind = fdp.ConsumeIntegralInRange(0, 5);
        t.placeholder = kind == 4;
        t.console = kind == 5;
        if (std::none_of(ttys.begin(), ttys.end(), [&](const THardware& o) { return o.name == t.name; }))
            ttys.append(t);
    }
    const std::size_t systemSize = fdp.ConsumeIntegralInRange<std::size_t>(0, fdp.remaining_bytes());
    const QByteArray dev = DevRoot().toUtf8();
    QByteArray systemMap =
        QByteArray::fromStdString(fdp.ConsumeBytesAsString(systemSize)).replace("@DEV@", dev);
    QByteArray userMap = QByteArray::fromStdString(fdp.ConsumeRemainingBytesAsString()).replace("@DEV@", dev);

    TnrPortMapSources sources;
    sources.SystemMapFile = Root() + QStringLiteral("/system-ports");
    sources.UserMapFile = Root() + QStringLiteral("/user-ports");
    sources.SysfsRoot = SysRoot();
    sources.DevRoot = DevRoot();
    FuzzWriteFile(sources.SystemMapFile, systemMap);
    FuzzWriteFile(sources.UserMapFile, userMap);
    BuildSysfs(ttys);

    const QList<TnrPortMapEntry> map = ReadSerialPortMap(sources);
    const QList<TnrPortMapEntry> expected = Model(systemMap, userMap, ttys);

    for (qsizetype i = 0; i < map.size(); ++i) {
        const TnrPortMapEntry& e = map[i];
        FUZZ_CHECK(e.Number >= 1 && e.Number <= 65535, QStringLiteral("number %1").arg(e.Number));
        FUZZ_CHECK(i == 0 || map[i - 1].Number < e.Number, QStringLiteral("out of order at %1").arg(i));
        FUZZ_CHECK(e.PortName == QStringLiteral("COM%1").arg(e.Number),
                   QStringLiteral("name %1").arg(e.PortName));
        FUZZ_CHECK(e.DevicePath.startsWith(QLatin1Char('/')) && !e.DevicePath.contains(QChar(0)) &&
                       e.DevicePath == e.DevicePath.trimmed() && !e.DevicePath.contains(QLatin1Char('#')),
                   QStringLiteral("path %1").arg(Escaped(e.DevicePath.toUtf8())));
    }
    qsizetype same = 0;
    while (same < std::min(map.size(), expected.size()) && map[same].Number == expected[same].Number &&
           map[same].DevicePath == expected[same].DevicePath &&
           map[same].PortName == expected[same].PortName &&
           map[same].FromMapFile == expected[same].FromMapFile)
        ++same;
    FUZZ_CHECK(same == map.size() && same == expected.size(),
               QStringLiteral("from entry %1 on, map:%2\n  expected:%3\n  system map: %4\n  user map: %5")
                   .arg(same)
                   .arg(Describe(map.mid(same, 1)), Describe(expected.mid(same, 1)), Escaped(systemMap),
                        Escaped(userMap)));

    // Resolving by name: every entry in any letter case, and a few names the map lacks.
    for (int k = 0; k < 4 && !map.isEmpty(); ++k) {
        const TnrPortMapEntry& e = map[fdp.ConsumeIntegralInRange<qsizetype>(0, map.size() - 1)];
        QString path;
        FUZZ_CHECK(ResolvePortName(k % 2 ? e.PortName.toLower() : e.PortName, path, sources) &&
                       path == e.DevicePath,
                   QStringLiteral("%1 resolves to %2").arg(e.PortName, path));
    }
    for (const int n : {0, 65536, 1 + static_cast<int>(map.isEmpty() ? 0 : map.last().Number)}) {
        QString path = QStringLiteral("untouched");
        SetLastError(0);
        const bool found = ResolvePortName(QStringLiteral("COM%1").arg(n), path, sources);
        FUZZ_CHECK(!found && GetLastError() == static_cast<std::uint32_t>(ENOENT) &&
                       path == QStringLiteral("untouched"),
                   QStringLiteral("COM%1 resolved").arg(n));
    }
    return 0;
}
