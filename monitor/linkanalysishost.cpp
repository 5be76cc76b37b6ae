#include "linkanalysishost.h"

#include "analysiswindow.h"
#include "handlerguard.h"
#include "mainform.h"
#include "memopane.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>

namespace {

const char* ChannelText(int channel) {
    return channel == 0 ? "GPS" : "AIS";
}

const QString kRawFilter = QStringLiteral("Octets bruts, tels que reçus (*)");
const QString kStampedFilter = QStringLiteral("Chaque ligne précédée de son heure UTC (*)");

} // namespace

TLinkAnalysisHost::TLinkAnalysisHost(TForm1& mainForm) : QObject(&mainForm), fMainForm(mainForm) {
    setObjectName(QStringLiteral("LinkAnalysisHost"));
    Tap(mainForm.nrComm1, fGps);
    Tap(mainForm.nrComm2, fAis);
    fGps.OnCaptureFailed = [this](const QString& reason) { CaptureBroken(0, reason); };
    fAis.OnCaptureFailed = [this](const QString& reason) { CaptureBroken(1, reason); };

    mainForm.Memo1->OnContextMenu = [this](QMenu& menu) { AddMenuItems(menu, 0); };
    mainForm.Memo2->OnContextMenu = [this](QMenu& menu) { AddMenuItems(menu, 1); };
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+L")), &mainForm);
    shortcut->setObjectName(QStringLiteral("analysisShortcut"));
    connect(shortcut, &QShortcut::activated, this, [this] { ShowWindow(-1); });

    fCheckTimer = new QTimer(this);
    fCheckTimer->setInterval(kCheckCaptureMs);
    connect(fCheckTimer, &QTimer::timeout, this, &TLinkAnalysisHost::CheckCaptures);
}

TLinkAnalysisHost::~TLinkAnalysisHost() {
    // The window's own destructor has already released the ports (their handlers point
    // here); only what is ours is left.
    delete fWindow;
}

// The window's handler first: the pane gets the delivery as before, then the tap reads
// the same bytes.
void TLinkAnalysisHost::Tap(TnrComm* com, TReceiveTap& tap) {
    const TOnReceived inner = com->OnAfterReceive;
    com->OnAfterReceive = [inner, &tap](QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received) {
        if (inner) inner(Com, Buffer, Received);
        RunGuarded([&] { tap.Received(Buffer, Received); });
    };
    const TOnCommErrorEvent innerError = com->OnCommError;
    com->OnCommError = [innerError, &tap](QObject* Com, std::uint32_t CommCode, std::uint32_t SysError,
                                          TComStateFlags State, bool& flFlashBuffers) {
        if (innerError) innerError(Com, CommCode, SysError, State, flFlashBuffers);
        tap.LineErrors(CommCode);
    };
}

void TLinkAnalysisHost::ShowWindow(int channel) {
    if (!fWindow) fWindow = new TAnalysisWindow(fGps, fAis);
    if (channel < 0) channel = fWindow->Tabs()->currentIndex();
    fWindow->ShowChannel(channel);
}

void TLinkAnalysisHost::SetAnalysisEnabled(bool on) {
    fGps.SetAnalysisEnabled(on);
    fAis.SetAnalysisEnabled(on);
}

void TLinkAnalysisHost::AddMenuItems(QMenu& menu, int channel) {
    QAction* analysis = menu.addAction(QStringLiteral("Analyse de la liaison"), this,
                                       [this, channel] { ShowWindow(channel); });
    analysis->setObjectName(QStringLiteral("actionLinkAnalysis"));
    analysis->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+L")));
    if (Tap(channel).Capture().IsOpen()) {
        QAction* stop = menu.addAction(QStringLiteral("Arrêter l'enregistrement"), this,
                                       [this, channel] { StopCapture(channel); });
        stop->setObjectName(QStringLiteral("actionStopCapture"));
    } else {
        // Queued: the file dialog opens once the menu has closed.
        QAction* start = menu.addAction(QStringLiteral("Enregistrer en continu…"), this,
                                        [this, channel] { AskCapture(channel); }, Qt::QueuedConnection);
        start->setObjectName(QStringLiteral("actionStartCapture"));
    }
}

bool TLinkAnalysisHost::StartCapture(int channel, const QString& path, bool stamped, QString* reason) {
    if (!Tap(channel).Capture().Open(path, stamped, reason)) return false;
    fLastFolder = QFileInfo(path).absolutePath();
    UpdateCheckTimer();
    return true;
}

void TLinkAnalysisHost::StopCapture(int channel) {
    Tap(channel).Capture().Close();
    UpdateCheckTimer();
}

void TLinkAnalysisHost::AskCapture(int channel) {
    QFileDialog dialog(&fMainForm, QStringLiteral("Enregistrer en continu – canal %1").arg(QLatin1String(ChannelText(channel))),
                       fLastFolder.isEmpty() ? QFileInfo(fMainForm.SettingsFileName()).absolutePath() : fLastFolder);
    dialog.setObjectName(QStringLiteral("captureDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // An existing file is continued, never emptied: no question about replacing it.
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({kRawFilter, kStampedFilter});
    dialog.selectFile(QStringLiteral("capture-%1.log").arg(QString::fromLatin1(ChannelText(channel)).toLower()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().constFirst();
    QString reason;
    if (!StartCapture(channel, path, dialog.selectedNameFilter() == kStampedFilter, &reason))
        QMessageBox::warning(&fMainForm, QStringLiteral("Enregistrer en continu"),
                             QStringLiteral("Impossible d'ouvrir « %1 » : %2").arg(path, reason));
}

void TLinkAnalysisHost::CheckCaptures() {
    for (int channel : {0, 1}) {
        TChannelCapture& capture = Tap(channel).Capture();
        QString reason;
        if (capture.IsOpen() && !capture.StillThere(&reason)) CaptureBroken(channel, reason);
    }
}

void TLinkAnalysisHost::UpdateCheckTimer() {
    const bool any = fGps.Capture().IsOpen() || fAis.Capture().IsOpen();
    if (any && !fCheckTimer->isActive()) fCheckTimer->start();
    if (!any) fCheckTimer->stop();
}

// Runs inside the port's receive handler or the check timer: the capture is already
// closed; the box is shown from the event loop, without waiting for it.
void TLinkAnalysisHost::CaptureBroken(int channel, const QString& reason) {
    const QString path = Tap(channel).Capture().Path();
    const QString message =
        QStringLiteral("L'enregistrement en continu du canal %1 est arrêté : impossible d'écrire dans « %2 » (%3). "
                       "Les volets continuent de recevoir.")
            .arg(QLatin1String(ChannelText(channel)), path, reason);
    UpdateCheckTimer();
    emit CaptureFailed(channel, message);
    QTimer::singleShot(0, this, [this, message] {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Enregistrement arrêté"), message,
                                    QMessageBox::Ok, &fMainForm);
        box->setObjectName(QStringLiteral("captureStoppedBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}
