// brisemer-ports: lists the serial ports a port component offers on this machine, in
// each enumeration mode, with what the device database says about them. It only reads
// the serial-port map, sysfs and udev; it opens no port.
//
//   brisemer-ports            all three modes
//   brisemer-ports quick|info|present
#include "nrcomm.h"

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    const QString only = args.value(0);
    if (args.size() > 1 || !(only.isEmpty() || only == "quick" || only == "info" || only == "present")) {
        QTextStream(stderr) << "usage: brisemer-ports [quick|info|present]\n";
        return 2;
    }
    if (only.isEmpty() || only == "quick") List(epQuickAll, "epQuickAll (the serial-port map)", out);
    if (only.isEmpty() || only == "info") List(epFullInfo, "epFullInfo (map and device database)", out);
    if (only.isEmpty() || only == "present") List(epFullPresent, "epFullPresent (present devices only)", out);
    return 0;
}
