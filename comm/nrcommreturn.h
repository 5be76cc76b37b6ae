// The wait of a serial port component for its device's return (nrcommreturn.cpp); its
// state lives on the component's own thread.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>

// What a map path leads to at one moment.
struct TDeviceIdentity {
    bool Present = false;
    QString Target;         // the file behind the path, links followed
    // The path's own inode and change time, and the device number and change time of
    // what it leads to: a link or a node made anew differs, even where the system gives
    // it the inode or the pseudo-terminal number of the one that went.
    std::uint64_t Link = 0, LinkChanged = 0;
    std::uint64_t Node = 0, NodeChanged = 0;
    QStringList ById; // the /dev/serial/by-id names leading to the same file

    bool SameFile(const TDeviceIdentity& other) const {
        return Target == other.Target && Link == other.Link && LinkChanged == other.LinkChanged &&
               Node == other.Node && NodeChanged == other.NodeChanged;
    }
};

// The state of one wait for the device's return; lives on the component's thread.
struct TPortReturnWatch {
    QString PortName;        // the name the port was opened by (COMn)
    QString Path;            // the map path it resolved to
    TDeviceIdentity Opened;  // what was behind the path at the open
    TDeviceIdentity LastSeen;
    bool SeenAbsent = false;
    // Deleted later: the watch may end inside the timer's own call.
    QTimer* Poll = nullptr;

    ~TPortReturnWatch() {
        if (!Poll) return;
        Poll->stop();
        Poll->deleteLater();
    }
};
