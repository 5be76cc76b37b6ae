// TnrDeviceBox: a drop-down list of the devices of one I/O component (for a serial port
// component, the machine's ports: COM1, COM3...). Picking an entry sets the component's
// DeviceIndex, which for a serial port sets its port number at once; the box then
// fires OnChange.
//
//   nrComm          the linked component, or null. Linking fills the entries from the
//                   component's device list (loading it on first use), selects the
//                   entry of the component's current device, registers CommNotify with
//                   the component and asks it for a removal notice. When the
//                   component's list raises (a failing enumeration), the box is left
//                   unlinked and unregistered, and the exception goes on to the caller.
//   Reload()        links again to the same component: entries and selection rebuilt.
//   CommNotify      the listener: notification 3 (port or device list changed) reloads;
//                   1 and 2 (closed, opened) are ignored.
//   WMDeviceChange  passes a device-change message to the linked component; a host that
//                   receives device arrivals and removals (TnrDeviceMonitor) calls it.
//   OnChange        fired after the user picked an entry and the component took it;
//                   not fired for selections made from code, nor when unlinked.
//
// Each entry's tooltip is the device path behind the name (the record's NamePDO), e.g.
// /dev/ttyUSB0 behind COM33.
//
// The component's listener list tells listeners apart by routine and object, so two
// boxes linked to one component are both registered and both follow it; unlinking one
// leaves the other registered.
//
// Threads: a widget of the user-interface thread. CommNotify may be called from a port's
// own thread with code 1 (the port closed itself); it returns without touching the box.
// A code 3 from another thread is passed to the box's thread.
#pragma once

#include "nrbaseio.h"
#include "nrcomponent.h"
#include "nrmessages.h"
#include "nrmethod.h"

#include <QComboBox>

class TnrDeviceBox : public QComboBox {
    Q_OBJECT
public:
    explicit TnrDeviceBox(QWidget* parent = nullptr);
    ~TnrDeviceBox() override;

    TnrBaseIO* nrComm() const { return fComm; }
    void SetnrComm(TnrBaseIO* Value);

    bool ResetOnChanged() const { return fReset; }
    void SetResetOnChanged(bool Value) { fReset = Value; }

    void Reload();
    void CommNotify(QObject* Sender, int Code);
    virtual bool WMDeviceChange(TMessage& Msg);

    // The record behind an entry; null for an entry out of range or after the linked
    // component vanished.
    TnrDevice* EntryDevice(int Index) const;

    TNotifyEvent OnChange;

protected:
    virtual void Notification(QObject* AComponent, TOperation Operation);
    // The user picked an entry.
    virtual void Change();

private:
    TnrNotifyEvent Listener() { return TnrNotifyEvent(this, &TnrDeviceBox::CommNotify); }
    // Stops listening to Comm and watching for its removal.
    void Unregister(TnrBaseIO* Comm);

    TnrBaseIO* fComm = nullptr;
    bool fReset = false;
    TFreeNotifications fFreeNotifications;
};
