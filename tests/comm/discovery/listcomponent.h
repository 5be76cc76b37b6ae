// An I/O component whose device list is loaded like the serial port component's, with
// the setup queries and the port table replaceable, and a port number set by
// SetDeviceIndex: enough to test the enumeration without a port.
#pragma once

#include "nrbaseio.h"
#include "nrcomm.h"
#include "nrportenum.h"

class TListComponent : public TnrBaseIO {
    Q_OBJECT
public:
    using TnrBaseIO::TnrBaseIO;

    TnrEnumPorts Mode = epQuickAll;
    TSetupQuery Query;
    TPortTableSource Ports;
    int Loads = 0;
    // How often a list was asked for (a box asks at every link and reload).
    int ListRequests = 0;
    std::int32_t PortNo = 0;
    // SetDeviceIndex raises this message instead of selecting, when set.
    QString FailSelection;
    // Loading the list raises this message, when set (an enumeration that fails).
    QString FailLoad;

    void GetDeviceList(TnrDeviceList* L) override {
        ++ListRequests;
        TnrBaseIO::GetDeviceList(L);
    }
    // As the serial port component: discard, reload, tell the listeners.
    void Update() override {
        ClearDeviceList();
        GetDeviceList(nullptr);
        TnrBaseIO::Update();
    }
    int ListenerCount() const { return nrNotifyList.Count(); }

    void DeviceListLoad() override {
        ++Loads;
        if (!FailLoad.isEmpty()) throw ENrException(FailLoad);
        LoadSerialDeviceList(*this, Mode, Query, Ports);
    }
    int GetDeviceIndex() const override { return IndexOfData(PortNo); }
    void SetDeviceIndex(int Value) override {
        if (Value < 0 || Value >= DeviceCount()) return;
        if (!FailSelection.isEmpty()) throw ENrException(FailSelection);
        PortNo = Device(Value)->Data;
        TnrBaseIO::SetDeviceIndex(Value);
    }
    void SendChar(char16_t) override {}
    void SendString(const QByteArray&) override {}
    void SendData(const std::uint8_t*, std::uint32_t) override {}
    void ClearDeviceInput() override {}
    void ClearDeviceOutput() override {}
    void ClearDeviceBuffers() override {}

    QStringList Texts() const {
        QStringList result;
        for (int i = 0; i < DeviceCount(); ++i)
            result << slDevices[i].Text;
        return result;
    }
    QList<std::int32_t> Numbers() const {
        QList<std::int32_t> result;
        for (int i = 0; i < DeviceCount(); ++i)
            result << Device(i)->Data;
        return result;
    }
};
