// The serial-port map: which serial ports the machine has and their names "COMn".
//
// Built from two sources, re-read at every call (the files are small, and a port that was
// plugged in or mapped a moment ago must show up):
//
// 1. Map files: the system's (/etc/serialcomm/ports), then the user's
//    ($XDG_CONFIG_HOME/serialcomm/ports, by default ~/.config/serialcomm/ports). One entry
//    a line, `COMn = /path/to/device`; `#` starts a comment; blank lines are ignored.
//    Names are COM followed by a number from 1 to 65535, in any letter case ("com3" is
//    COM3). Within one file the first line for a name wins (a later line naming the
//    same port again is ignored); the user's file wins over the system's. Lines that don't parse, names that are not COM plus a
//    number, relative paths and paths holding a NUL character are skipped. Paths that
//    don't exist are kept: a pseudo-terminal or a socat link may be created after the map
//    was written, and opening such a port reports the system's own reason.
// 2. Hardware ports in sysfs: every <sysfs>/class/tty/<name> with a `device` link, except
//    8250 placeholders without a UART (`type` reads 0, or no type with the serial8250
//    driver) and the kernel's active consoles (<sysfs>/class/tty/console/active):
//    opening the console would fight the login prompt; a user who really wants it maps
//    it in a map file. Numbers: ttyS<k> is COM(k+1), ttyUSB<k> COM(33+k), ttyACM<k>
//    COM(65+k) for k below 32; every other device (other families, higher k) takes the
//    free numbers from COM97 upward, in name order (ttyAMA2 before ttyAMA10). A device a
//    map file already names is not listed again, and a hardware port whose number a map
//    file gave to another device is left out: the name belongs to the map entry.
//
// The result is ordered by port number. Opening "COMn" opens the mapped path; a name the
// map doesn't have fails with ENOENT ("No such file or directory").
//
// Threads: the functions may be called from any thread. The sources a process uses are
// guarded by a lock; each call works on its own copy.
#pragma once

#include <QList>
#include <QString>

struct TnrPortMapSources {
    QString SystemMapFile = QStringLiteral("/etc/serialcomm/ports");
    // Empty: $XDG_CONFIG_HOME/serialcomm/ports, or ~/.config/serialcomm/ports.
    QString UserMapFile;
    QString SysfsRoot = QStringLiteral("/sys");
    QString DevRoot = QStringLiteral("/dev");

    // The user map file this struct stands for, with the default applied.
    QString EffectiveUserMapFile() const;
};

struct TnrPortMapEntry {
    QString DevicePath; // "/dev/ttyUSB0", "/dev/pts/4", "/dev/serial/by-id/..."
    QString PortName;   // "COM34"
    int Number = 0;     // 34
    bool FromMapFile = false;
};

// The sources this process reads; tests point them at temporary files and a recorded
// sysfs tree.
TnrPortMapSources SerialPortMapSources();
void SetSerialPortMapSources(const TnrPortMapSources& sources);

QList<TnrPortMapEntry> ReadSerialPortMap(const TnrPortMapSources& sources);
QList<TnrPortMapEntry> ReadSerialPortMap();

// "COMn" (any letter case) -> the mapped device path. False with ENOENT as the last error
// when the name is not in the map.
bool ResolvePortName(const QString& name, QString& path, const TnrPortMapSources& sources);
bool ResolvePortName(const QString& name, QString& path);

// The number of "COMn" (1..65535), or 0 when the text is not such a name.
int ParsePortName(const QString& name);
