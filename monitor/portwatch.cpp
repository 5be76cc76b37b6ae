#include "portwatch.h"

#include "platform/nrerror.h"
#include "platform/nrportmap.h"

#include <QDir>
#include <QFileInfo>
#include <exception>

TPortWatch::TPortWatch(QList<TnrBaseIO*> components, std::unique_ptr<TDeviceEventSource> source,
                       QObject* parent)
    : QObject(parent) {
    for (TnrBaseIO* com : components)
        fComponents.append(com);
    fSettle.setSingleShot(true);
    fSettle.setInterval(kSettleMs);
    connect(&fSettle, &QTimer::timeout, this, [this] { Reload(); });

    fMonitor.OnDeviceChange = [this](QObject*, TMessage&) { Changed(); };
    if (source) fMonitor.SetSource(std::move(source));
    fMonitor.SetActive(true); // without udev the map files are still watched

    const TnrPortMapSources sources = SerialPortMapSources();
    fMapFiles = {sources.SystemMapFile, sources.EffectiveUserMapFile()};
    WatchMapFiles();
    connect(&fFiles, &QFileSystemWatcher::fileChanged, this, [this] { Changed(); });
    connect(&fFiles, &QFileSystemWatcher::directoryChanged, this, [this] { Changed(); });
}

void TPortWatch::SetDeviceEventSource(std::unique_ptr<TDeviceEventSource> source) {
    fMonitor.SetSource(std::move(source));
    fMonitor.SetActive(true);
}

QString DeviceReturnText(TDeviceReturn result, const QString& channel, const QString& portName,
                         std::uint32_t sysError) {
    switch (result) {
    case drOpenFailed:
        return QStringLiteral("Le port %1 du canal %2 est revenu mais ne peut pas être ouvert :\n%3")
            .arg(portName, channel, SysErrorMessage(sysError));
    case drOtherDevice:
        return QStringLiteral("Un autre appareil est branché à la place de celui du port %1 (canal %2) : "
                              "le port reste fermé.")
            .arg(portName, channel);
    case drReopened:
        break;
    }
    return {};
}

void TPortWatch::WatchMapFiles() {
    // A file replaced by a rename, or made for the first time, is watched through its
    // folder (or the nearest folder above it that exists) until it is there again.
    QStringList paths;
    for (const QString& file : std::as_const(fMapFiles)) {
        if (QFileInfo::exists(file)) paths << file;
        QDir dir = QFileInfo(file).dir();
        while (!dir.exists() && !dir.isRoot())
            dir.setPath(QFileInfo(dir.path()).path());
        paths << dir.path();
    }
    paths.removeDuplicates();
    const QStringList watched = fFiles.files() + fFiles.directories();
    QStringList missing;
    for (const QString& path : std::as_const(paths))
        if (!watched.contains(path)) missing << path;
    if (!missing.isEmpty()) fFiles.addPaths(missing);
}

void TPortWatch::Changed() {
    fSettle.start(); // restarted by every event of the burst
}

void TPortWatch::Reload() {
    WatchMapFiles();
    ++fReloads;
    for (const QPointer<TnrBaseIO>& com : std::as_const(fComponents)) {
        if (!com) continue;
        TMessage msg{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
        try {
            com->WMDeviceChange(msg);
        } catch (const std::exception&) {
            // A list that cannot be read now is read again at the next change; the other
            // channel's list still follows.
        }
    }
}
