// The serial-port map: map files and a recorded sysfs tree (the layout of a machine with
// a console on ttyS0, a real second UART, 8250 placeholders, USB and ACM adapters and a
// few other families).
#include "platform/nrerror.h"
#include "platform/nrportmap.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class PortMap : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fRoot.isValid());
        fSources.SystemMapFile = Path("etc/serialcomm/ports");
        fSources.UserMapFile = Path("home/serialcomm/ports");
        fSources.SysfsRoot = Path("sys");
        fSources.DevRoot = Path("dev");
        QDir().mkpath(Path("dev"));
        QDir().mkpath(Path("sys/class/tty"));
        QDir().mkpath(Path("sys/bus/platform/drivers/serial8250"));
        QDir().mkpath(Path("sys/bus/usb-serial/drivers/ftdi_sio"));
    }

    QString Path(const QString& relative) const { return fRoot.path() + QLatin1Char('/') + relative; }

    void WriteFile(const QString& relative, const QByteArray& content) {
        const QString path = Path(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    // A tty class entry as the kernel lays it out: class/tty/<name> links to the device
    // node's directory, whose `device` links to the hardware and its driver.
    void AddTty(const QString& name, const QString& driver, const char* type = nullptr) {
        const QString node = Path("sys/devices/") + name + QStringLiteral("/tty/") + name;
        const QString hardware = Path("sys/devices/") + name;
        QDir().mkpath(node);
        ASSERT_TRUE(QFile::link(node, Path("sys/class/tty/") + name));
        if (!driver.isEmpty()) {
            ASSERT_TRUE(QFile::link(hardware, node + QStringLiteral("/device")));
            QFile::link(Path("sys/bus/") + driver, hardware + QStringLiteral("/driver"));
        }
        if (type)
            WriteFile(QStringLiteral("sys/devices/") + name + QStringLiteral("/tty/") + name +
                          QStringLiteral("/type"),
                      type);
        WriteFile(QStringLiteral("dev/") + name, "");
    }

    void RecordMachine() {
        AddTty(QStringLiteral("ttyS0"), QStringLiteral("platform/drivers/serial8250"), "4"); // the console
        AddTty(QStringLiteral("ttyS1"), QStringLiteral("platform/drivers/serial8250"), "4");
        AddTty(QStringLiteral("ttyS2"), QStringLiteral("platform/drivers/serial8250"), "0"); // no UART
        AddTty(QStringLiteral("ttyS3"), QStringLiteral("platform/drivers/serial8250"));      // no type at all
        AddTty(QStringLiteral("ttyUSB0"), QStringLiteral("usb-serial/drivers/ftdi_sio"));
        AddTty(QStringLiteral("ttyUSB1"), QStringLiteral("usb-serial/drivers/ftdi_sio"));
        AddTty(QStringLiteral("ttyUSB40"), QStringLiteral("usb-serial/drivers/ftdi_sio"));
        AddTty(QStringLiteral("ttyACM1"), QStringLiteral("usb/drivers/cdc_acm"));
        AddTty(QStringLiteral("ttyAMA10"), QStringLiteral("amba/drivers/uart-pl011"));
        AddTty(QStringLiteral("ttyAMA2"), QStringLiteral("amba/drivers/uart-pl011"));
        AddTty(QStringLiteral("rfcomm0"), QStringLiteral("bluetooth/drivers/rfcomm"));
        AddTty(QStringLiteral("tty1"), QString()); // virtual consoles have no device
        AddTty(QStringLiteral("ptmx"), QString());
        AddTty(QStringLiteral("console"), QString());
        WriteFile(QStringLiteral("sys/class/tty/console/active"), "tty0 ttyS0\n");
    }

    // "COM2=/dev/ttyS1 COM33=/dev/ttyUSB0 ...", paths below the test root shown from it.
    std::string Listing() const {
        QStringList out;
        for (const TnrPortMapEntry& e : ReadSerialPortMap(fSources)) {
            QString path = e.DevicePath;
            if (path.startsWith(fRoot.path() + QLatin1Char('/'))) path = path.mid(fRoot.path().size());
            out << e.PortName + QLatin1Char('=') + path;
        }
        return out.join(QLatin1Char(' ')).toStdString();
    }

    QTemporaryDir fRoot;
    TnrPortMapSources fSources;
};

TEST_F(PortMap, HardwarePortsGetTheirFamilyNumbersAndOthersFollowFrom97) {
    RecordMachine();
    // Name order for the others, numbers compared as numbers; ttyUSB40 is beyond its
    // family's range. The console, the placeholders and the devices without hardware
    // (virtual consoles, ptmx) are not there.
    EXPECT_EQ(Listing(), "COM2=/dev/ttyS1 COM33=/dev/ttyUSB0 COM34=/dev/ttyUSB1 COM66=/dev/ttyACM1 "
                         "COM97=/dev/rfcomm0 COM98=/dev/ttyAMA2 COM99=/dev/ttyAMA10 COM100=/dev/ttyUSB40");
}

TEST_F(PortMap, MapFileNamesWinAndTheUsersEntryOverridesTheSystems) {
    RecordMachine();
    WriteFile(QStringLiteral("etc/serialcomm/ports"), "# system ports\n"
                                                      "COM4 = /dev/pts/4\n"
                                                      "COM5 = /srv/system5   # kept\n"
                                                      "COM97 = /dev/gps\n"
                                                      "COM5 = /srv/other5\n");
    WriteFile(QStringLiteral("home/serialcomm/ports"), "com4=/dev/pts/9\n"
                                                       "\n"
                                                       "   COM2 = /dev/pts/2\n"
                                                       "COM4 = /dev/pts/99\n");
    // Within a file the first line for a name wins; the user's COM4 replaces the system's;
    // COM2 now names the user's device, so the UART that would have been COM2 is left out;
    // COM97 is taken, the others move on.
    EXPECT_EQ(Listing(), "COM2=/dev/pts/2 COM4=/dev/pts/9 COM5=/srv/system5 COM33=/dev/ttyUSB0 "
                         "COM34=/dev/ttyUSB1 COM66=/dev/ttyACM1 COM97=/dev/gps COM98=/dev/rfcomm0 "
                         "COM99=/dev/ttyAMA2 COM100=/dev/ttyAMA10 COM101=/dev/ttyUSB40");
    const QList<TnrPortMapEntry> map = ReadSerialPortMap(fSources);
    EXPECT_TRUE(map[0].FromMapFile);
    EXPECT_FALSE(map[3].FromMapFile);
}

TEST_F(PortMap, ADeviceNamedByAMapFileIsNotListedTwice) {
    RecordMachine();
    // A stable by-id link to ttyUSB0, as users write them.
    QDir().mkpath(Path("dev/serial/by-id"));
    ASSERT_TRUE(QFile::link(Path("dev/ttyUSB0"), Path("dev/serial/by-id/usb-FTDI_GPS-if00-port0")));
    WriteFile(QStringLiteral("home/serialcomm/ports"),
              "COM7 = " + Path("dev/serial/by-id/usb-FTDI_GPS-if00-port0").toLocal8Bit() + "\n");
    const QList<TnrPortMapEntry> map = ReadSerialPortMap(fSources);
    int usb0 = 0;
    for (const TnrPortMapEntry& e : map)
        if (QFileInfo(e.DevicePath).canonicalFilePath() == QFileInfo(Path("dev/ttyUSB0")).canonicalFilePath())
            ++usb0;
    EXPECT_EQ(usb0, 1);
    ASSERT_FALSE(map.isEmpty());
    EXPECT_EQ(map.first().PortName, QStringLiteral("COM2"));
    EXPECT_TRUE(std::any_of(map.begin(), map.end(), [](const TnrPortMapEntry& e) {
        return e.PortName == QStringLiteral("COM7") && e.FromMapFile;
    }));
    EXPECT_FALSE(std::any_of(map.begin(), map.end(),
                             [](const TnrPortMapEntry& e) { return e.PortName == QStringLiteral("COM33"); }));
}

TEST_F(PortMap, MalformedLinesAreSkipped) {
    WriteFile(QStringLiteral("home/serialcomm/ports"), "COM1 /dev/pts/1\n"    // no '='
                                                       "LPT1 = /dev/lp0\n"    // not a COM name
                                                       "COM = /dev/pts/2\n"   // no number
                                                       "COM0 = /dev/pts/3\n"  // 0 is no port
                                                       "COM03 = /dev/pts/3\n" // not how numbers are written
                                                       "COM65536 = /dev/pts/4\n" // too big
                                                       "COM3x = /dev/pts/5\n"
                                                       "COM8 = relative/path\n"
                                                       "COM9 =\n"
                                                       "= /dev/pts/6\n"
                                                       "COM10 = /dev/pts/10\n"
                                                       "COM10 = /dev/pts/11\n" // the first line won
                                                       "COM65535 = /dev/pts/12 # last one\n");
    const QList<TnrPortMapEntry> map = ReadSerialPortMap(fSources);
    ASSERT_EQ(map.size(), 2);
    EXPECT_EQ(map[0].PortName, QStringLiteral("COM10"));
    EXPECT_EQ(map[0].DevicePath, QStringLiteral("/dev/pts/10"));
    EXPECT_EQ(map[0].Number, 10);
    EXPECT_EQ(map[1].PortName, QStringLiteral("COM65535"));
    EXPECT_EQ(map[1].DevicePath, QStringLiteral("/dev/pts/12"));
}

TEST_F(PortMap, NamesResolveToPathsAndUnknownNamesFailWithENOENT) {
    RecordMachine();
    WriteFile(QStringLiteral("home/serialcomm/ports"), "COM4 = /dev/pts/9\n");
    QString path;
    ASSERT_TRUE(ResolvePortName(QStringLiteral("com4"), path, fSources));
    EXPECT_EQ(path, QStringLiteral("/dev/pts/9"));
    ASSERT_TRUE(ResolvePortName(QStringLiteral("COM98"), path, fSources));
    EXPECT_EQ(path, Path("dev/ttyAMA2"));
    for (const char* name : {"COM1", "COM3", "COM250", "COM0", "ttyS1", ""}) {
        SetLastError(0);
        EXPECT_FALSE(ResolvePortName(QString::fromLatin1(name), path, fSources)) << name;
        EXPECT_EQ(GetLastError(), std::uint32_t(ENOENT));
    }
    EXPECT_EQ(SysErrorMessage(ENOENT), QStringLiteral("No such file or directory"));

    // Read again at every call: a new entry is there at once.
    WriteFile(QStringLiteral("home/serialcomm/ports"), "COM4 = /dev/pts/9\nCOM250 = /dev/pts/250\n");
    ASSERT_TRUE(ResolvePortName(QStringLiteral("COM250"), path, fSources));
    EXPECT_EQ(path, QStringLiteral("/dev/pts/250"));
}

TEST(PortMapSources, TheUsersFileLivesInTheConfigurationHome) {
    TnrPortMapSources sources;
    EXPECT_EQ(sources.EffectiveUserMapFile(), TTestEnvironment::PortMapFile());
    sources.UserMapFile = QStringLiteral("/elsewhere/ports");
    EXPECT_EQ(sources.EffectiveUserMapFile(), QStringLiteral("/elsewhere/ports"));
    // The process's sources are what a plain lookup reads.
    TTestEnvironment::WritePortMap({QStringLiteral("COM61 = /dev/pts/61")});
    QString path;
    ASSERT_TRUE(ResolvePortName(QStringLiteral("COM61"), path));
    EXPECT_EQ(path, QStringLiteral("/dev/pts/61"));
}

TEST(PortMapNames, OnlyComAndANumber) {
    EXPECT_EQ(ParsePortName(QStringLiteral("COM1")), 1);
    EXPECT_EQ(ParsePortName(QStringLiteral("com12")), 12);
    EXPECT_EQ(ParsePortName(QStringLiteral("CoM65535")), 65535);
    for (const char* bad :
         {"COM", "COM0", "COM012", "COM65536", "COM1a", "COM-1", "COM+1", " COM1", "LPT1", "COM 1"})
        EXPECT_EQ(ParsePortName(QString::fromLatin1(bad)), 0) << bad;
}

} // namespace
