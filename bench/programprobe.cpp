#include "programprobe.h"

#include "linkanalysishost.h"
#include "mainform.h"
#include "memopane.h"
#include "nrcommbox.h"
#include "portsettingsform.h"
#include "probeio.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QToolButton>
#include <ctime>

namespace {

std::int64_t Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// When the program's libraries were loaded and its static objects built: the part of the
// start-up that comes before main().
const std::int64_t gLoaded = Now();

} // namespace

TProgramProbe::TProgramProbe(TForm1& mainForm, TForm3& settingsForm)
    : fMainForm(mainForm), fSettingsForm(settingsForm) {
    ProbeSay("loaded " + QByteArray::number(gLoaded));
    ProbeSay("constructed " + QByteArray::number(Now()));

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

    new TProbeCommands([this](const QByteArray& command) { Run(command); }, nullptr, this);
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
        QTimer::singleShot(0, this, [] { ProbeSay("painted " + QByteArray::number(Now())); });
    } else if (watched == &fSettingsForm && fDialogClicked != 0 && !fDialogPainted) {
        fDialogPainted = true;
        QTimer::singleShot(0, this, [this] {
            ProbeSay("dialog " + QByteArray::number(fDialogClicked) + ' ' + QByteArray::number(Now()) + ' ' +
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

void TProgramProbe::Run(const QByteArray& command) {
    if (command == "dialog") {
        // From the event loop: the click runs the dialog's own modal loop.
        QTimer::singleShot(0, this, [this] { OpenSettingsDialog(); });
    } else if (command.startsWith("dump ")) {
        Dump(QString::fromLocal8Bit(command.mid(5)));
    } else if (command == "analysis on" || command == "analysis off") {
        // The link analysis is switched from outside, so one build measures both.
        auto* host = fMainForm.findChild<TLinkAnalysisHost*>();
        if (!host) {
            ProbeSay("failed no link analysis");
            return;
        }
        host->SetAnalysisEnabled(command.endsWith("on"));
        ProbeSay(command);
    } else if (command == "quit") {
        QCoreApplication::quit();
    } else {
        ProbeSay("unknown " + command);
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
        ProbeSay("failed " + reason.toLocal8Bit());
        return;
    }
    QFile marks(folder + QStringLiteral("/probe.txt"));
    if (!marks.open(QIODevice::WriteOnly)) {
        ProbeSay("failed " + marks.errorString().toLocal8Bit());
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
    ProbeSay("dumped " + QByteArray::number(fGps.Pane->LineCount()) + ' ' +
        QByteArray::number(fAis.Pane->LineCount()));
}
