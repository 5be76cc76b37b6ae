// The USB adapters brisemer-ports names: the by-id link where it tells the adapter apart,
// the socket's by-path link where two adapters share one identity, the map's COM number.
#include "fakesysfs.h"
#include "usbadapters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A USB adapter with one serial interface, its tty, its node in dev and udev's links.
void AddAdapter(TFakeSysfs& sysfs, const QString& dev, const QString& port, const QString& tty,
                const QString& serial, const QString& byId) {
    const QString usb = QStringLiteral("pci0000:00/0000:00:14.0/usb1/") + port;
    sysfs.AddDevice(usb, QStringLiteral("usb"), QStringLiteral("usb"),
                    {{QStringLiteral("idVendor"), QStringLiteral("067b")},
                     {QStringLiteral("idProduct"), QStringLiteral("2303")},
                     {QStringLiteral("serial"), serial},
                     {QStringLiteral("manufacturer"), QStringLiteral("Prolific")},
                     {QStringLiteral("product"), QStringLiteral("USB-Serial Controller")}});
    const QString serialPort = sysfs.AddDevice(usb + QStringLiteral("/") + port + QStringLiteral(":1.0/") + tty,
                                               QStringLiteral("usb-serial"), QStringLiteral("pl2303"));
    sysfs.AddTty(tty, serialPort);
    QFile node(dev + QLatin1Char('/') + tty);
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    if (!byId.isEmpty()) {
        ASSERT_TRUE(QFile::link(node.fileName(), dev + QStringLiteral("/serial/by-id/") + byId));
    }
    ASSERT_TRUE(QFile::link(node.fileName(), dev + QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:") +
                                                 port.mid(2) + QStringLiteral(":1.0-port0")));
}

} // namespace

TEST(UsbAdapters, EachGetsTheLinkThatNamesItStably) {
    TFakeSysfs sysfs;
    QTemporaryDir dev, config;
    QDir().mkpath(dev.filePath(QStringLiteral("serial/by-id")));
    QDir().mkpath(dev.filePath(QStringLiteral("serial/by-path")));
    // Two adapters without a serial number: udev's one by-id link leads to the second.
    AddAdapter(sysfs, dev.path(), QStringLiteral("1-1"), QStringLiteral("ttyUSB0"), QString(), QString());
    AddAdapter(sysfs, dev.path(), QStringLiteral("1-2"), QStringLiteral("ttyUSB1"), QString(),
               QStringLiteral("usb-Prolific_USB-Serial_Controller-if00-port0"));
    AddAdapter(sysfs, dev.path(), QStringLiteral("1-3"), QStringLiteral("ttyUSB2"), QStringLiteral("A10K3X4R"),
               QStringLiteral("usb-Prolific_USB-Serial_Controller_A10K3X4R-if00-port0"));

    TnrPortMapSources sources;
    sources.SystemMapFile = config.filePath(QStringLiteral("none"));
    sources.UserMapFile = config.filePath(QStringLiteral("ports"));
    sources.SysfsRoot = sysfs.Root();
    sources.DevRoot = dev.path();
    const QList<TUsbAdapter> adapters = FindUsbAdapters(sources);
    ASSERT_EQ(adapters.size(), 3);
    EXPECT_EQ(adapters[0].MapLine, QStringLiteral("COM33 = ") + dev.path() +
                                       QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"));
    EXPECT_TRUE(adapters[1].SharedById);
    EXPECT_TRUE(adapters[1].MapLine.contains(QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0")));
    EXPECT_FALSE(adapters[2].SharedById);
    EXPECT_EQ(adapters[2].MapLine, QStringLiteral("COM35 = ") + dev.path() +
                                       QStringLiteral("/serial/by-id/usb-Prolific_USB-Serial_Controller_A10K3X4R-if00-port0"));
    EXPECT_EQ(adapters[2].Description, QStringLiteral("Prolific USB-Serial Controller"));
    EXPECT_FALSE(adapters[2].Group.isEmpty());
}
