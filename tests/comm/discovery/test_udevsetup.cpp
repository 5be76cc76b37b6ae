// The device-setup queries on a recorded sysfs tree with recorded udev properties, the
// small sysfs routines they use, and the on-demand loading of libudev.
#include "machine.h"
#include "platform/nrudev.h"
#include "ptypair.h"

#include <QDir>
#include <QFileInfo>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct TRecords {
    TnrDeviceList list;
    ~TRecords() {
        for (const auto& e : std::as_const(list))
            delete e.Device;
    }
    const TnrDevice* ByPdo(const QString& node) const {
        for (const auto& e : list)
            if (e.Device->NamePDO == node) return e.Device;
        return nullptr;
    }
    QStringList Pdos() const {
        QStringList result;
        for (const auto& e : list)
            result << e.Device->NamePDO;
        return result;
    }
};

QString ClassOfTty(const QList<TSetupDevice>& devices, const QString& name) {
    for (const TSetupDevice& d : devices)
        if (d.SysName == name) return GuidToString(d.ClassGuid);
    return QStringLiteral("absent");
}

} // namespace

TEST(SetupQueries, GuidsKeepTheirTextualForm) {
    EXPECT_EQ(GuidToString(GUID_DEVCLASS_PORTS), QStringLiteral("{4D36E978-E325-11CE-BFC1-08002BE10318}"));
    EXPECT_EQ(GuidToString(GUID_DEVINTERFACE_COMPORT),
              QStringLiteral("{86E0D1E0-8089-11D0-9CE4-08003E301F73}"));
    // The first group is stored little-endian, as in the 16-byte record.
    EXPECT_EQ(GUID_DEVCLASS_PORTS[0], 0x78);
    EXPECT_EQ(GUID_DEVCLASS_PORTS[3], 0x4D);
}

TEST(SetupQueries, EveryTtyFallsInOneClassAndNonDevicesAreLeftOut) {
    TRecordedMachine machine;
    const QList<TSetupDevice> devices = ReadSetupDevices(SetupDatabase());
    const QString ports = GuidToString(GUID_DEVCLASS_PORTS);
    EXPECT_EQ(ClassOfTty(devices, "ttyS0"), ports);   // onboard, behind serial-base
    EXPECT_EQ(ClassOfTty(devices, "ttyUSB0"), ports); // USB converter
    EXPECT_EQ(ClassOfTty(devices, "ttyACM1"), ports); // CDC ACM without AT commands
    EXPECT_EQ(ClassOfTty(devices, "ttyS6"), ports);   // single-port PCI card
    EXPECT_EQ(ClassOfTty(devices, "ttyACM0"), GuidToString(GUID_DEVCLASS_MODEM));
    EXPECT_EQ(ClassOfTty(devices, "ttyS2"), GuidToString(GUID_DEVCLASS_LEGACYDRIVER));
    EXPECT_EQ(ClassOfTty(devices, "ttyS4"), GuidToString(GUID_DEVCLASS_MULTIPORTSERIAL));
    EXPECT_EQ(ClassOfTty(devices, "ttyS5"), GuidToString(GUID_DEVCLASS_MULTIPORTSERIAL));
    EXPECT_EQ(ClassOfTty(devices, "ttyS7"), GuidToString(GUID_DEVCLASS_MULTIFUNCTION));
    EXPECT_EQ(ClassOfTty(devices, "ttyS8"), GuidToString(GUID_DEVCLASS_ADAPTER));
    EXPECT_EQ(ClassOfTty(devices, "rfcomm0"), GuidToString(GUID_DEVCLASS_BLUETOOTH));
    EXPECT_EQ(ClassOfTty(devices, "ircomm0"), GuidToString(GUID_DEVCLASS_INFRARED));
    EXPECT_EQ(ClassOfTty(devices, "ttyGS0"), GuidToString(GUID_DEVCLASS_GADGETSERIAL));
    EXPECT_EQ(ClassOfTty(devices, "ttyS1"), QStringLiteral("absent")); // 8250 placeholder
    EXPECT_EQ(ClassOfTty(devices, "tty1"), QStringLiteral("absent"));  // virtual console
    EXPECT_EQ(devices.size(), 13);
}

TEST(SetupQueries, ClassRecordsCarryTheDeviceDetailsAndTheMapPortName) {
    TRecordedMachine machine;
    machine.Properties[QStringLiteral("rfcomm0")] = {
        {QStringLiteral("DEVNAME"), QStringLiteral("/dev/rfcomm0")},
        {QStringLiteral("DEVLINKS"), QStringLiteral("/dev/gps0")}};
    machine.WriteMap({QStringLiteral("COM20 = /dev/gps0")});

    TRecords ports;
    EnumSetupDevices(&GUID_DEVCLASS_PORTS, false, true, false, ports.list);
    EXPECT_EQ(ports.Pdos(), (QStringList{"/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS6", "/dev/ttyUSB0"}));

    const TnrDevice* usb = ports.ByPdo(QStringLiteral("/dev/ttyUSB0"));
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->Description, QStringLiteral("FT232 Serial (UART) IC"));
    EXPECT_EQ(usb->Manufacturer, QStringLiteral("Future Technology Devices"));
    EXPECT_EQ(usb->Service, QStringLiteral("ftdi_sio"));
    EXPECT_EQ(usb->Driver, QStringLiteral("usb-serial/ftdi_sio"));
    EXPECT_EQ(usb->PortName, QStringLiteral("COM33")); // ttyUSB<k> is COM(33+k)
    EXPECT_EQ(usb->NameSymbolic, QString::fromLatin1(TRecordedMachine::FtdiById));
    EXPECT_EQ(usb->RegKey,
              QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0"));
    EXPECT_EQ(usb->InstanceId, QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0"));
    EXPECT_EQ(usb->BusRelations,
              QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0"));
    EXPECT_EQ(usb->GuidClass, GUID_DEVCLASS_PORTS);

    // No udev record: the node comes from the uevent file, the description from the
    // UART type, the driver from the device above the serial-base port.
    const TnrDevice* onboard = ports.ByPdo(QStringLiteral("/dev/ttyS0"));
    ASSERT_NE(onboard, nullptr);
    EXPECT_EQ(onboard->Description, QStringLiteral("16550A UART"));
    EXPECT_EQ(onboard->Driver, QStringLiteral("pnp/serial"));
    EXPECT_EQ(onboard->PortName, QStringLiteral("COM1"));
    EXPECT_EQ(onboard->InstanceId, QStringLiteral("/devices/pnp0/00:01"));
    EXPECT_EQ(onboard->BusRelations, QStringLiteral("/devices/pnp0/00:01/00:01:0"));
    EXPECT_TRUE(onboard->NameSymbolic.isEmpty());

    // Without udev's names the USB strings of the device above stand in.
    const TnrDevice* gps = ports.ByPdo(QStringLiteral("/dev/ttyACM1"));
    ASSERT_NE(gps, nullptr);
    EXPECT_EQ(gps->Description, QStringLiteral("u-blox GNSS receiver"));
    EXPECT_EQ(gps->Manufacturer, QStringLiteral("u-blox AG"));
    EXPECT_EQ(gps->PortName, QStringLiteral("COM66"));

    // The list text of each record is its driver.
    for (const auto& e : ports.list)
        EXPECT_EQ(e.Text, e.Device->Driver);

    // A device named in a map file through one of its links.
    TRecords bluetooth;
    EnumSetupDevices(&GUID_DEVCLASS_BLUETOOTH, true, true, false, bluetooth.list);
    ASSERT_EQ(bluetooth.list.size(), 1);
    EXPECT_EQ(bluetooth.list[0].Device->PortName, QStringLiteral("COM20"));
    EXPECT_TRUE(bluetooth.list[0].Device->Driver.isEmpty()); // virtual: no driver of its own

    // Null class: every device of every class.
    TRecords all;
    EnumSetupDevices(nullptr, false, true, false, all.list);
    EXPECT_EQ(all.list.size(), 13);
}

TEST(SetupQueries, PortsOnlyAMapFileDeclaresArePortsClassDevices) {
    TRecordedMachine machine;
    TPtyPair pty;
    machine.WriteMap({QStringLiteral("COM200 = ") + pty.SlavePath(),
                      QStringLiteral("COM201 = /dev/brisemer-test-unplugged"),
                      QStringLiteral("COM40 = /dev/ttyS0")}); // the onboard port under a name of its own
    const QList<TSetupDevice> present = ReadSetupDevices(SetupDatabase(), true);
    const QList<TSetupDevice> all = ReadSetupDevices(SetupDatabase(), false);
    EXPECT_EQ(present.size(), 14);
    ASSERT_EQ(all.size(), 15);
    EXPECT_EQ(all[13].DevNode, pty.SlavePath());
    EXPECT_EQ(all[13].DriverName, QStringLiteral("pty_slave"));
    EXPECT_TRUE(all[13].SysPath.isEmpty());
    EXPECT_EQ(all[14].DevNode, QStringLiteral("/dev/brisemer-test-unplugged"));
    EXPECT_TRUE(all[14].DriverName.isEmpty());

    TRecords ports;
    EnumSetupDevices(&GUID_DEVCLASS_PORTS, true, true, false, ports.list);
    const TnrDevice* pts = ports.ByPdo(pty.SlavePath());
    ASSERT_NE(pts, nullptr);
    EXPECT_EQ(pts->PortName, QStringLiteral("COM200"));
    EXPECT_EQ(pts->Driver, QStringLiteral("pty_slave"));
    EXPECT_TRUE(pts->RegKey.isEmpty() && pts->InstanceId.isEmpty());
    EXPECT_EQ(ports.ByPdo(QStringLiteral("/dev/brisemer-test-unplugged")), nullptr);
    const TnrDevice* onboard = ports.ByPdo(QStringLiteral("/dev/ttyS0"));
    ASSERT_NE(onboard, nullptr);
    EXPECT_EQ(onboard->PortName, QStringLiteral("COM40"));

    TRecords everything;
    EnumSetupDevices(&GUID_DEVCLASS_PORTS, false, true, false, everything.list);
    EXPECT_EQ(everything.list.size(), ports.list.size() + 1);
}

TEST(SetupQueries, InterfaceQueriesGiveWhatOneOpens) {
    TRecordedMachine machine;
    // An onboard port udev gave no node and whose uevent lost it: nothing to open.
    machine.Sysfs.WriteAttribute(machine.TtyPath.value(QStringLiteral("ttyS6")), QStringLiteral("uevent"),
                                 QStringLiteral("MAJOR=4"));

    TRecords modems;
    EnumSetupDevices(&GUID_DEVINTERFACE_MODEM, false, false, true, modems.list);
    ASSERT_EQ(modems.list.size(), 1);
    EXPECT_EQ(modems.list[0].Device->NameSymbolic, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(modems.list[0].Device->GuidClass, GUID_DEVCLASS_MODEM);
    EXPECT_TRUE(modems.list[0].Device->PortName.isEmpty());
    EXPECT_TRUE(modems.list[0].Device->RegKey.isEmpty());

    TRecords comPorts;
    EnumSetupDevices(&GUID_DEVINTERFACE_COMPORT, false, false, true, comPorts.list);
    QStringList paths;
    for (const auto& e : comPorts.list)
        paths << e.Device->NameSymbolic;
    // Modems and gadget functions have no COM port interface; ttyS6 is skipped, the walk
    // goes on behind it.
    EXPECT_EQ(paths, (QStringList{"/dev/ircomm0", "/dev/rfcomm0", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS2",
                                  "/dev/ttyS4", "/dev/ttyS5", "/dev/ttyS7", "/dev/ttyS8", "/dev/ttyUSB0"}));

    TRecords links;
    EnumSetupDevices(&GUID_DEVCLASS_PORTS, false, false, true, links.list);
    ASSERT_EQ(links.list.size(), 1);
    EXPECT_EQ(links.list[0].Device->NameSymbolic, QString::fromLatin1(TRecordedMachine::FtdiById));
    EXPECT_EQ(links.list[0].Device->Description, QStringLiteral("FT232 Serial (UART) IC"));

    // The class query still has a record for the port without a node.
    TRecords ports;
    EnumSetupDevices(&GUID_DEVCLASS_PORTS, false, true, false, ports.list);
    bool found = false;
    for (const auto& e : ports.list)
        found = found || e.Device->RegKey.endsWith(QStringLiteral("/tty/ttyS6"));
    EXPECT_TRUE(found);
}

TEST(SetupQueries, DeviceIdListsFollowTheTreeAndJoinLikeMultiStrings) {
    TRecordedMachine machine;
    const QString usb = QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2");
    // Bus relations: the devices directly below; the "power"-like grouping folders hide
    // nothing.
    EXPECT_EQ(GetDeviceIdList(usb, QStringLiteral(";"), true), usb + QStringLiteral("/1-2:1.0"));
    EXPECT_EQ(GetDeviceIdList(usb, QStringLiteral(";"), false),
              usb + QStringLiteral("/1-2:1.0;") + usb + QStringLiteral("/1-2:1.0/ttyUSB0;") + usb +
                  QStringLiteral("/1-2:1.0/ttyUSB0/tty/ttyUSB0"));
    EXPECT_EQ(GetDeviceIdList(QStringLiteral("/devices/pci0000:00/0000:03:00.0"), QStringLiteral(","), true),
              QStringLiteral(
                  "/devices/pci0000:00/0000:03:00.0/tty/ttyS4,/devices/pci0000:00/0000:03:00.0/tty/ttyS5"));
    EXPECT_TRUE(GetDeviceIdList(QStringLiteral("/devices/nowhere"), QStringLiteral(";"), true).isEmpty());
    EXPECT_TRUE(GetDeviceIdList(QStringLiteral("/../../etc"), QStringLiteral(";"), true).isEmpty());
    EXPECT_TRUE(GetDeviceIdList(QString(), QStringLiteral(";"), true).isEmpty());

    const char16_t two[] = u"A\0B\0"; // A, B and the final double NUL: 5 characters
    EXPECT_EQ(JoinMultiString(two, 5, QStringLiteral(";")), QStringLiteral("A;B"));
    const char16_t one[] = u"AB\0\0\0"; // a length beyond the content
    EXPECT_EQ(JoinMultiString(one, 6, QStringLiteral(";")), QStringLiteral("AB;;"));
    const char16_t empty[] = u"\0";
    EXPECT_TRUE(JoinMultiString(empty, 1, QStringLiteral(";")).isEmpty());
    EXPECT_TRUE(JoinMultiString(nullptr, 5, QStringLiteral(";")).isEmpty());
}

TEST(SetupQueries, KeyPathsSplitOffTheSysfsRootAndAttributesLoseTheirLineEnd) {
    TRecordedMachine machine;
    const QString tty = machine.TtyPath.value(QStringLiteral("ttyS0"));
    const int key = ::open(tty.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(key, 0);
    TSetupRoot root = TSetupRoot::srNone;
    QString path;
    GetKeyPath(key, &root, path);
    EXPECT_EQ(root, TSetupRoot::srSysfs);
    EXPECT_EQ(path, QStringLiteral("devices/pnp0/00:01/00:01:0/00:01:0.0/tty/ttyS0"));
    GetKeyPath(key, nullptr, path);
    EXPECT_EQ(path, QFileInfo(tty).canonicalFilePath());
    ::close(key);

    const int outside = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    GetKeyPath(outside, &root, path);
    EXPECT_EQ(root, TSetupRoot::srNone);
    EXPECT_EQ(path, QStringLiteral("/"));
    ::close(outside);
    GetKeyPath(-1, &root, path);
    EXPECT_TRUE(path.isEmpty());

    const QString keyPath = QStringLiteral("devices/pnp0/00:01");
    EXPECT_EQ(ReadRegString(TSetupRoot::srSysfs, keyPath, QStringLiteral("id")), QStringLiteral("PNP0501"));
    EXPECT_TRUE(ReadRegString(TSetupRoot::srSysfs, keyPath, QStringLiteral("missing")).isEmpty());
    EXPECT_TRUE(
        ReadRegString(TSetupRoot::srSysfs, QStringLiteral("devices/none"), QStringLiteral("id")).isEmpty());
    EXPECT_TRUE(ReadRegString(TSetupRoot::srSysfs, keyPath, QStringLiteral("../00:01/id")).isEmpty());
    EXPECT_EQ(ReadRegString(TSetupRoot::srNone, machine.PnpUart, QStringLiteral("id")),
              QStringLiteral("PNP0501"));
}

TEST(SetupQueries, UdevEscapesAreDecoded) {
    EXPECT_EQ(DecodeUdevString(QStringLiteral("Prolific\\x20Technology\\x2c\\x20Inc.\\x20\\x20")),
              QStringLiteral("Prolific Technology, Inc."));
    EXPECT_EQ(DecodeUdevString(QStringLiteral("caf\\xc3\\xa9")), QStringLiteral("café"));
    EXPECT_EQ(DecodeUdevString(QStringLiteral("odd\\xZZ\\x4")), QStringLiteral("odd\\xZZ\\x4"));
}

// Restores the loader after a test that points it elsewhere.
class SetupApiLoader : public testing::Test {
protected:
    void TearDown() override {
        FreeSetupApi();
        SetSetupApiLibraryName(fSaved);
    }
    QString fSaved = SetupApiLibraryName();
};

TEST_F(SetupApiLoader, MissingLibraryOrEntryPointsMakeEveryQueryAddNothing) {
    TRecordedMachine machine;
    FreeSetupApi();
    SetSetupApiLibraryName(QStringLiteral("libudev-not-installed.so.9"));
    EXPECT_FALSE(LoadSetupApi());
    EXPECT_EQ(UdevApi(), nullptr);
    TRecords none;
    EnumSetupDevices(nullptr, false, true, false, none.list);
    EnumSetupDevices(&GUID_DEVINTERFACE_COMPORT, false, false, true, none.list);
    EXPECT_TRUE(none.list.isEmpty());

    // A library that exists but lacks the entry points: refused and not kept loaded.
    const char* unsuitable = "libutil.so.1";
    if (void* before = dlopen(unsuitable, RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(before);
        GTEST_SKIP() << unsuitable << " is already loaded by the process";
    }
    SetSetupApiLibraryName(QString::fromLatin1(unsuitable));
    EXPECT_FALSE(LoadSetupApi());
    void* after = dlopen(unsuitable, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(after, nullptr);
    if (after) dlclose(after);

    // The next call tries again and succeeds once the library is there.
    SetSetupApiLibraryName(fSaved);
    EXPECT_TRUE(LoadSetupApi());
    EnumSetupDevices(nullptr, false, true, false, none.list);
    EXPECT_EQ(none.list.size(), 13);
}

TEST_F(SetupApiLoader, RealUdevDescribesThisMachinesPtmx) {
    const QString ptmx = QStringLiteral("/sys/devices/virtual/tty/ptmx");
    if (!LoadSetupApi() || !QFileInfo::exists(ptmx)) GTEST_SKIP() << "no libudev or no sysfs here";
    TUdevContext udev;
    ASSERT_TRUE(udev.IsValid());
    const QHash<QString, QString> properties = udev.Properties(ptmx);
    EXPECT_EQ(properties.value(QStringLiteral("DEVNAME")), QStringLiteral("/dev/ptmx"));
    EXPECT_EQ(properties.value(QStringLiteral("SUBSYSTEM")), QStringLiteral("tty"));
    EXPECT_TRUE(udev.Properties(QStringLiteral("/sys/devices/no-such-device")).isEmpty());
}
