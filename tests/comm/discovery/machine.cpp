#include "machine.h"

#include <QFile>
#include <QFileInfo>

TRecordedMachine::TRecordedMachine(bool withDevices)
    : fSavedSources(SerialPortMapSources()), fSavedDatabase(SetupDatabase()) {
    TnrPortMapSources sources;
    sources.SystemMapFile = fConfig.path() + QStringLiteral("/no-system-map");
    sources.UserMapFile = MapFile();
    sources.SysfsRoot = Sysfs.Root();
    SetSerialPortMapSources(sources);

    TSetupDatabase database;
    database.Properties = [this](const QString& sysPath) {
        return Properties.value(QFileInfo(sysPath).fileName());
    };
    SetSetupDatabase(database);
    if (withDevices) AddDevices();
}

void TRecordedMachine::AddDevices() {
    TFakeSysfs& s = Sysfs;
    // Onboard UART described by ACPI; since Linux 6.5 the tty hangs off a serial-base
    // port and controller below the pnp device.
    PnpUart = s.AddDevice(QStringLiteral("pnp0/00:01"), QStringLiteral("pnp"), QStringLiteral("serial"),
                          {{QStringLiteral("id"), QStringLiteral("PNP0501")}});
    const QString ctrl = s.AddDevice(QStringLiteral("pnp0/00:01/00:01:0"), QStringLiteral("serial-base"),
                                     QStringLiteral("ctrl"));
    const QString port = s.AddDevice(QStringLiteral("pnp0/00:01/00:01:0/00:01:0.0"),
                                     QStringLiteral("serial-base"), QStringLiteral("port"));
    Q_UNUSED(ctrl);
    TtyPath[QStringLiteral("ttyS0")] =
        s.AddTty(QStringLiteral("ttyS0"), port, {{QStringLiteral("type"), QStringLiteral("4")}});

    // The 8250 driver's legacy ports: one real, one placeholder without a UART.
    const QString legacy = s.AddDevice(QStringLiteral("platform/serial8250"), QStringLiteral("platform"),
                                       QStringLiteral("serial8250"));
    TtyPath[QStringLiteral("ttyS1")] =
        s.AddTty(QStringLiteral("ttyS1"), legacy, {{QStringLiteral("type"), QStringLiteral("0")}});
    TtyPath[QStringLiteral("ttyS2")] =
        s.AddTty(QStringLiteral("ttyS2"), legacy, {{QStringLiteral("type"), QStringLiteral("2")}});

    // A USB serial converter: device, interface, usb-serial port.
    UsbDevice = s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2"), QStringLiteral("usb"),
                            QStringLiteral("usb"),
                            {{QStringLiteral("idVendor"), QStringLiteral("0403")},
                             {QStringLiteral("manufacturer"), QStringLiteral("FTDI")},
                             {QStringLiteral("product"), QStringLiteral("FT232R USB UART")}});
    FtdiInterface =
        s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0"), QStringLiteral("usb"),
                    QStringLiteral("ftdi_sio"), {{QStringLiteral("bInterfaceClass"), QStringLiteral("ff")}});
    Ftdi = s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0"),
                       QStringLiteral("usb-serial"), QStringLiteral("ftdi_sio"));
    TtyPath[QStringLiteral("ttyUSB0")] = s.AddTty(QStringLiteral("ttyUSB0"), Ftdi);
    Properties[QStringLiteral("ttyUSB0")] = {
        {QStringLiteral("DEVNAME"), QStringLiteral("/dev/ttyUSB0")},
        {QStringLiteral("DEVLINKS"),
         QString::fromLatin1(FtdiById) +
             QStringLiteral(" /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0")},
        {QStringLiteral("ID_MODEL_FROM_DATABASE"), QStringLiteral("FT232 Serial (UART) IC")},
        {QStringLiteral("ID_VENDOR_ENC"), QStringLiteral("Future\\x20Technology\\x20Devices")},
        {QStringLiteral("ID_MODEL"), QStringLiteral("FT232R_USB_UART")}};

    // Two CDC ACM interfaces: an AT-command modem and a GPS receiver without one.
    const QString modemDevice = s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-3"),
                                            QStringLiteral("usb"), QStringLiteral("usb"),
                                            {{QStringLiteral("idVendor"), QStringLiteral("1519")},
                                             {QStringLiteral("manufacturer"), QStringLiteral("Comneon")},
                                             {QStringLiteral("product"), QStringLiteral("HSPA Modem")}});
    Q_UNUSED(modemDevice);
    const QString modem = s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0"),
                                      QStringLiteral("usb"), QStringLiteral("cdc_acm"),
                                      {{QStringLiteral("bInterfaceClass"), QStringLiteral("02")},
                                       {QStringLiteral("bInterfaceSubClass"), QStringLiteral("02")},
                                       {QStringLiteral("bInterfaceProtocol"), QStringLiteral("01")}});
    TtyPath[QStringLiteral("ttyACM0")] = s.AddTty(QStringLiteral("ttyACM0"), modem);
    s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-4"), QStringLiteral("usb"),
                QStringLiteral("usb"),
                {{QStringLiteral("idVendor"), QStringLiteral("1546")},
                 {QStringLiteral("manufacturer"), QStringLiteral("u-blox AG")},
                 {QStringLiteral("product"), QStringLiteral("u-blox GNSS receiver")}});
    const QString gps = s.AddDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0"),
                                    QStringLiteral("usb"), QStringLiteral("cdc_acm"),
                                    {{QStringLiteral("bInterfaceClass"), QStringLiteral("02")},
                                     {QStringLiteral("bInterfaceSubClass"), QStringLiteral("02")},
                                     {QStringLiteral("bInterfaceProtocol"), QStringLiteral("00")}});
    TtyPath[QStringLiteral("ttyACM1")] = s.AddTty(QStringLiteral("ttyACM1"), gps);

    // PCI cards: a two-port board, a single port, a combined parallel/serial card.
    Multiport = s.AddDevice(QStringLiteral("pci0000:00/0000:03:00.0"), QStringLiteral("pci"),
                            QStringLiteral("exar_serial"));
    TtyPath[QStringLiteral("ttyS4")] =
        s.AddTty(QStringLiteral("ttyS4"), Multiport, {{QStringLiteral("type"), QStringLiteral("4")}});
    TtyPath[QStringLiteral("ttyS5")] =
        s.AddTty(QStringLiteral("ttyS5"), Multiport, {{QStringLiteral("type"), QStringLiteral("4")}});
    const QString single = s.AddDevice(QStringLiteral("pci0000:00/0000:04:00.0"), QStringLiteral("pci"),
                                       QStringLiteral("serial"));
    TtyPath[QStringLiteral("ttyS6")] =
        s.AddTty(QStringLiteral("ttyS6"), single, {{QStringLiteral("type"), QStringLiteral("4")}});
    const QString combo = s.AddDevice(QStringLiteral("pci0000:00/0000:05:00.0"), QStringLiteral("pci"),
                                      QStringLiteral("parport_serial"));
    TtyPath[QStringLiteral("ttyS7")] =
        s.AddTty(QStringLiteral("ttyS7"), combo, {{QStringLiteral("type"), QStringLiteral("4")}});
    const QString isa =
        s.AddDevice(QStringLiteral("isa/serial.1"), QStringLiteral("isa"), QStringLiteral("serial"));
    TtyPath[QStringLiteral("ttyS8")] =
        s.AddTty(QStringLiteral("ttyS8"), isa, {{QStringLiteral("type"), QStringLiteral("4")}});

    // Virtual ttys: Bluetooth RFCOMM, IrCOMM, USB gadget serial, and a virtual console.
    for (const char* name : {"rfcomm0", "ircomm0", "ttyGS0", "tty1"})
        TtyPath[QString::fromLatin1(name)] = s.AddTty(QString::fromLatin1(name), {});
}

TRecordedMachine::~TRecordedMachine() {
    SetSerialPortMapSources(fSavedSources);
    SetSetupDatabase(fSavedDatabase);
}

void TRecordedMachine::WriteMap(const QStringList& lines) {
    QFile f(MapFile());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(MapFile()));
    for (const QString& line : lines)
        f.write(line.toUtf8() + '\n');
}
