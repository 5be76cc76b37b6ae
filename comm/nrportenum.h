// Serial port enumeration: the port table read from the serial-port map, and the
// loading of a serial port component's device list from it (and, in the full modes,
// from the device-setup queries of platform/nrudevsetup.h).
//
//   TPortTable          "COMn" or "COMn=<device path>" entries with their port number,
//                       ordered by number.
//   EnumSerialPorts     fills a port table from the serial-port map.
//   AddPortSorted       adds one entry, keeping the order.
//   LoadSerialDeviceList  the device-list loading of TnrCustomSerialComm, in the modes
//                       epQuickAll (the map alone), epFullInfo and epFullPresent.
//
// Threads: user-interface thread (the component's DeviceListLoad); no state is kept
// between calls.
#pragma once

#include "nrdevice.h"
#include "platform/nrudevsetup.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

class TnrBaseIO;
enum TnrEnumPorts : std::uint8_t;

struct TPortEntry {
    QString Text;
    std::int32_t Number = 0;

    // The text before the first "=", "" without one; and the text after it.
    QString Name() const;
    QString Value() const;
};

using TPortTable = QList<TPortEntry>;

// Clears List and fills it with the map's ports whose name is "COM" and a number, in
// ascending number; a name listed twice keeps its first device. WithDeviceNames: each
// text is "COMn=<device path>".
void EnumSerialPorts(TPortTable& List, bool WithDeviceNames);

// The same from given (device path, port name) pairs, in the map's order.
void FillPortTable(const QList<QPair<QString, QString>>& Map, TPortTable& List, bool WithDeviceNames);

void AddPortSorted(const QString& Text, std::int32_t Number, TPortTable& List);

// The value of the first entry named Name, "" when none is.
QString PortTableValue(const TPortTable& List, const QString& Name);

// A decimal number made of digits only that fits 32 bits.
bool ParsePortNumber(const QString& Text, std::int32_t& Number);

using TSetupQuery = std::function<void(const TGuid* Guid, bool PresentOnly, bool ByClass,
                                       bool WithInterfacePath, TnrDeviceList& List)>;
using TPortTableSource = std::function<void(TPortTable& List, bool WithDeviceNames)>;

// Adds the machine's serial ports to Component's device list (through InsertDevice).
// Query and Ports default to EnumSetupDevices and EnumSerialPorts.
void LoadSerialDeviceList(TnrBaseIO& Component, TnrEnumPorts Mode, const TSetupQuery& Query = {},
                          const TPortTableSource& Ports = {});
