// Fuzz target: the device list of a serial port component.
//
// The fuzzer inserts records (any 32-bit Data, duplicates included), clears the list,
// selects positions and loads the list from port tables and device-setup records of its
// own making, in all three enumeration modes. After every step the list is checked
// against a plain ordered map of Data -> name:
//   - sorted by Data, no Data twice, Index equal to the position, Parent the component;
//   - a duplicate is refused with -1 and stays the caller's (released here: a leak or a
//     double free shows under the sanitizers);
//   - selecting a position sets the low 16 bits of its Data as the port number and sends
//     one notification 3; any other position changes and sends nothing.
#include "fuzzsupport.h"
#include "nrcomm.h"
#include "nrportenum.h"
#include "platform/nrportmap.h"

#include <QPair>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <memory>

namespace {

class TListener : public QObject {
public:
    void Notify(QObject*, int Code) { codes.append(Code); }
    QList<int> codes;
};

std::int32_t FuzzData(FuzzedDataProvider& fdp) {
    // Mostly small numbers, so that duplicates and neighbours are common.
    switch (fdp.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return fdp.ConsumeIntegral<std::int32_t>();
    case 1:
        return 65536 + fdp.ConsumeIntegralInRange(-3, 3); // beyond 16 bits
    default:
        return fdp.ConsumeIntegralInRange(-3, 12);
    }
}

QString FuzzName(FuzzedDataProvider& fdp) {
    static const char* const names[] = {"COM1", "COM3", "com3",    "COM03", " COM7 ",        "COM70000",
                                        "COM",  "LPT1", "ttyUSB0", "",      "COM2147483648", "COM4097"};
    if (fdp.ConsumeBool()) return QString::fromLatin1(names[fdp.ConsumeIntegralInRange<std::size_t>(0, 11)]);
    return QString::fromLatin1(fdp.ConsumeBytesAsString(fdp.ConsumeIntegralInRange(0, 8)).c_str());
}

void CheckList(TnrComm& comm, const std::map<std::int32_t, QString>& model) {
    FUZZ_CHECK(comm.DeviceCount() == static_cast<int>(model.size()),
               QStringLiteral("%1 records, model %2").arg(comm.DeviceCount()).arg(model.size()));
    TnrDeviceList copy;
    comm.GetDeviceList(&copy);
    FUZZ_CHECK(copy.size() == comm.DeviceCount(), QStringLiteral("the copy differs in length"));
    auto expected = model.begin();
    for (int i = 0; i < comm.DeviceCount(); ++i) {
        TnrDevice* d = comm.Device(i);
        FUZZ_CHECK(d != nullptr, QStringLiteral("no record at %1").arg(i));
        FUZZ_CHECK(d->Index() == i, QStringLiteral("record at %1 has Index %2").arg(i).arg(d->Index()));
        FUZZ_CHECK(d->Parent() == &comm, QStringLiteral("record at %1 has another parent").arg(i));
        FUZZ_CHECK(
            i == 0 || comm.Device(i - 1)->Data < d->Data,
            QStringLiteral("Data %1 at %2 after %3").arg(d->Data).arg(i).arg(comm.Device(i - 1)->Data));
        // The lookups walk the list: all of them for a short list, a few for a long one.
        if (comm.DeviceCount() <= 32 || i % 16 == 0 || i == comm.DeviceCount() - 1)
            FUZZ_CHECK(comm.IndexOfDevice(d) == i && comm.IndexOfData(d->Data) == i,
                       QStringLiteral("lookups of record %1").arg(i));
        FUZZ_CHECK(copy[i].Device == d && copy[i].Text == d->NameFriendly,
                   QStringLiteral("copied entry %1").arg(i));
        FUZZ_CHECK(d->Data == expected->first && d->NameFriendly == expected->second,
                   QStringLiteral("record %1 is %2 '%3', model %4 '%5'")
                       .arg(i)
                       .arg(d->Data)
                       .arg(d->NameFriendly)
                       .arg(expected->first)
                       .arg(expected->second));
        ++expected;
    }
    FUZZ_CHECK(comm.Device(-1) == nullptr && comm.Device(comm.DeviceCount()) == nullptr,
               QStringLiteral("a position out of range gave a record"));
    // The selected position is the record carrying the port number, and the port opens
    // under that record's name or, without one, as "COMn".
    const auto selected = model.find(comm.ComPortNo());
    const int index = selected == model.end() ? -1 : static_cast<int>(std::distance(model.begin(), selected));
    FUZZ_CHECK(comm.DeviceIndex() == index,
               QStringLiteral("DeviceIndex %1 for port %2").arg(comm.DeviceIndex()).arg(comm.ComPortNo()));
    FUZZ_CHECK(comm.ComName() ==
                   (index < 0 ? QStringLiteral("COM%1").arg(comm.ComPortNo()) : comm.Device(index)->PortName),
               QStringLiteral("ComName %1 for port %2").arg(comm.ComName()).arg(comm.ComPortNo()));
}

// A port table as the serial-port map would give it, from (device path, port name) pairs.
TPortTable FuzzPortTable(FuzzedDataProvider& fdp) {
    QList<QPair<QString, QString>> map;
    const int n = fdp.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < n; ++i)
        map.append({QStringLiteral("/dev/fz%1").arg(i), FuzzName(fdp)});
    TPortTable table;
    FillPortTable(map, table, true);
    for (qsizetype i = 1; i < table.size(); ++i)
        FUZZ_CHECK(table[i - 1].Number <= table[i].Number, QStringLiteral("the port table is out of order"));
    return table;
}

void LoadFromFuzzedSources(TnrComm& comm, FuzzedDataProvider& fdp, std::map<std::int32_t, QString>& model) {
    const auto mode = static_cast<TnrEnumPorts>(fdp.ConsumeIntegralInRange(0, 2));
    const TPortTable table = FuzzPortTable(fdp);
    int setupCalls = 0;
    auto query = [&](const TGuid*, bool, bool, bool, TnrDeviceList& list) {
        ++setupCalls;
        const int n = fdp.ConsumeIntegralInRange(0, 2);
        for (int i = 0; i < n; ++i) {
            auto* d = new TnrDevice;
            d->PortName = FuzzName(fdp);
            if (fdp.ConsumeBool()) d->Description = QStringLiteral("Port (%1)").arg(FuzzName(fdp));
            d->Service = QStringLiteral("fuzz");
            list.append({d->PortName, d});
        }
    };
    auto ports = [&](TPortTable& list, bool) { list = table; };
    const std::map<std::int32_t, QString> before = model;
    LoadSerialDeviceList(comm, mode, query, ports);
    FUZZ_CHECK((mode == epQuickAll) == (setupCalls == 0),
               QStringLiteral("setup queried in mode %1").arg(mode));
    if (mode == epQuickAll) {
        // The map alone: every number of the table is listed, records already there stay.
        for (const TPortEntry& entry : table)
            if (model.find(entry.Number) == model.end()) model.emplace(entry.Number, entry.Name().trimmed());
        CheckList(comm, model);
    } else {
        // What the setup records add is not modelled; the list must still hold what it held.
        model.clear();
        for (int i = 0; i < comm.DeviceCount(); ++i)
            model.emplace(comm.Device(i)->Data, comm.Device(i)->NameFriendly);
        for (const auto& [data, name] : before) {
            const auto it = model.find(data);
            FUZZ_CHECK(it != model.end() && it->second == name,
                       QStringLiteral("loading lost record %1").arg(data));
        }
        CheckList(comm, model);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    // Reading the list of an empty component enumerates the serial-port map: point it at
    // empty sources of our own, never at the machine's ports.
    TnrPortMapSources nothing;
    nothing.SystemMapFile = FuzzScratchFolder() + QStringLiteral("/no-system-map");
    nothing.UserMapFile = FuzzScratchFolder() + QStringLiteral("/no-user-map");
    nothing.SysfsRoot = FuzzScratchFolder() + QStringLiteral("/no-sysfs");
    nothing.DevRoot = FuzzScratchFolder() + QStringLiteral("/no-dev");
    SetSerialPortMapSources(nothing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    TnrComm comm;
    TListener listener;
    comm.NotifyAdd(TnrNotifyEvent(&listener, &TListener::Notify));
    std::map<std::int32_t, QString> model;

    for (int step = 0; step < 200 && fdp.remaining_bytes() > 0; ++step) {
        listener.codes.clear();
        switch (fdp.ConsumeIntegralInRange(0, 7)) {
        case 0:
        case 1:
        case 2:
        case 3: {
            auto record = std::make_unique<TnrDevice>();
            record->Data = FuzzData(fdp);
            record->NameFriendly = FuzzName(fdp);
            const bool known = model.count(record->Data) != 0;
            const int position = comm.InsertDevice(record.get());
            if (known) {
                FUZZ_CHECK(position == -1,
                           QStringLiteral("duplicate Data %1 taken at %2").arg(record->Data).arg(position));
                FUZZ_CHECK(comm.IndexOfDevice(record.get()) == -1 && record->Parent() == nullptr,
                           QStringLiteral("a refused record was touched"));
            } else {
                model.emplace(record->Data, record->NameFriendly);
                const int rank = static_cast<int>(std::distance(model.begin(), model.find(record->Data)));
                FUZZ_CHECK(
                    position == rank,
                    QStringLiteral("Data %1 at %2, expected %3").arg(record->Data).arg(position).arg(rank));
                record.release(); // the list owns it now
            }
            break;
        }
        case 4:
            comm.ClearDeviceList();
            model.clear();
            break;
        case 5: {
            const int index = fdp.ConsumeIntegralInRange(-2, comm.DeviceCount() + 1);
            const std::uint16_t portBefore = comm.ComPortNo();
            comm.SetDeviceIndex(index);
            if (index >= 0 && index < comm.DeviceCount()) {
                const auto expected = static_cast<std::uint16_t>(comm.Device(index)->Data & 0xFFFF);
                FUZZ_CHECK(comm.ComPortNo() == expected,
                           QStringLiteral("port %1 after selecting %2").arg(comm.ComPortNo()).arg(index));
                FUZZ_CHECK(listener.codes == QList<int>{NOTIFY_DEVICE_CHANGED},
                           QStringLiteral("notifications after a selection"));
            } else {
                FUZZ_CHECK(comm.ComPortNo() == portBefore && listener.codes.isEmpty(),
                           QStringLiteral("selecting %1 of %2 changed something")
                               .arg(index)
                               .arg(comm.DeviceCount()));
            }
            break;
        }
        case 6:
            comm.SetComPortNo(static_cast<std::uint16_t>(FuzzData(fdp)));
            break;
        case 7:
            LoadFromFuzzedSources(comm, fdp, model);
            break;
        }
        CheckList(comm, model);
        FUZZ_CHECK(!comm.Active(), QStringLiteral("a port opened"));
    }
    return 0;
}
