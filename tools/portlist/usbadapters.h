// The USB-serial adapters present on the machine, with the map line that names each one
// stably and whether the current user may open it: what brisemer-ports prints so that a
// user can write ~/.config/serialcomm/ports without guessing.
//
// A node such as /dev/ttyUSB0 goes to whichever adapter is plugged in first; udev's
// /dev/serial/by-id name follows the adapter (maker, model, serial number) and its
// /dev/serial/by-path name the socket. The by-id name is the stable one, except where two
// adapters have the same one (no serial number, or the same): udev then keeps one link
// for both, and only the socket tells them apart.
#pragma once

#include "platform/nrportmap.h"

#include <QList>
#include <QString>

struct TUsbAdapter {
    QString TtyName;     // ttyUSB0
    QString Node;        // /dev/ttyUSB0
    QString Description; // "FTDI FT232R USB UART", from the USB device's attributes
    QString ById, ByPath; // the links that lead to the node, "" when udev made none
    QString PortName;    // the COMn the map gives it now, "" when none
    QString MapLine;     // "COM33 = /dev/serial/by-id/..."
    bool SharedById = false; // another present adapter has the same identity
    bool MayOpen = false;
    QString Group;       // the node's group, to join when MayOpen is false
};

// The adapters (ttyUSB*, ttyACM* below a USB device) of the map sources' sysfs and /dev.
QList<TUsbAdapter> FindUsbAdapters(const TnrPortMapSources& sources);
