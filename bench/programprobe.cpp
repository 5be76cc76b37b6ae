#include "programprobe.h"

#include "mainform.h"
#include "memopane.h"
#include "nrcommbox.h"
#include "portsettingsform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::int64_t Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// When the program's libraries were loaded and its static objects built: the part of the
// start-up that comes before main().
const std::int64_t gLoaded = Now();

void Say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

TProgramProbe::TProgramProbe(TForm1& mainForm, TForm3& settingsForm)
    : fMainForm(mainForm), fSettingsForm(settingsForm) {
    Say("loaded " + QByteArray::number(gLoaded));
    Say("constructed " + QByteArray::number(Now()));

    fGps.Pane = mainForm.Memo1;
    fAis.Pane = mainForm.Memo2;
    // Room for a long flood, so that keeping the marks never reallocates during it.
    for (TChannel* channel : {&fGps, &fAis}) {
        channel->Delivered.reserve(1 << 20);
        channel->Painted.reserve(1 << 16);
        channel->Pane->viewport()->installEventFilter(this);
    }
    auto wrap = [](TnrComm* com, TChannel& channel) {
        const TOnReceived inner = com->OnAfterReceive;
        com->OnAfterReceive = [inner, &channel](QObject* Com, const std::uint8_t* Buffer,
                                                std::uint32_t Received) {
            inner(Com, Buffer, Received);
            channel.Delivered.push_back(TMark{Now(), channel.Pane->LineCount()});
        };
    };
    wrap(mainForm.nrComm1, fGps);
    wrap(mainForm.nrComm2, fAis);
    connect(mainForm.Timer1, &QTimer::timeout, this, [this] { fRefreshes.push_back(Now()); });

    mainForm.installEventFilter(this);
    settingsForm.installEventFilter(this);

    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    fCommands = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(fCommands, &QSocketNotifier::activated, this, &TProgramProbe::ReadCommands);
}

TProgramProbe::~TProgramProbe() {
    // The window outlives the probe: its receive handlers must not reach the marks.
    for (TnrComm* com : {fMainForm.nrComm1, fMainForm.nrComm2})
        com->OnAfterReceive = nullptr;
}

bool TProgramProbe::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) return false;
    if (watched == fGps.Pane->viewport()) return PaintAndMark(fGps, watched, event);
    if (watched == fAis.Pane->viewport()) return PaintAndMark(fAis, watched, event);
    if (watched == &fMainForm && !fMainPainted) {
        fMainPainted = true;
        // Runs once the whole window (children included) is painted and flushed.
        QTimer::singleShot(0, this, [] { Say("painted " + QByteArray::number(Now())); });
    } else if (watched == &fSettingsForm && fDialogClicked != 0 && !fDialogPainted) {
        fDialogPainted = true;
        QTimer::singleShot(0, this, [this] {
            Say("dialog " + QByteArray::number(fDialogClicked) + ' ' + QByteArray::number(Now()) + ' ' +
                QByteArray::number(fSettingsForm.nrDeviceBox1->count()));
            fDialogClicked = 0;
            fSettingsForm.reject();
        });
    }
    return false;
}

// Lets the pane paint first (the event goes on to the pane's own handler from here) and
// marks the time the paint ended: the lines counted are on screen from then on.
bool TProgramProbe::PaintAndMark(TChannel& channel, QObject* viewport, QEvent* event) {
    if (channel.InPaint) return false;
    const std::int64_t lines = channel.Pane->LineCount();
    channel.InPaint = true;
    QCoreApplication::sendEvent(viewport, event);
    channel.InPaint = false;
    channel.Painted.push_back(TMark{Now(), lines});
    return true;
}

void TProgramProbe::ReadCommands() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) {
            fInput.append(buffer, n);
            continue;
        }
        if (n == 0) fCommands->setEnabled(false); // the driver went away
        break;
    }
    for (qsizetype end; (end = fInput.indexOf('\n')) >= 0;) {
        const QByteArray command = fInput.left(end).trimmed();
        fInput.remove(0, end + 1);
        if (!command.isEmpty()) Run(command);
    }
}

void TProgramProbe::Run(const QByteArray& command) {
    if (command == "dialog") {
        // From the event loop: the click runs the dialog's own modal loop.
        QTimer::singleShot(0, this, [this] { OpenSettingsDialog(); });
    } else if (command.startsWith("dump ")) {
        Dump(QString::fromLocal8Bit(command.mid(5)));
    } else if (command == "quit") {
        QCoreApplication::quit();
    } else {
        Say("unknown " + command);
    }
}

void TProgramProbe::OpenSettingsDialog() {
    fDialogPainted = false;
    fDialogClicked = Now();
    fMainForm.SpBtnGPS->click();
}

void TProgramProbe::Dump(const QString& folder) {
    QString reason;
    if (!fGps.Pane->SaveToFile(folder + QStringLiteral("/gps.txt"), &reason) ||
        !fAis.Pane->SaveToFile(folder + QStringLiteral("/ais.txt"), &reason)) {
        Say("failed " + reason.toLocal8Bit());
        return;
    }
    QFile marks(folder + QStringLiteral("/probe.txt"));
    if (!marks.open(QIODevice::WriteOnly)) {
        Say("failed " + marks.errorString().toLocal8Bit());
        return;
    }
    auto write = [&](const char* name, const std::vector<TMark>& list) {
        for (const TMark& m : list)
            marks.write(QByteArray(name) + ' ' + QByteArray::number(m.At) + ' ' + QByteArray::number(m.Lines) +
                        '\n');
    };
    write("gps-delivered", fGps.Delivered);
    write("ais-delivered", fAis.Delivered);
    write("gps-painted", fGps.Painted);
    write("ais-painted", fAis.Painted);
    for (std::int64_t at : fRefreshes)
        marks.write("refresh " + QByteArray::number(at) + '\n');
    marks.close();
    Say("dumped " + QByteArray::number(fGps.Pane->LineCount()) + ' ' +
        QByteArray::number(fAis.Pane->LineCount()));
}
