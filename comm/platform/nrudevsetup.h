// Device-setup queries on the Linux device database: what the machine knows about each
// serial device (description, manufacturer, driver, the sysfs key behind it...), for
// the full enumeration modes of the serial port component.
//
// The library asks in the vocabulary of a setup database: a setup class or a device
// interface class, named by a GUID, yields device records (TnrDevice). On Linux the
// structure comes from sysfs (/sys/class/tty and the device each tty hangs off), the
// names from the udev database (model and vendor from the hardware database, persistent
// links), and the port name "COMn" from the serial-port map, so that records merge with
// the map's ports by name.
//
// What the GUIDs stand for here. Every serial tty falls in exactly one class:
//
//   GUID                                    Linux counterpart
//   Ports class {4D36E978-...}              every serial tty not taken by a class below:
//                                           onboard UARTs (pnp/ACPI, SoC platform UARTs),
//                                           USB serial converters (usb-serial bus),
//                                           USB CDC ACM devices that are no modem, single
//                                           PCI serial cards, ports only map files declare
//   Infrared class {6BDD1FC5-...}           IrCOMM ttys (ircomm*)
//   Adapter class {4D36E964-...}            UARTs on ISA cards (isa bus)
//   Bluetooth class {E0CBF06C-...}          Bluetooth RFCOMM ttys (rfcomm*)
//   Modem class {4D36E96D-...}              USB CDC ACM interfaces with an AT-command
//                                           protocol (bInterfaceProtocol 1..6)
//   Multifunction class {4D36E971-...}      serial ports of combined parallel/serial
//                                           cards (parport_serial driver)
//   Multiport serial class {50906CB8-...}   PCI boards carrying more than one tty
//   Legacy driver class {8ECC055D-...}      ports the 8250 driver probes at fixed legacy
//                                           addresses (serial8250 platform device)
//   {DF799E12-...}                          USB gadget serial functions (ttyGS*): the
//                                           machine is the device end of a USB link
//
//   Interface GUIDs (queried by device interface, the "path" is what one opens):
//   COM port interface {86E0D1E0-...}       every serial tty except modems and gadget
//                                           functions; path: the device node
//   Modem interface {2C7089AA-...}          the Modem class above; path: the device node
//   Ports class queried as an interface     ttys with a persistent link below
//                                           /dev/serial/ (by-id, by-path); path: the link
//
// Placeholders of the 8250 driver (no UART behind the ttyS, as the serial-port map
// tells them: "type" 0, or no type on a serial8250 device) and ttys without a device
// (virtual consoles, ptmx) are not devices of the database. The ports that map files
// declare and sysfs does not show (pseudo-terminals, socat links, a converter named by a
// by-id link while unplugged) are devices of the Ports class, with the kernel's tty
// driver (pty_slave...) as their driver.
//
// PresentOnly: sysfs and udev only know what is there now; of the declared ports, those
// whose path leads nowhere are left out.
//
// The record fields: Description (udev model name, else the USB product string, else
// the UART type), Manufacturer (udev vendor name, else the USB manufacturer string),
// Service (the kernel driver, e.g. ftdi_sio), Driver (bus and driver, e.g.
// "usb-serial/ftdi_sio"), NamePDO (the device node), RegKey (the tty's sysfs directory
// below the sysfs root), NameSymbolic (the first persistent link), PortName (the
// map's "COMn" for the device node or one of its links), InstanceId (the sysfs path of
// the hardware device, as udev writes DEVPATH), BusRelations (the devices below it).
// DevInst stays 0: Linux has no configuration-manager handles.
//
// Threads: called on the user-interface thread (from DeviceListLoad). The database
// override (SetSetupDatabase) is guarded by a lock.
#pragma once

#include "../nrdevice.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

using TGuid = std::array<std::uint8_t, 16>;

// A GUID from its text "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", in the usual in-memory
// layout (the first three groups little-endian).
consteval TGuid MakeGuid(const char (&text)[37]) {
    auto hex = [](char c) -> int {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c - 'a' + 10;
    };
    std::array<std::uint8_t, 16> bytes{};
    int n = 0;
    for (int i = 0; i < 36; ++i) {
        if (text[i] == '-') continue;
        bytes[n / 2] = static_cast<std::uint8_t>(bytes[n / 2] | (hex(text[i]) << ((n % 2) ? 0 : 4)));
        ++n;
    }
    TGuid g = bytes;
    // Data1 (4 bytes), Data2 and Data3 (2 bytes each) are stored little-endian.
    g[0] = bytes[3], g[1] = bytes[2], g[2] = bytes[1], g[3] = bytes[0];
    g[4] = bytes[5], g[5] = bytes[4], g[6] = bytes[7], g[7] = bytes[6];
    return g;
}

QString GuidToString(const TGuid& guid);

inline constexpr TGuid GUID_DEVINTERFACE_MODEM = MakeGuid("2C7089AA-2E0E-11D1-B114-00C04FC2AAE4");
inline constexpr TGuid GUID_DEVINTERFACE_COMPORT = MakeGuid("86E0D1E0-8089-11D0-9CE4-08003E301F73");
inline constexpr TGuid GUID_DEVCLASS_PORTS = MakeGuid("4D36E978-E325-11CE-BFC1-08002BE10318");
inline constexpr TGuid GUID_DEVCLASS_INFRARED = MakeGuid("6BDD1FC5-810F-11D0-BEC7-08002BE2092F");
inline constexpr TGuid GUID_DEVCLASS_ADAPTER = MakeGuid("4D36E964-E325-11CE-BFC1-08002BE10318");
inline constexpr TGuid GUID_DEVCLASS_BLUETOOTH = MakeGuid("E0CBF06C-CD8B-4647-BB8A-263B43F0F974");
inline constexpr TGuid GUID_DEVCLASS_MODEM = MakeGuid("4D36E96D-E325-11CE-BFC1-08002BE10318");
inline constexpr TGuid GUID_DEVCLASS_MULTIFUNCTION = MakeGuid("4D36E971-E325-11CE-BFC1-08002BE10318");
inline constexpr TGuid GUID_DEVCLASS_MULTIPORTSERIAL = MakeGuid("50906CB8-BA12-11D1-BF5D-0000F805F530");
inline constexpr TGuid GUID_DEVCLASS_LEGACYDRIVER = MakeGuid("8ECC055D-047F-11D1-A537-0000F8753ED1");
inline constexpr TGuid GUID_DEVCLASS_GADGETSERIAL = MakeGuid("DF799E12-3C56-421B-B298-B6D3642BC878");

// Device properties a query reads for every device, with the field that receives each.
inline constexpr std::uint32_t SPDRP_DEVICEDESC = 0;                   // Description
inline constexpr std::uint32_t SPDRP_SERVICE = 4;                      // Service
inline constexpr std::uint32_t SPDRP_DRIVER = 9;                       // Driver
inline constexpr std::uint32_t SPDRP_MFG = 11;                         // Manufacturer
inline constexpr std::uint32_t SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 14; // NamePDO

// Where the queries look. Tests point SysfsRoot at a recorded tree and give the udev
// properties and the port names themselves.
struct TSetupDatabase {
    // Empty: the serial-port map's sysfs root (see nrportmap.h).
    QString SysfsRoot;
    // udev's properties of the device at this absolute sysfs path; empty: ask libudev.
    std::function<QHash<QString, QString>(const QString& sysPath)> Properties;
    // The map's "COMn" for a device node and its links, "" when the map has none;
    // empty: ask the serial-port map.
    std::function<QString(const QString& devNode, const QStringList& devLinks)> PortNameOf;
};

void SetSetupDatabase(const TSetupDatabase& database);
TSetupDatabase SetupDatabase();

// One serial tty as sysfs and udev describe it.
struct TSetupDevice {
    QString SysName;      // ttyUSB0
    QString SysPath;      // absolute sysfs directory of the tty; "" for a port only a map file declares
    QString DevNode;      // /dev/ttyUSB0; empty when neither udev nor sysfs names one
    QStringList DevLinks; // persistent links udev made for it
    QString HardwarePath; // absolute sysfs directory of the device it hangs off; "" if virtual
    QString Bus;          // subsystem of that device: usb-serial, usb, pci, pnp, platform, isa...
    QString DriverName;   // its driver: ftdi_sio, cdc_acm, serial, serial8250...
    QHash<QString, QString> Properties;
    TGuid ClassGuid{};
};

// Every serial tty of the database: those of sysfs in name order, then the ports only
// map files declare (without the missing ones when PresentOnly).
QList<TSetupDevice> ReadSetupDevices(const TSetupDatabase& database, bool PresentOnly = true);

// Appends one record per device of the class (ByClass) or per interface of the
// interface class (!ByClass) to List, each under its Driver text; Guid null: all
// classes. The records belong to the caller. Adds nothing when libudev is not usable.
void EnumSetupDevices(const TGuid* Guid, bool PresentOnly, bool ByClass, bool WithInterfacePath,
                      TnrDeviceList& List);

// One property of a device as text (SPDRP_...); empty when it has none.
QString GetDeviceRegistryString(const TSetupDevice& Device, std::uint32_t Property);

// The devices related to DeviceId (a sysfs device path as udev writes it: /devices/...),
// joined by Separator: with BusRelations the devices directly below it, otherwise every
// device removed together with it (all below it).
QString GetDeviceIdList(const QString& DeviceId, const QString& Separator, bool BusRelations);

// Turns NUL-separated strings ending in a double NUL into one text joined by Separator.
// Length counts the characters of Buffer including the final double NUL.
QString JoinMultiString(const char16_t* Buffer, int Length, const QString& Separator);

// The roots GetKeyPath can split off a key's path.
enum class TSetupRoot { srNone, srSysfs };

// The full path of an open directory ("key"); with Root asked for, split into the root
// it lies under and the path below it. Path is empty when Key is not an open directory.
void GetKeyPath(int Key, TSetupRoot* Root, QString& Path);

// An attribute file of a sysfs directory, without its final line end; empty when the
// directory or the attribute is missing or cannot be read.
QString ReadRegString(TSetupRoot Root, const QString& KeyPath, const QString& ValueName);
