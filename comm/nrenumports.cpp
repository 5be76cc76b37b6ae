// The device list of the serial port component: the ports of the serial-port map, merged
// in the full modes with what the device database knows (see nrportenum.h).

#include "nrcomm.h"
#include "nrportenum.h"

void TnrCustomSerialComm::DeviceListLoad() {
    LoadSerialDeviceList(*this, fEnumPorts);
}
