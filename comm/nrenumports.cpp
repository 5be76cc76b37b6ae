// The device list of the serial port component, loaded from the serial-port map.

#include "nrcomm.h"
#include "platform/nrportmap.h"

// One record per port of the map, kept in port-number order. Every enumeration mode lists
// the ports of the map; the records carry the names the map gives (the kernel device path
// as NamePDO, "COMn" for the rest).
void TnrCustomSerialComm::DeviceListLoad() {
    const QList<TnrPortMapEntry> ports = ReadSerialPortMap();
    for (const TnrPortMapEntry& port : ports) {
        auto* device = new TnrDevice;
        device->Data = port.Number;
        device->NameFriendly = port.PortName;
        device->PortName = port.PortName;
        device->NameDeviceDos = port.PortName;
        device->NamePDO = port.DevicePath;
        if (InsertDevice(device) < 0) delete device; // a port number already listed
    }
}
