// brisemer-ports: lists the serial ports a port component offers on this machine, in
// each enumeration mode, with what the device database says about them, then the USB
// adapters present with the map line that names each one stably and whether the user
// may open it. It only reads the serial-port map, sysfs, /dev and udev; it opens no port.
//
//   brisemer-ports            all three modes and the adapters
//   brisemer-ports quick|info|present|usb
#include "nrcomm.h"
#include "usbadapters.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {

void List(TnrEnumPorts mode, const char* title, QTextStream& out) {
    TnrComm comm;
    comm.SetEnumPorts(mode);
    TnrDeviceList devices;
    comm.GetDeviceList(&devices);
    out << title << ": " << devices.size() << (devices.size() == 1 ? " port" : " ports") << '\n';
    for (const TnrDeviceEntry& entry : devices) {
        const TnrDevice& d = *entry.Device;
        out << "  " << entry.Text << "  ->  "
            << (d.NamePDO.isEmpty() ? QStringLiteral("(no device path)") : d.NamePDO) << '\n';
        if (!d.Driver.isEmpty() || !d.Manufacturer.isEmpty())
            out << "      driver " << d.Driver
                << (d.Manufacturer.isEmpty() ? QString() : ", made by " + d.Manufacturer) << '\n';
        if (!d.RegKey.isEmpty()) out << "      sysfs  " << d.RegKey << '\n';
    }
    out << '\n';
}

void ListUsbAdapters(QTextStream& out) {
    const QList<TUsbAdapter> adapters = FindUsbAdapters(SerialPortMapSources());
    const QString mapFile = SerialPortMapSources().EffectiveUserMapFile();
    out << "USB adapters present: " << adapters.size() << '\n';
    for (const TUsbAdapter& a : adapters) {
        out << "  " << a.TtyName;
        if (!a.Description.isEmpty()) out << " (" << a.Description << ')';
        out << (a.PortName.isEmpty() ? QStringLiteral(", no port name yet") : ", now " + a.PortName) << '\n';
        out << "      map line for " << mapFile << ":  " << a.MapLine << '\n';
        if (a.SharedById)
            out << "      another adapter has the same by-id name: named by the USB socket it is in\n";
        if (a.MayOpen)
            out << "      you may open it\n";
        else
            out << "      you may not open it: join the group \"" << a.Group << "\" (sudo usermod -aG " << a.Group
                << " $USER, then log in again)\n";
    }
    out << '\n';
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    const QString only = args.value(0);
    if (args.size() > 1 ||
        !(only.isEmpty() || only == "quick" || only == "info" || only == "present" || only == "usb")) {
        QTextStream(stderr) << "usage: brisemer-ports [quick|info|present|usb]\n";
        return 2;
    }
    if (only.isEmpty() || only == "quick") List(epQuickAll, "epQuickAll (the serial-port map)", out);
    if (only.isEmpty() || only == "info") List(epFullInfo, "epFullInfo (map and device database)", out);
    if (only.isEmpty() || only == "present") List(epFullPresent, "epFullPresent (present devices only)", out);
    if (only.isEmpty() || only == "usb") ListUsbAdapters(out);
    return 0;
}
