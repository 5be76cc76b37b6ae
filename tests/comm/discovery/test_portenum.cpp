// The port table read from the serial-port map and the loading of a device list from it,
// alone and merged with the setup database.
#include "listcomponent.h"
#include "machine.h"
#include "nrapplication.h"
#include "platform/nrudev.h"
#include "ptypair.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TPairs = QList<QPair<QString, QString>>;

QStringList TableTexts(const TPortTable& table) {
    QStringList result;
    for (const TPortEntry& e : table)
        result << e.Text;
    return result;
}

// A setup record as a query would give it.
TnrDevice* SetupRecord(const QString& portName, const QString& description, const QString& driver = {}) {
    auto* d = new TnrDevice;
    d->PortName = portName;
    d->Description = description;
    d->Driver = driver.isEmpty() ? QStringLiteral("drv/") + portName : driver;
    d->Service = QStringLiteral("svc-") + portName;
    d->Manufacturer = QStringLiteral("maker-") + portName;
    d->RegKey = QStringLiteral("devices/") + portName;
    return d;
}

// A setup database made of these records, handed out by the first class query (the
// ports class); counts how it was asked.
struct TScriptedSetup {
    QList<std::function<TnrDevice*()>> records;
    QStringList calls;

    TSetupQuery Query() {
        return [this](const TGuid* guid, bool presentOnly, bool byClass, bool withPath, TnrDeviceList& list) {
            calls << QStringLiteral("%1 %2 %3 %4")
                         .arg(GuidToString(*guid), byClass ? "class" : "interface",
                              presentOnly ? "present" : "all", withPath ? "path" : "-");
            if (byClass && *guid == GUID_DEVCLASS_PORTS)
                for (const auto& make : records) {
                    TnrDevice* d = make();
                    list.append({d->Driver, d});
                }
        };
    }
};

QStringList ListTexts(TnrBaseIO& io) {
    TnrDeviceList list;
    io.GetDeviceList(&list);
    QStringList result;
    for (const TnrDeviceEntry& e : list)
        result << e.Text;
    return result;
}

TPortTableSource Table(const TPairs& map) {
    return [map](TPortTable& list, bool withNames) { FillPortTable(map, list, withNames); };
}

} // namespace

TEST(PortTable, NamesAreNormalisedSortedAndListedOnce) {
    TPortTable table;
    FillPortTable({{"/dev/a", "COM10"},
                   {"/dev/b", "com3   "},
                   {"/dev/c", "COM1"},
                   {"/dev/d", "CNCA0"}, // a virtual port named otherwise
                   {"/dev/e", "COMX"},  // not a number
                   {"/dev/f", "COM3"},  // the same name again: the first stays
                   {"/dev/g", "COM-2"},
                   {"/dev/h", "COM2147483648"}, // does not fit
                   {"/dev/i", "COM2"}},
                  table, true);
    EXPECT_EQ(TableTexts(table), (QStringList{"COM1=/dev/c", "COM2=/dev/i", "COM3=/dev/b", "COM10=/dev/a"}));
    EXPECT_EQ(table[3].Number, 10);
    EXPECT_EQ(table[2].Name(), QStringLiteral("COM3"));
    EXPECT_EQ(table[2].Value(), QStringLiteral("/dev/b"));
    EXPECT_EQ(PortTableValue(table, QStringLiteral("COM10")), QStringLiteral("/dev/a"));
    EXPECT_TRUE(PortTableValue(table, QStringLiteral("COM4")).isEmpty());

    FillPortTable({{"/dev/a", "COM2"}, {"/dev/b", "COM1"}}, table, false);
    EXPECT_EQ(TableTexts(table), (QStringList{"COM1", "COM2"})); // cleared first, no device names
    EXPECT_TRUE(table[0].Name().isEmpty());
}

TEST(PortTable, AddPortSortedKeepsOrderAndRefusesRepeats) {
    TPortTable table;
    AddPortSorted(QStringLiteral("COM5"), 5, table);
    AddPortSorted(QStringLiteral("COM1"), 1, table);
    AddPortSorted(QStringLiteral("COM9"), 9, table);
    AddPortSorted(QStringLiteral("com5"), 5, table);  // same text in other case
    AddPortSorted(QStringLiteral("COM05"), 9, table); // the last number again
    AddPortSorted(QStringLiteral("COM01"), 1, table); // an inner number again goes before the greater
    AddPortSorted(QStringLiteral("NEG"), -3, table);  // signed comparison
    EXPECT_EQ(TableTexts(table), (QStringList{"NEG", "COM1", "COM01", "COM5", "COM9"}));

    std::int32_t n = 0;
    EXPECT_TRUE(ParsePortNumber(QStringLiteral("2147483647"), n));
    EXPECT_EQ(n, 2147483647);
    EXPECT_FALSE(ParsePortNumber(QStringLiteral(""), n));
    EXPECT_FALSE(ParsePortNumber(QStringLiteral("+4"), n));
    EXPECT_FALSE(ParsePortNumber(QStringLiteral("4 "), n));
}

TEST(PortEnumeration, QuickModeListsTheMapFilesInPortOrder) {
    TRecordedMachine machine(false);
    machine.WriteMap({QStringLiteral("# virtual ports of the bench"), QStringLiteral("COM10 = /dev/pts/10"),
                      QStringLiteral("com2=/dev/pts/2"), QStringLiteral("COM1 = /dev/pts/1"),
                      QStringLiteral("this line is not an entry"), QStringLiteral("COMX = /dev/pts/5"),
                      QStringLiteral("COM7 = relative/path"), QStringLiteral("COM3 = /dev/pts/3"),
                      QStringLiteral("COM3 = /dev/pts/33")});
    TnrComm io;
    EXPECT_EQ(ListTexts(io), (QStringList{"COM1", "COM2", "COM3", "COM10"}));
    for (int i = 0; i < io.DeviceCount(); ++i) {
        const TnrDevice* d = io.Device(i);
        EXPECT_EQ(d->NameFriendly, d->NameDeviceDos);
        EXPECT_EQ(d->PortName, d->NameDeviceDos);
        EXPECT_TRUE(d->Description.isEmpty() && d->Driver.isEmpty() && d->RegKey.isEmpty());
        EXPECT_EQ(d->Index(), i);
        EXPECT_EQ(d->Parent(), &io);
    }
    EXPECT_EQ(io.Device(0)->NamePDO, QStringLiteral("/dev/pts/1"));
    EXPECT_EQ(io.Device(2)->NamePDO, QStringLiteral("/dev/pts/3")); // the map's own rule: the first line
    EXPECT_EQ(io.IndexOfData(10), 3);
    io.SetComPortNo(10);
    EXPECT_EQ(io.DeviceIndex(), 3);
    EXPECT_EQ(io.ComName(), QStringLiteral("COM10"));
}

TEST(PortEnumeration, AnEmptyOrMissingMapGivesAnEmptyListAndIsAskedAgain) {
    TRecordedMachine machine(false);
    TListComponent io;
    TnrDeviceList copy;
    io.GetDeviceList(&copy);
    EXPECT_TRUE(copy.isEmpty());
    io.GetDeviceList(&copy);
    EXPECT_EQ(io.Loads, 2);

    machine.WriteMap({QStringLiteral("COM4 = /dev/pts/4")});
    io.GetDeviceList(&copy);
    ASSERT_EQ(copy.size(), 1);
    io.GetDeviceList(&copy);
    EXPECT_EQ(io.Loads, 3); // kept once loaded
}

TEST(PortEnumeration, FullModesAskTheTwelveQueriesInOrder) {
    TListComponent io;
    TScriptedSetup setup;
    io.Query = setup.Query();
    io.Ports = Table({});
    io.GetDeviceList(nullptr);
    EXPECT_TRUE(setup.calls.isEmpty()); // quick mode: the map alone

    io.Mode = epFullPresent;
    io.GetDeviceList(nullptr);
    ASSERT_EQ(setup.calls.size(), 12);
    EXPECT_EQ(setup.calls[0],
              QStringLiteral("{2C7089AA-2E0E-11D1-B114-00C04FC2AAE4} interface present path"));
    EXPECT_EQ(setup.calls[2],
              QStringLiteral("{4D36E978-E325-11CE-BFC1-08002BE10318} interface present path"));
    EXPECT_EQ(setup.calls[3], QStringLiteral("{4D36E978-E325-11CE-BFC1-08002BE10318} class present -"));
    EXPECT_EQ(setup.calls[11], QStringLiteral("{DF799E12-3C56-421B-B298-B6D3642BC878} class present -"));

    setup.calls.clear();
    io.Mode = epFullInfo;
    io.GetDeviceList(nullptr);
    ASSERT_EQ(setup.calls.size(), 12);
    EXPECT_TRUE(setup.calls[5].endsWith(QStringLiteral("class all -")));
}

TEST(PortEnumeration, FullInfoMergesDetailsAndAddsPortsTheMapLacks) {
    TListComponent io;
    io.Mode = epFullInfo;
    io.Ports = Table({{"/dev/ttyS4", "COM5"}, {"/dev/pts/3", "COM7"}, {"/dev/pts/9", "COM12"}});
    TScriptedSetup setup;
    setup.records = {
        [] { return SetupRecord("COM5", "16550A UART"); },
        [] { return SetupRecord("", "USB adapter (COM7)"); }, // an interface record: no name of its own
        [] { return SetupRecord("com12", ""); },              // matches without regard to case
        [] { return SetupRecord("COM9", "Bluetooth link"); }, // known, not in the map
        [] { return SetupRecord("COM9", "second report"); },  // the same port again
        [] { return SetupRecord("ttyGS0", "gadget"); },
        [] { return SetupRecord("LPT1", "printer port"); },
        [] { return SetupRecord("COMX", "odd name"); },
        [] { return SetupRecord("GPS", ""); },
        [] { return SetupRecord("", "no name at all"); },
        [] { return SetupRecord("COM12 ", "blank behind"); }, // no match with COM12; reads as number 0
    };
    io.Query = setup.Query();
    io.GetDeviceList(nullptr);

    EXPECT_EQ(io.Texts(), (QStringList{"COMX (odd name)", "COM5 (16550A UART)", "COM7 (USB adapter (COM7))",
                                       "COM9 (Bluetooth link)", "COM12", "ttyGS0 (gadget)", "GPS"}));
    // "COM12 " reads as port 0, which COMX took first.
    EXPECT_EQ(io.Numbers(), (QList<std::int32_t>{0, 5, 7, 9, 12, 4097, 4098}));

    const TnrDevice* com5 = io.Device(1);
    EXPECT_EQ(com5->NamePDO, QStringLiteral("/dev/ttyS4"));
    EXPECT_EQ(com5->NameDeviceDos, QStringLiteral("COM5"));
    EXPECT_EQ(com5->PortName, QStringLiteral("COM5"));
    EXPECT_EQ(com5->Description, QStringLiteral("16550A UART"));
    EXPECT_EQ(com5->Driver, QStringLiteral("drv/COM5"));
    EXPECT_EQ(com5->Service, QStringLiteral("svc-COM5"));
    EXPECT_EQ(com5->Manufacturer, QStringLiteral("maker-COM5"));
    EXPECT_EQ(com5->RegKey, QStringLiteral("devices/COM5"));
    EXPECT_TRUE(com5->InstanceId.isEmpty() && com5->NameSymbolic.isEmpty());
    // Matched through its description: the map's name stays, so the port can be opened.
    EXPECT_EQ(io.Device(2)->PortName, QStringLiteral("COM7"));
    EXPECT_EQ(io.Device(4)->PortName, QStringLiteral("com12"));
    // Not in the map: listed without a device path.
    EXPECT_TRUE(io.Device(3)->NamePDO.isEmpty());
    EXPECT_EQ(io.Device(5)->PortName, QStringLiteral("ttyGS0"));
}

TEST(PortEnumeration, FullPresentDropsUnknownMapPortsOnlyWhileSetupRecordsRemain) {
    TListComponent io;
    io.Mode = epFullPresent;
    io.Ports = Table({{"/dev/pts/1", "COM1"}, {"/dev/pts/2", "COM2"}, {"/dev/ttyS2", "COM3"}});
    TScriptedSetup setup;
    io.Query = setup.Query();

    // No setup record at all: every map port stays.
    io.GetDeviceList(nullptr);
    EXPECT_EQ(io.Texts(), (QStringList{"COM1", "COM2", "COM3"}));

    // The one record matches COM3: COM1 and COM2 are not present.
    setup.records = {[] { return SetupRecord("COM3", "onboard"); }};
    io.Update();
    EXPECT_EQ(io.Texts(), (QStringList{"COM3 (onboard)"}));

    // The record is used up by COM1: the map ports after it stay.
    setup.records = {[] { return SetupRecord("COM1", "adapter"); }};
    io.Update();
    EXPECT_EQ(io.Texts(), (QStringList{"COM1 (adapter)", "COM2", "COM3"}));

    // epFullInfo keeps every map port whatever the setup list holds.
    io.Mode = epFullInfo;
    setup.records = {[] { return SetupRecord("COM3", "onboard"); }};
    io.Update();
    EXPECT_EQ(io.Texts(), (QStringList{"COM1", "COM2", "COM3 (onboard)"}));
}

TEST(PortEnumeration, FullModesOnTheRecordedMachine) {
    TRecordedMachine machine;
    TPtyPair pty;
    // A second name for the pseudo-terminal, through a link as /dev/serial/by-id gives.
    QTemporaryDir links;
    const QString byId = links.filePath(QStringLiteral("usb-Brisemer_GPS-if00-port0"));
    ASSERT_TRUE(QFile::link(pty.SlavePath(), byId));
    machine.WriteMap({QStringLiteral("COM200 = ") + pty.SlavePath(),
                      QStringLiteral("COM201 = /dev/brisemer-test-unplugged"), QStringLiteral("COM202 = ") + byId});
    TnrComm io;
    io.SetEnumPorts(epFullInfo);
    EXPECT_EQ(ListTexts(io),
              (QStringList{"COM1 (16550A UART)", "COM3 (16450 UART)", "COM5 (16550A UART)",
                           "COM6 (16550A UART)", "COM7 (16550A UART)", "COM8 (16550A UART)",
                           "COM9 (16550A UART)", "COM33 (FT232 Serial (UART) IC)", "COM65 (HSPA Modem)",
                           "COM66 (u-blox GNSS receiver)", "COM200", "COM201", "COM202"}));
    const TnrDevice* usb = io.Device(io.IndexOfData(33));
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->NamePDO, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(usb->PortName, QStringLiteral("COM33"));
    EXPECT_EQ(usb->Driver, QStringLiteral("usb-serial/ftdi_sio"));
    EXPECT_EQ(usb->Manufacturer, QStringLiteral("Future Technology Devices"));
    EXPECT_EQ(usb->RegKey,
              QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0"));
    // The pseudo-terminal is a port of the kernel's pty driver.
    const TnrDevice* pts = io.Device(io.IndexOfData(200));
    ASSERT_NE(pts, nullptr);
    EXPECT_EQ(pts->Service, QStringLiteral("pty_slave"));
    EXPECT_EQ(pts->NamePDO, pty.SlavePath());
    EXPECT_EQ(pts->PortName, QStringLiteral("COM200"));

    // Only present devices: the declared port whose path leads nowhere is left out; both
    // names of the present pseudo-terminal stay, each opening by its own name.
    io.SetEnumPorts(epFullPresent);
    io.Update();
    EXPECT_EQ(io.DeviceCount(), 12);
    EXPECT_GE(io.IndexOfData(200), 0);
    EXPECT_EQ(io.IndexOfData(201), -1);
    const TnrDevice* link = io.Device(io.IndexOfData(202));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->PortName, QStringLiteral("COM202"));
    EXPECT_EQ(link->Service, QStringLiteral("pty_slave"));

    // Without libudev the full modes list exactly the map.
    const QString saved = SetupApiLibraryName();
    FreeSetupApi();
    SetSetupApiLibraryName(QStringLiteral("libudev-not-installed.so.9"));
    io.Update();
    FreeSetupApi();
    SetSetupApiLibraryName(saved);
    EXPECT_EQ(io.DeviceCount(), 13);
    EXPECT_EQ(io.Device(0)->NameFriendly, QStringLiteral("COM1"));
    EXPECT_TRUE(io.Device(0)->Driver.isEmpty());
    EXPECT_EQ(io.Device(11)->NameFriendly, QStringLiteral("COM201"));
}

TEST(PortEnumeration, NoSysfsGivesTheDeclaredPortsAndNoErrorBox) {
    TRecordedMachine machine(false);
    TPtyPair pty;
    machine.WriteMap({QStringLiteral("COM7 = ") + pty.SlavePath()});
    TnrPortMapSources sources = SerialPortMapSources();
    sources.SysfsRoot = QStringLiteral("/nonexistent-sysfs");
    SetSerialPortMapSources(sources);
    QStringList shown;
    auto previous =
        SetUserMessageHandler([&](TUserMessageKind, const QString& text, const QString&) { shown << text; });
    for (TnrEnumPorts mode : {epQuickAll, epFullInfo, epFullPresent}) {
        TnrComm io;
        io.SetEnumPorts(mode);
        EXPECT_EQ(ListTexts(io), QStringList{"COM7"}) << int(mode);
    }
    SetUserMessageHandler(previous);
    EXPECT_TRUE(shown.isEmpty());
}
