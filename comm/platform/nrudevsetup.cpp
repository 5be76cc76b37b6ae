#include "nrudevsetup.h"

#include "nrportmap.h"
#include "nrudev.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::mutex gDatabaseLock;
TSetupDatabase gDatabase;

QString Canonical(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// The sysfs root the queries read: the database's, else the serial-port map's.
QString SysfsRootOf(const TSetupDatabase& database) {
    return Canonical(database.SysfsRoot.isEmpty() ? SerialPortMapSources().SysfsRoot : database.SysfsRoot);
}

using TPortNameLookup = std::function<QString(const QString& devNode, const QStringList& devLinks)>;

// Finds a device's "COMn" in the serial-port map: by its node, one of its links, or the
// file they lead to (a map entry may name a /dev/serial/by-id link).
TPortNameLookup MapPortNameLookup() {
    QHash<QString, QString> byPath;
    // Two names for one device: the lower number, listed first, is the one kept.
    for (const TnrPortMapEntry& entry : ReadSerialPortMap())
        for (const QString& path : {entry.DevicePath, Canonical(entry.DevicePath)})
            if (!byPath.contains(path)) byPath.insert(path, entry.PortName);
    return [byPath](const QString& devNode, const QStringList& devLinks) {
        if (devNode.isEmpty()) return QString();
        for (const QString& path : QStringList{devNode} + devLinks + QStringList{Canonical(devNode)})
            if (const auto it = byPath.constFind(path); it != byPath.cend()) return it.value();
        return QString();
    };
}

QString ReadAttribute(const QString& directory, const QString& name) {
    if (directory.isEmpty()) return {};
    QFile file(directory + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = file.readAll();
    while (!bytes.isEmpty() && (bytes.endsWith('\0') || bytes.endsWith('\n')))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

// The name of the directory a sysfs link ("subsystem", "driver") points to.
QString LinkTargetName(const QString& link) {
    const QFileInfo info(link);
    if (!info.isSymLink() && !info.exists()) return {};
    return QFileInfo(info.canonicalFilePath()).fileName();
}

QString RelativeTo(const QString& root, const QString& path) {
    if (path.startsWith(root + QLatin1Char('/'))) return path.mid(root.size() + 1);
    return {};
}

bool IsUnderRoot(const QString& root, const QString& path) {
    return path.startsWith(root + QLatin1Char('/'));
}

// The USB device (the one carrying idVendor) at or above path, "" when there is none.
QString UsbDeviceAbove(const QString& root, QString path) {
    while (IsUnderRoot(root, path)) {
        if (QFileInfo::exists(path + QStringLiteral("/idVendor"))) return path;
        path = QFileInfo(path).path();
    }
    return {};
}

QString UartTypeName(const QString& type) {
    // PORT_* numbers of the kernel's serial core.
    static const QHash<QString, QString> names = {
        {QStringLiteral("1"), QStringLiteral("8250 UART")},
        {QStringLiteral("2"), QStringLiteral("16450 UART")},
        {QStringLiteral("3"), QStringLiteral("16550 UART")},
        {QStringLiteral("4"), QStringLiteral("16550A UART")},
        {QStringLiteral("6"), QStringLiteral("16650 UART")},
        {QStringLiteral("7"), QStringLiteral("16650V2 UART")},
        {QStringLiteral("8"), QStringLiteral("16750 UART")},
        {QStringLiteral("10"), QStringLiteral("16C950 UART")},
        {QStringLiteral("11"), QStringLiteral("16654 UART")},
        {QStringLiteral("12"), QStringLiteral("16850 UART")},
    };
    return names.value(type);
}

QString FirstNonEmpty(std::initializer_list<QString> candidates) {
    for (const QString& s : candidates)
        if (!s.trimmed().isEmpty()) return s.trimmed();
    return {};
}

QString Description(const TSetupDevice& device, const QString& root) {
    const auto& p = device.Properties;
    const QString usb = UsbDeviceAbove(root, device.HardwarePath);
    return FirstNonEmpty(
        {p.value(QStringLiteral("ID_MODEL_FROM_DATABASE")),
         DecodeUdevString(p.value(QStringLiteral("ID_MODEL_ENC"))),
         QString(p.value(QStringLiteral("ID_MODEL"))).replace(QLatin1Char('_'), QLatin1Char(' ')),
         usb.isEmpty() ? QString() : ReadAttribute(usb, QStringLiteral("product")),
         UartTypeName(ReadAttribute(device.SysPath, QStringLiteral("type")))});
}

QString Manufacturer(const TSetupDevice& device, const QString& root) {
    const auto& p = device.Properties;
    const QString usb = UsbDeviceAbove(root, device.HardwarePath);
    return FirstNonEmpty(
        {p.value(QStringLiteral("ID_VENDOR_FROM_DATABASE")),
         DecodeUdevString(p.value(QStringLiteral("ID_VENDOR_ENC"))),
         QString(p.value(QStringLiteral("ID_VENDOR"))).replace(QLatin1Char('_'), QLatin1Char(' ')),
         usb.isEmpty() ? QString() : ReadAttribute(usb, QStringLiteral("manufacturer"))});
}

bool IsAtModem(const TSetupDevice& device) {
    if (device.Bus != QLatin1String("usb")) return false;
    const QString& hw = device.HardwarePath;
    if (ReadAttribute(hw, QStringLiteral("bInterfaceClass")) != QLatin1String("02") ||
        ReadAttribute(hw, QStringLiteral("bInterfaceSubClass")) != QLatin1String("02"))
        return false;
    // Protocols 01..06 of the communications class are the AT-command sets.
    bool ok = false;
    const int protocol = ReadAttribute(hw, QStringLiteral("bInterfaceProtocol")).toInt(&ok, 16);
    return ok && protocol >= 1 && protocol <= 6;
}

TGuid ClassOf(const TSetupDevice& device, int ttysOnSameHardware) {
    if (device.SysName.startsWith(QLatin1String("rfcomm"))) return GUID_DEVCLASS_BLUETOOTH;
    if (device.SysName.startsWith(QLatin1String("ircomm"))) return GUID_DEVCLASS_INFRARED;
    if (device.SysName.startsWith(QLatin1String("ttyGS"))) return GUID_DEVCLASS_GADGETSERIAL;
    if (IsAtModem(device)) return GUID_DEVCLASS_MODEM;
    if (device.DriverName == QLatin1String("parport_serial")) return GUID_DEVCLASS_MULTIFUNCTION;
    if (device.Bus == QLatin1String("pci") && ttysOnSameHardware > 1) return GUID_DEVCLASS_MULTIPORTSERIAL;
    if (device.Bus == QLatin1String("isa")) return GUID_DEVCLASS_ADAPTER;
    if (device.Bus == QLatin1String("platform") &&
        QFileInfo(device.HardwarePath).fileName().startsWith(QLatin1String("serial8250")))
        return GUID_DEVCLASS_LEGACYDRIVER;
    return GUID_DEVCLASS_PORTS;
}

QString PersistentLink(const TSetupDevice& device) {
    for (const QString& link : device.DevLinks)
        if (link.startsWith(QLatin1String("/dev/serial/"))) return link;
    return {};
}

// The path of the device's interface of this interface class, "" when it has none.
QString InterfacePath(const TSetupDevice& device, const TGuid& interfaceGuid) {
    const bool modem = device.ClassGuid == GUID_DEVCLASS_MODEM;
    if (interfaceGuid == GUID_DEVINTERFACE_MODEM) return modem ? device.DevNode : QString();
    if (interfaceGuid == GUID_DEVINTERFACE_COMPORT)
        return modem || device.ClassGuid == GUID_DEVCLASS_GADGETSERIAL ? QString() : device.DevNode;
    if (interfaceGuid == GUID_DEVCLASS_PORTS) return PersistentLink(device);
    return {};
}

void ReadProperties(TnrDevice& record, const TSetupDevice& device) {
    record.Driver = GetDeviceRegistryString(device, SPDRP_DRIVER);
    record.Service = GetDeviceRegistryString(device, SPDRP_SERVICE);
    record.NamePDO = GetDeviceRegistryString(device, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    record.Description = GetDeviceRegistryString(device, SPDRP_DEVICEDESC);
    record.Manufacturer = GetDeviceRegistryString(device, SPDRP_MFG);
}

void AddClassRecords(const QList<TSetupDevice>& devices, const TGuid* guid, bool withInterfacePath,
                     const TSetupDatabase& database, TnrDeviceList& list) {
    const QString root = SysfsRootOf(database);
    const TPortNameLookup portNameOf = database.PortNameOf ? database.PortNameOf : MapPortNameLookup();
    for (const TSetupDevice& device : devices) {
        if (guid && device.ClassGuid != *guid) continue;
        auto* record = new TnrDevice;
        ReadProperties(*record, device);
        record->GuidClass = device.ClassGuid;

        // The tty's sysfs directory plays the device's hardware key; a port declared
        // only in a map file has none.
        if (!device.SysPath.isEmpty()) {
            const int key =
                ::open(device.SysPath.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (key >= 0) {
                TSetupRoot keyRoot = TSetupRoot::srNone;
                GetKeyPath(key, &keyRoot, record->RegKey);
                ::close(key);
            }
        }
        record->NameSymbolic = PersistentLink(device);
        record->PortName = portNameOf(device.DevNode, device.DevLinks);

        const QString hardware = device.HardwarePath.isEmpty() ? device.SysPath : device.HardwarePath;
        const QString relative = hardware.isEmpty() ? QString() : RelativeTo(root, hardware);
        if (!relative.isEmpty()) {
            record->InstanceId = QLatin1Char('/') + relative;
            record->BusRelations = GetDeviceIdList(record->InstanceId, QStringLiteral(";"), true);
        }

        if (withInterfacePath && guid) {
            const QString path = InterfacePath(device, *guid);
            if (!path.isEmpty()) record->NameSymbolic = path;
        }
        list.append({record->Driver, record});
    }
}

void AddInterfaceRecords(const QList<TSetupDevice>& devices, const TGuid& guid, TnrDeviceList& list) {
    for (const TSetupDevice& device : devices) {
        const QString path = InterfacePath(device, guid);
        if (path.isEmpty()) continue; // nothing to open: no interface of this class
        auto* record = new TnrDevice;
        ReadProperties(*record, device);
        record->NameSymbolic = path;
        record->GuidClass = device.ClassGuid;
        list.append({record->Driver, record});
    }
}

// The kernel's name of the tty driver behind a device node (/proc/tty/drivers), e.g.
// pty_slave for /dev/pts/3; empty when the node is no tty the kernel lists.
QString TtyDriverName(const QString& devNode) {
    struct stat st {};
    if (::stat(devNode.toLocal8Bit().constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
    const unsigned major = ::major(st.st_rdev), minor = ::minor(st.st_rdev);
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    // name, node prefix, major, minor range ("64" or "0-1048575"), type
    for (const QByteArray& line : drivers.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || fields[2].toUInt() != major) continue;
        const QList<QByteArray> range = fields[3].split('-');
        const unsigned first = range[0].toUInt();
        const unsigned last = range.size() > 1 ? range[1].toUInt() : first;
        if (minor >= first && minor <= last) return QString::fromLocal8Bit(fields[0]);
    }
    return {};
}

void CollectChildDevices(const QString& directory, bool recursive, QStringList& found) {
    const QFileInfoList entries =
        QDir(directory).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString path = entry.absoluteFilePath();
        const bool isDevice = QFileInfo::exists(path + QStringLiteral("/uevent"));
        if (isDevice) found.append(path);
        // Grouping folders ("tty", "power") are not devices but may hold devices.
        if (!isDevice || recursive) CollectChildDevices(path, recursive, found);
    }
}

} // namespace

QString GuidToString(const TGuid& g) {
    return QString::asprintf("{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                             g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                             g[14], g[15]);
}

void SetSetupDatabase(const TSetupDatabase& database) {
    std::lock_guard guard(gDatabaseLock);
    gDatabase = database;
}

TSetupDatabase SetupDatabase() {
    std::lock_guard guard(gDatabaseLock);
    return gDatabase;
}

QList<TSetupDevice> ReadSetupDevices(const TSetupDatabase& database, bool PresentOnly) {
    QList<TSetupDevice> devices;
    const QString root = SysfsRootOf(database);
    const QString classDir = root + QStringLiteral("/class/tty");
    const QStringList names = QDir(classDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    TUdevContext udev; // only used when the database gives no properties
    for (const QString& name : names) {
        TSetupDevice device;
        device.SysName = name;
        device.SysPath = QFileInfo(classDir + QLatin1Char('/') + name).canonicalFilePath();
        if (device.SysPath.isEmpty()) continue;
        const QString deviceLink = device.SysPath + QStringLiteral("/device");
        const bool virtualSerial = name.startsWith(QLatin1String("rfcomm")) ||
                                   name.startsWith(QLatin1String("ircomm")) ||
                                   name.startsWith(QLatin1String("ttyGS"));
        if (QFileInfo::exists(deviceLink)) {
            device.HardwarePath = QFileInfo(deviceLink).canonicalFilePath();
            // Since Linux 6.5 a serial-core tty hangs off a port and a controller on the
            // serial-base bus; the hardware and its driver sit above them.
            while (IsUnderRoot(root, device.HardwarePath) &&
                   LinkTargetName(device.HardwarePath + QStringLiteral("/subsystem")) ==
                       QLatin1String("serial-base"))
                device.HardwarePath = QFileInfo(device.HardwarePath).path();
            device.Bus = LinkTargetName(device.HardwarePath + QStringLiteral("/subsystem"));
            device.DriverName = LinkTargetName(device.HardwarePath + QStringLiteral("/driver"));
        } else if (!virtualSerial) {
            continue; // virtual consoles, ptmx, console: no serial device behind them
        }
        // The 8250 driver registers placeholder ports whether or not a UART answers:
        // "type" 0, or no type at all on a serial8250 device.
        const QString uartType = ReadAttribute(device.SysPath, QStringLiteral("type"));
        if (uartType == QLatin1String("0") ||
            (uartType.isEmpty() &&
             LinkTargetName(deviceLink + QStringLiteral("/driver")) == QLatin1String("serial8250")))
            continue;

        device.Properties =
            database.Properties ? database.Properties(device.SysPath) : udev.Properties(device.SysPath);
        QString devName = device.Properties.value(QStringLiteral("DEVNAME"));
        if (devName.isEmpty()) {
            const QStringList uevent =
                ReadAttribute(device.SysPath, QStringLiteral("uevent")).split(QLatin1Char('\n'));
            for (const QString& line : uevent)
                if (line.startsWith(QLatin1String("DEVNAME="))) devName = line.mid(8).trimmed();
        }
        if (!devName.isEmpty())
            device.DevNode =
                devName.startsWith(QLatin1Char('/')) ? devName : QStringLiteral("/dev/") + devName;
        device.DevLinks =
            device.Properties.value(QStringLiteral("DEVLINKS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        devices.append(device);
    }

    // Ports that map files declare and sysfs does not show: pseudo-terminals, socat
    // links, a converter that is unplugged. Present when the path leads to a device.
    QSet<QString> known;
    for (const TSetupDevice& device : std::as_const(devices)) {
        known.insert(device.DevNode);
        known.insert(Canonical(device.DevNode));
        for (const QString& link : device.DevLinks)
            known.insert(link);
    }
    for (const TnrPortMapEntry& entry : ReadSerialPortMap()) {
        const QString target = Canonical(entry.DevicePath);
        if (!entry.FromMapFile || known.contains(entry.DevicePath) || known.contains(target)) continue;
        known.insert(target);
        const bool present = QFileInfo::exists(entry.DevicePath);
        if (PresentOnly && !present) continue;
        TSetupDevice device;
        device.SysName = QFileInfo(target).fileName();
        device.DevNode = entry.DevicePath;
        device.DriverName = present ? TtyDriverName(target) : QString();
        devices.append(device);
    }

    QHash<QString, int> ttysPerHardware;
    for (const TSetupDevice& device : std::as_const(devices))
        if (!device.HardwarePath.isEmpty()) ++ttysPerHardware[device.HardwarePath];
    for (TSetupDevice& device : devices)
        device.ClassGuid = ClassOf(device, ttysPerHardware.value(device.HardwarePath));
    return devices;
}

void EnumSetupDevices(const TGuid* Guid, bool PresentOnly, bool ByClass, bool WithInterfacePath,
                      TnrDeviceList& List) {
    if (!LoadSetupApi()) return;
    const TSetupDatabase database = SetupDatabase();
    const QList<TSetupDevice> devices = ReadSetupDevices(database, PresentOnly);
    if (ByClass) {
        AddClassRecords(devices, Guid, WithInterfacePath, database, List);
    } else if (Guid) {
        AddInterfaceRecords(devices, *Guid, List);
    } else {
        for (const TGuid& g : {GUID_DEVINTERFACE_MODEM, GUID_DEVINTERFACE_COMPORT, GUID_DEVCLASS_PORTS})
            AddInterfaceRecords(devices, g, List);
    }
}

QString GetDeviceRegistryString(const TSetupDevice& Device, std::uint32_t Property) {
    const QString root = SysfsRootOf(SetupDatabase());
    switch (Property) {
    case SPDRP_DEVICEDESC:
        return Description(Device, root);
    case SPDRP_SERVICE:
        return Device.DriverName;
    case SPDRP_DRIVER:
        if (Device.Bus.isEmpty() || Device.DriverName.isEmpty()) return Device.DriverName;
        return Device.Bus + QLatin1Char('/') + Device.DriverName;
    case SPDRP_MFG:
        return Manufacturer(Device, root);
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME:
        return Device.DevNode;
    default:
        return {};
    }
}

QString GetDeviceIdList(const QString& DeviceId, const QString& Separator, bool BusRelations) {
    const QString root = SysfsRootOf(SetupDatabase());
    const QString directory = QFileInfo(root + DeviceId).canonicalFilePath();
    if (DeviceId.isEmpty() || !IsUnderRoot(root, directory)) return {};
    QStringList children;
    CollectChildDevices(directory, !BusRelations, children);
    std::u16string multi;
    for (const QString& child : std::as_const(children)) {
        multi += (QLatin1Char('/') + RelativeTo(root, child)).toStdU16String();
        multi += u'\0';
    }
    multi += u'\0';
    return JoinMultiString(multi.data(), static_cast<int>(multi.size()), Separator);
}

QString JoinMultiString(const char16_t* Buffer, int Length, const QString& Separator) {
    QString result;
    if (!Buffer) return result;
    for (int i = 0; i <= Length - 2; ++i) {
        if (Buffer[i] != u'\0')
            result.append(QChar(Buffer[i]));
        else if (i == Length - 2)
            break;
        else
            result.append(Separator);
    }
    return result;
}

void GetKeyPath(int Key, TSetupRoot* Root, QString& Path) {
    Path.clear();
    if (Root) *Root = TSetupRoot::srNone;
    if (Key < 0) return;
    const QString link = QStringLiteral("/proc/self/fd/%1").arg(Key);
    const QString target = QFileInfo(link).symLinkTarget();
    if (target.isEmpty() || !QFileInfo(target).isDir()) return;
    Path = target;
    if (!Root) return;
    const QString root = SysfsRootOf(SetupDatabase());
    if (IsUnderRoot(root, Path)) {
        *Root = TSetupRoot::srSysfs;
        Path = RelativeTo(root, Path);
    }
}

QString ReadRegString(TSetupRoot Root, const QString& KeyPath, const QString& ValueName) {
    if (ValueName.isEmpty() || ValueName.contains(QLatin1Char('/'))) return {};
    const QString directory =
        Root == TSetupRoot::srSysfs ? SysfsRootOf(SetupDatabase()) + QLatin1Char('/') + KeyPath : KeyPath;
    return ReadAttribute(directory, ValueName);
}
