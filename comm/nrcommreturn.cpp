// Coming back after the device vanished (TnrCustomSerialComm::ReopenOnReturn, nrcomm.h).
//
// A USB-serial adapter that is pulled and plugged in again shows up as its map path
// present again: the same /dev/serial/by-id or by-path link, the same node, or a link a
// test re-made to a new pseudo-terminal. The watch looks at the path every
// kReturnPollMs and whenever the host passes a device change; a return is the path
// present after it was seen absent, or present with another file behind it (a link
// made anew). The adapter's by-id names tell whether it is the same one: another
// adapter plugged into the same socket (by-path) or given the same node is not reopened.
#include "nrcomm.h"
#include "nrcommreturn.h"

#include "platform/nrerror.h"
#include "platform/nrportmap.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

constexpr int kReturnPollMs = 250;

TDeviceIdentity IdentityOf(const QString& path) {
    TDeviceIdentity id;
    struct stat own {};
    struct stat target {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &own) != 0 || ::stat(native.constData(), &target) != 0) return id;
    id.Present = true;
    id.Target = QFileInfo(path).canonicalFilePath();
    const auto nanoseconds = [](const timespec& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
    };
    id.Link = own.st_ino;
    id.LinkChanged = nanoseconds(own.st_ctim);
    id.Node = S_ISCHR(target.st_mode) ? target.st_rdev : target.st_ino;
    id.NodeChanged = nanoseconds(target.st_ctim);
    const QDir byId(SerialPortMapSources().DevRoot + QStringLiteral("/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == id.Target) id.ById << link.fileName();
    return id;
}

bool SharesAName(const QStringList& a, const QStringList& b) {
    for (const QString& name : a)
        if (b.contains(name)) return true;
    return false;
}

} // namespace

bool TnrCustomSerialComm::ReopenOnReturn() const {
    return fReopenOnReturn.load(std::memory_order_relaxed);
}

void TnrCustomSerialComm::SetReopenOnReturn(bool Value) {
    const bool was = fReopenOnReturn.exchange(Value, std::memory_order_relaxed);
    if (!Value)
        StopWaitingForReturn();
    else if (!was && IsOpen() && fExtHandle == 0)
        NoteOpenedDevice(ComName()); // an open that predates the switch
}

bool TnrCustomSerialComm::WaitingForReturn() const {
    return fReturnWatch != nullptr;
}

void TnrCustomSerialComm::NoteOpenedDevice(const QString& portName) {
    fOpened.reset();
    QString path;
    if (!ResolvePortName(portName, path)) return;
    auto watch = std::make_unique<TPortReturnWatch>();
    watch->PortName = portName;
    watch->Path = path;
    watch->Opened = IdentityOf(path);
    fOpened = std::move(watch);
}

void TnrCustomSerialComm::DeviceVanished() {
    // On the thread that processed events, right after the close: the watch belongs to
    // the component's own thread. Dropped if the component is destroyed first.
    if (!ReopenOnReturn()) return;
    QMetaObject::invokeMethod(this, [this] { StartWaitingForReturn(); }, Qt::QueuedConnection);
}

void TnrCustomSerialComm::StartWaitingForReturn() {
    // A close asked for, a new port or an open since the device vanished wins.
    if (!ReopenOnReturn() || IsOpen() || !fOpened || fReturnWatch) return;
    fReturnWatch = std::move(fOpened);
    fReturnWatch->LastSeen = fReturnWatch->Opened;
    fReturnWatch->Poll = new QTimer;
    fReturnWatch->Poll->setInterval(kReturnPollMs);
    QObject::connect(fReturnWatch->Poll, &QTimer::timeout, this, [this] { CheckForReturn(); });
    fReturnWatch->Poll->start();
    CheckForReturn();
}

void TnrCustomSerialComm::StopWaitingForReturn() {
    fReturnWatch.reset();
    fOpened.reset();
}

void TnrCustomSerialComm::ActiveChanging(bool) {
    // Opening or closing by the host ends the wait; the reopen itself goes through here too.
    if (!fReopening) StopWaitingForReturn();
}

bool TnrCustomSerialComm::WMDeviceChange(TMessage& Msg) {
    const bool reloaded = TnrCustomComm::WMDeviceChange(Msg);
    if (fReturnWatch) CheckForReturn();
    return reloaded;
}

void TnrCustomSerialComm::CheckForReturn() {
    if (!fReturnWatch) return;
    TPortReturnWatch& watch = *fReturnWatch;
    // The map may have been edited meanwhile: only the path the port had counts.
    QString path;
    TDeviceIdentity now;
    if (ResolvePortName(watch.PortName, path) && path == watch.Path) now = IdentityOf(path);
    if (!now.Present) {
        watch.SeenAbsent = true;
        return;
    }
    if (!watch.SeenAbsent && now.SameFile(watch.LastSeen)) return; // still the one that went
    // udev makes the by-id links a moment after the node: an adapter that had one is
    // judged once its links are there.
    if (!watch.Opened.ById.isEmpty() && now.ById.isEmpty()) return;
    watch.SeenAbsent = false;
    watch.LastSeen = now;

    if (!watch.Opened.ById.isEmpty() && !SharesAName(watch.Opened.ById, now.ById)) {
        if (OnDeviceReturn) OnDeviceReturn(this, drOtherDevice, 0);
        return;
    }
    fReopening = true;
    fQuietOpenFailure = true;
    std::uint32_t error = 0;
    try {
        SetActive(true);
        if (!IsOpen()) error = fLastOpenError;
    } catch (const std::exception&) {
        // A handler of the open (OnOpen, a listener) raised: the port may still be open.
        if (!IsOpen()) error = fLastOpenError;
    }
    fQuietOpenFailure = false;
    fReopening = false;
    if (!fReturnWatch) return; // a handler closed the port or picked another one meanwhile
    if (IsOpen()) {
        // The open noted what is behind the path now, for the next vanishing.
        fReturnWatch.reset();
        if (OnDeviceReturn) OnDeviceReturn(this, drReopened, 0);
        return;
    }
    if (OnDeviceReturn) OnDeviceReturn(this, drOpenFailed, error);
}
