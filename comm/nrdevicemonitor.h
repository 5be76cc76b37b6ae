// TnrDeviceMonitor: tells a host when serial devices arrive or go, as the device-change
// messages that TnrBaseIO::WMDeviceChange and TnrDeviceBox::WMDeviceChange take.
//
// A tty that appears (a USB adapter plugged in) gives WM_DEVICECHANGE with
// DBT_DEVICEARRIVAL, one that goes DBT_DEVICEREMOVECOMPLETE; LParam points to a
// TDevBroadcastPort whose header has the type DBT_DEVTYP_PORT and whose name is the
// device node. Events of other subsystems are not passed on. The host hooks it up:
//
//   monitor.OnDeviceChange = [&](QObject*, TMessage& msg) { nrComm1->WMDeviceChange(msg); };
//   monitor.SetActive(true);
//
// The events come from a TDeviceEventSource: by default udev's netlink monitor
// (CreateUdevEventSource; nothing when libudev or the netlink socket is not available,
// SetActive then leaves the monitor inactive), or one a host or a test supplies.
//
// Threads: a component of the user-interface thread; the source's descriptor is watched
// by a QSocketNotifier of that thread and OnDeviceChange runs there.
#pragma once

#include "nrcomponent.h"
#include "nrdevice.h"
#include "nrmessages.h"
#include "nrmethod.h"

#include <QString>
#include <memory>

class QSocketNotifier;

// One event of the device database.
struct TDeviceEvent {
    QString Action;    // add, remove, change, bind...
    QString Subsystem; // tty, usb...
    QString SysName;   // ttyUSB0
    QString DevNode;   // /dev/ttyUSB0
};

class TDeviceEventSource {
public:
    virtual ~TDeviceEventSource() = default;
    // Readable when an event waits.
    virtual int Descriptor() const = 0;
    // Takes one waiting event; false when none could be read.
    virtual bool Receive(TDeviceEvent& Event) = 0;
};

// udev's monitor of tty devices; null when it cannot be set up.
std::unique_ptr<TDeviceEventSource> CreateUdevEventSource();

// What LParam of a port arrival or removal points to.
struct TDevBroadcastPort {
    TDevBroadcastHeader Header;
    char16_t Name[256]; // the device node, NUL-terminated
};

using TOnDeviceChange = TMethod<void(QObject* Sender, TMessage& Msg)>;

class TnrDeviceMonitor : public TComponent {
    Q_OBJECT
public:
    explicit TnrDeviceMonitor(QObject* AOwner = nullptr);
    ~TnrDeviceMonitor() override;

    bool Active() const;
    // True starts listening (with udev's source unless one was given); false stops.
    void SetActive(bool Value);

    // Uses this source from now on; a running monitor switches to it at once.
    void SetSource(std::unique_ptr<TDeviceEventSource> Source);

    TOnDeviceChange OnDeviceChange;

private:
    void ReadEvents();
    void Dispatch(const TDeviceEvent& Event);
    void StopWatching();

    std::unique_ptr<TDeviceEventSource> fSource;
    std::unique_ptr<QSocketNotifier> fNotifier;
};
