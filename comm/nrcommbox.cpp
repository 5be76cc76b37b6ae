#include "nrcommbox.h"

#include "nrapplication.h"

#include <QThread>
#include <QVariant>
#include <exception>

TnrDeviceBox::TnrDeviceBox(QWidget* parent)
    : QComboBox(parent),
      fFreeNotifications(this, [this](QObject* gone) { Notification(gone, TOperation::opRemove); }) {
    // A drop-down list: the user picks an entry and cannot type a name.
    setEditable(false);
    setMaxVisibleItems(8);
    connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

TnrDeviceBox::~TnrDeviceBox() {
    if (fComm) fComm->NotifyDelete(Listener());
}

void TnrDeviceBox::SetnrComm(TnrBaseIO* Value) {
    clear();
    setCurrentIndex(-1);
    TnrBaseIO* const previous = fComm;
    // Unlinked until the new component has given its list. Linked and registered, or
    // neither: a link that fails half way (the enumeration raising) leaves no registration
    // behind that would later call a destroyed box.
    fComm = nullptr;
    if (previous && previous != Value) Unregister(previous);
    if (!Value) return;
    try {
        TnrDeviceList devices;
        Value->GetDeviceList(&devices);
        for (int i = 0; i < devices.size(); ++i) {
            const TnrDeviceEntry& entry = devices[i];
            addItem(entry.Text, QVariant::fromValue(reinterpret_cast<quintptr>(entry.Device)));
            if (entry.Device && !entry.Device->NamePDO.isEmpty())
                setItemData(i, entry.Device->NamePDO, Qt::ToolTipRole);
        }
        setCurrentIndex(Value->DeviceIndex());
        Value->NotifyAdd(Listener());
        fFreeNotifications.Request(Value);
    } catch (...) {
        clear();
        Unregister(Value);
        throw;
    }
    fComm = Value;
}

void TnrDeviceBox::Unregister(TnrBaseIO* Comm) {
    Comm->NotifyDelete(Listener());
    fFreeNotifications.Remove(Comm);
}

void TnrDeviceBox::Reload() {
    SetnrComm(fComm);
}

void TnrDeviceBox::CommNotify(QObject*, int Code) {
    if (Code != NOTIFY_DEVICE_CHANGED) return;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, &TnrDeviceBox::Reload, Qt::QueuedConnection);
        return;
    }
    Reload();
}

bool TnrDeviceBox::WMDeviceChange(TMessage& Msg) {
    return fComm ? fComm->WMDeviceChange(Msg) : false;
}

TnrDevice* TnrDeviceBox::EntryDevice(int Index) const {
    if (!fComm || Index < 0 || Index >= count()) return nullptr;
    auto* device = reinterpret_cast<TnrDevice*>(itemData(Index).value<quintptr>());
    // Only a record the component still holds: the entries may predate a reload.
    return fComm->IndexOfDevice(device) >= 0 ? device : nullptr;
}

void TnrDeviceBox::Notification(QObject* AComponent, TOperation Operation) {
    if (Operation == TOperation::opRemove && AComponent == fComm) {
        // The component is half destroyed: forget it, never call into it.
        fComm = nullptr;
        setCurrentIndex(-1);
    }
}

void TnrDeviceBox::Change() {
    if (!fComm) return;
    try {
        fComm->SetDeviceIndex(currentIndex());
        if (OnChange) OnChange(this);
    } catch (const std::exception& e) {
        // Reopening on the new port can fail; the box shows what the component holds now.
        try {
            Reload();
        } catch (const std::exception&) {
            // The first failure is the one to report.
        }
        ShowException(QString::fromUtf8(e.what()));
    }
}
