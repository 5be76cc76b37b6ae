// A recorded machine for the discovery tests: a fake sysfs tree with one device of every
// kind the setup classes tell apart, the udev properties recorded for some of them, and
// a map file. Installing it points the serial-port map and the setup database at it;
// the destructor restores what the process used before.
#pragma once

#include "fakesysfs.h"
#include "platform/nrportmap.h"
#include "platform/nrudevsetup.h"

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>
#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

class TRecordedMachine {
public:
    // Without devices: only what the map file declares.
    explicit TRecordedMachine(bool withDevices = true);
    ~TRecordedMachine();

    // Writes the user map file with these lines; the system map file stays missing.
    void WriteMap(const QStringList& lines);
    QString MapFile() const { return fConfig.path() + QStringLiteral("/ports"); }

    TFakeSysfs Sysfs;
    // udev properties by tty name.
    QHash<QString, QHash<QString, QString>> Properties;
    // Where the ttys are, by name.
    QHash<QString, QString> TtyPath;
    QString Ftdi, FtdiInterface, UsbDevice, PnpUart, Multiport;

    static constexpr const char* FtdiById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X4R-if00-port0";

private:
    void AddDevices();
    QTemporaryDir fConfig;
    TnrPortMapSources fSavedSources;
    TSetupDatabase fSavedDatabase;
};
