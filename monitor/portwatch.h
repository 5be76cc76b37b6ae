// TPortWatch: tells the program's port components when the machine's serial ports may
// have changed, so that their lists (and the settings dialog's box) follow adapters that
// are plugged in or pulled without a restart.
//
// Sources: the library's device monitor (udev's tty arrivals and removals) and the map
// files (/etc/serialcomm/ports and the user's), which users and tools edit while the
// program runs. One adapter makes a burst of events (its tty, its by-id and by-path
// links) and an editor writes a file in several steps: the watch waits until the burst
// has been quiet for kSettleMs and then passes one device-change message
// (DBT_DEVNODES_CHANGED) to each component's WMDeviceChange: one reload each.
//
// Threads: a QObject of the user-interface thread, where the components live.
#pragma once

#include "nrcomm.h"
#include "nrdevicemonitor.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// The French message for a device that came back without its channel reopening (empty
// for drReopened): channel "GPS" or "AIS", the port's name, the system error of a failed
// open.
QString DeviceReturnText(TDeviceReturn result, const QString& channel, const QString& portName,
                         std::uint32_t sysError);

class TPortWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;

    // The device monitor's source is udev's unless one is given (tests feed recorded
    // events).
    explicit TPortWatch(QList<TnrBaseIO*> components, std::unique_ptr<TDeviceEventSource> source = nullptr,
                        QObject* parent = nullptr);

    // Reloads passed on so far (one per settled burst).
    int Reloads() const { return fReloads; }
    // Listens to this source of device events from now on.
    void SetDeviceEventSource(std::unique_ptr<TDeviceEventSource> source);

    // A change seen: the reload follows when the burst has settled.
    void Changed();

private:
    void WatchMapFiles();
    void Reload();

    QList<QPointer<TnrBaseIO>> fComponents;
    TnrDeviceMonitor fMonitor;
    QFileSystemWatcher fFiles;
    QStringList fMapFiles;
    QTimer fSettle;
    int fReloads = 0;
};
