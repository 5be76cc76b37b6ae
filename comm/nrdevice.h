// TnrDevice: one device an I/O component can be connected to, as its device list and
// the setup queries hold it. A plain record: every field starts at zero or empty.
//
// Index and Parent are set by the owning component's list (TnrBaseIO::AddDevice and
// InsertDevice) and read-only for everyone else.
#pragma once

#include <QList>
#include <QString>
#include <array>
#include <cstdint>

class TnrBaseIO;

class TnrDevice {
public:
    int Index() const { return fIndex; }
    TnrBaseIO* Parent() const { return fParent; }

    std::uintptr_t Handle = 0;
    std::uintptr_t DevInst = 0;
    // The port number: sort key of the list; numbers above 4096 are substitute keys of
    // ports whose name does not begin with "COM".
    std::int32_t Data = 0;
    std::int32_t DataEx = 0;
    QString NameFriendly;
    QString NamePDO;
    QString NameDeviceDos;
    QString NameSymbolic;
    QString RegKey;
    QString Description;
    QString Service;
    QString Driver;
    QString InstanceId;
    QString BusRelations;
    QString PortName;
    QString Manufacturer;
    QString SerialNumber;
    std::array<std::uint8_t, 16> GuidClass{};

private:
    friend class TnrBaseIO;
    std::int32_t fIndex = 0;
    TnrBaseIO* fParent = nullptr;
};

// An entry of a device list: the text shown (the record's NameFriendly when it was
// added) with the record attached.
struct TnrDeviceEntry {
    QString Text;
    TnrDevice* Device = nullptr;
};

using TnrDeviceList = QList<TnrDeviceEntry>;

// Message parameters of a device-change broadcast (WM_DEVICECHANGE).
inline constexpr std::uintptr_t DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr std::uintptr_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr std::uint32_t DBT_DEVTYP_PORT = 3;

// The header a device-change message's LParam points to.
struct TDevBroadcastHeader {
    std::uint32_t dbch_size;
    std::uint32_t dbch_devicetype;
    std::uint32_t dbch_reserved;
};
