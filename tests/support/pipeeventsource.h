// Device events for the device monitor from a pipe instead of udev: a test writes recorded
// events as "action subsystem sysname devnode" lines, the monitor reads them as it would
// read udev's.
#pragma once

#include "nrdevicemonitor.h"

#include <QByteArray>

class TPipeEventSource : public TDeviceEventSource {
public:
    TPipeEventSource();
    ~TPipeEventSource() override;
    TPipeEventSource(const TPipeEventSource&) = delete;
    TPipeEventSource& operator=(const TPipeEventSource&) = delete;

    int Descriptor() const override { return fFds[0]; }
    bool Receive(TDeviceEvent& event) override;

    // One event line; the newline is added. Throws when the pipe takes less than the line.
    void Send(const QByteArray& line) const;

private:
    int fFds[2] = {-1, -1};
};
