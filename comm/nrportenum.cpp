#include "nrportenum.h"

#include "nrbaseio.h"
#include "nrcomm.h"
#include "platform/nrportmap.h"

#include <QFileInfo>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The queries of the full modes, in the order they run.
struct TSetupRow {
    bool byClass;
    TGuid guid;
};

constexpr TSetupRow kSetupRows[] = {
    {false, GUID_DEVINTERFACE_MODEM},    {false, GUID_DEVINTERFACE_COMPORT},
    {false, GUID_DEVCLASS_PORTS},        {true, GUID_DEVCLASS_PORTS},
    {true, GUID_DEVCLASS_INFRARED},      {true, GUID_DEVCLASS_ADAPTER},
    {true, GUID_DEVCLASS_BLUETOOTH},     {true, GUID_DEVCLASS_MODEM},
    {true, GUID_DEVCLASS_MULTIFUNCTION}, {true, GUID_DEVCLASS_MULTIPORTSERIAL},
    {true, GUID_DEVCLASS_LEGACYDRIVER},  {true, GUID_DEVCLASS_GADGETSERIAL},
};

// Numbers given to ports whose name does not begin with "COM" start above this.
constexpr std::int32_t kSubstituteBase = 4096;

bool HasEntryNamed(const TPortTable& list, const QString& name) {
    for (const TPortEntry& entry : list)
        if (entry.Name().compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// Takes over the setup record's details: its description behind the shown name.
void MergeSetupRecord(TnrDevice& record, const TnrDevice& setup) {
    record.Service = setup.Service;
    record.Description = setup.Description;
    if (!setup.Description.isEmpty())
        record.NameFriendly += QStringLiteral(" (") + setup.Description + QLatin1Char(')');
    record.Driver = setup.Driver;
    record.Manufacturer = setup.Manufacturer;
    // An interface record carries no port name; the map's name stays, or the port could
    // not be opened by any name.
    const QString portName = setup.PortName.trimmed();
    if (!portName.isEmpty()) record.PortName = portName;
    record.RegKey = setup.RegKey;
}

// The file a device path leads to, so that two names of one device compare equal.
QString SameDevicePath(const QString& path) {
    if (path.isEmpty()) return path;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// Setup records already matched to a map port, by the device path they were matched for.
using TMatchedDevices = std::vector<std::pair<QString, std::unique_ptr<TnrDevice>>>;

const TnrDevice* MatchedDevice(const TMatchedDevices& matched, const QString& devicePath) {
    if (devicePath.isEmpty()) return nullptr;
    const QString same = SameDevicePath(devicePath);
    for (const auto& [path, device] : matched)
        if (path == same) return device.get();
    return nullptr;
}

struct TSetupListOwner {
    TnrDeviceList list;
    ~TSetupListOwner() {
        for (const TnrDeviceEntry& entry : std::as_const(list))
            delete entry.Device;
    }
};

} // namespace

QString TPortEntry::Name() const {
    const qsizetype eq = Text.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : Text.left(eq);
}

QString TPortEntry::Value() const {
    const qsizetype eq = Text.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : Text.mid(eq + 1);
}

bool ParsePortNumber(const QString& Text, std::int32_t& Number) {
    if (Text.isEmpty()) return false;
    std::int64_t value = 0;
    for (const QChar c : Text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) return false;
    }
    Number = static_cast<std::int32_t>(value);
    return true;
}

void AddPortSorted(const QString& Text, std::int32_t Number, TPortTable& List) {
    for (const TPortEntry& entry : std::as_const(List))
        if (entry.Text.compare(Text, Qt::CaseInsensitive) == 0) return;
    if (List.isEmpty() || List.last().Number < Number) {
        List.append({Text, Number});
        return;
    }
    for (qsizetype i = 0; i < List.size(); ++i) {
        if (List[i].Number > Number) {
            List.insert(i, {Text, Number});
            return;
        }
    }
    // The last entry carries Number itself: the port is listed already.
}

QString PortTableValue(const TPortTable& List, const QString& Name) {
    for (const TPortEntry& entry : List)
        if (entry.Name() == Name) return entry.Value();
    return {};
}

void EnumSerialPorts(TPortTable& List, bool WithDeviceNames) {
    QList<QPair<QString, QString>> map;
    for (const TnrPortMapEntry& entry : ReadSerialPortMap())
        map.append({entry.DevicePath, entry.PortName});
    FillPortTable(map, List, WithDeviceNames);
}

void FillPortTable(const QList<QPair<QString, QString>>& Map, TPortTable& List, bool WithDeviceNames) {
    List.clear();
    for (const auto& [devicePath, portName] : Map) {
        const QString name = portName.toUpper().trimmed();
        if (!name.startsWith(QLatin1String("COM")) || HasEntryNamed(List, name)) continue;
        std::int32_t number = 0;
        if (!ParsePortNumber(name.mid(3), number)) continue;
        AddPortSorted(WithDeviceNames ? name + QLatin1Char('=') + devicePath : name, number, List);
    }
}

void LoadSerialDeviceList(TnrBaseIO& Component, TnrEnumPorts Mode, const TSetupQuery& Query,
                          const TPortTableSource& Ports) {
    const bool fullMode = Mode != epQuickAll;
    const bool presentOnly = Mode == epFullPresent;
    TPortTable ports;
    TSetupListOwner setup;
    TMatchedDevices matched;

    if (fullMode)
        for (const TSetupRow& row : kSetupRows) {
            if (Query)
                Query(&row.guid, presentOnly, row.byClass, !row.byClass, setup.list);
            else
                EnumSetupDevices(&row.guid, presentOnly, row.byClass, !row.byClass, setup.list);
        }

    if (Ports)
        Ports(ports, true);
    else
        EnumSerialPorts(ports, true);

    for (const TPortEntry& entry : std::as_const(ports)) {
        auto record = std::make_unique<TnrDevice>();
        record->NameFriendly = entry.Name().trimmed();
        record->NameDeviceDos = record->NameFriendly;
        record->NamePDO = PortTableValue(ports, record->NameFriendly);
        record->Data = entry.Number;
        record->PortName = record->NameDeviceDos;

        if (fullMode) {
            const QString bracketed = QLatin1Char('(') + record->NameDeviceDos + QLatin1Char(')');
            qsizetype match = -1;
            for (qsizetype i = 0; i < setup.list.size(); ++i) {
                const TnrDevice* s = setup.list[i].Device;
                if (s->PortName.compare(record->NameDeviceDos, Qt::CaseInsensitive) == 0 ||
                    s->Description.contains(bracketed)) {
                    match = i;
                    break;
                }
            }
            if (match >= 0) {
                std::unique_ptr<TnrDevice> s(setup.list.takeAt(match).Device);
                MergeSetupRecord(*record, *s);
                matched.emplace_back(SameDevicePath(record->NamePDO), std::move(s));
            } else if (const TnrDevice* same = MatchedDevice(matched, record->NamePDO)) {
                // A second name for a device already listed (a by-id link and its tty):
                // the device is there, under this name too, and opens by this name.
                const QString ownName = record->PortName;
                MergeSetupRecord(*record, *same);
                record->PortName = ownName;
            } else if (presentOnly && !setup.list.isEmpty()) {
                continue; // not present: the setup database does not know the port
            }
        }

        if (Component.InsertDevice(record.get()) >= 0) record.release(); // the list owns it now
    }

    if (!fullMode) return;
    std::int32_t substitute = kSubstituteBase;
    for (const TnrDeviceEntry& entry : std::as_const(setup.list)) {
        const TnrDevice& s = *entry.Device;
        if (s.PortName.isEmpty() || s.PortName.startsWith(QLatin1String("LPT"))) continue;
        auto record = std::make_unique<TnrDevice>();
        record->NameFriendly = s.PortName;
        record->NameDeviceDos = s.PortName;
        record->NamePDO = PortTableValue(ports, s.PortName);
        if (s.PortName.startsWith(QLatin1String("COM"))) {
            std::int32_t number = 0;
            record->Data = ParsePortNumber(s.PortName.mid(3), number) ? number : 0;
        } else {
            record->Data = ++substitute;
        }
        MergeSetupRecord(*record, s);
        if (Component.InsertDevice(record.get()) >= 0) record.release();
    }
}
