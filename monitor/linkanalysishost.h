// TLinkAnalysisHost: the link analysis and the continuous capture, added to the main
// window from outside it.
//
// It takes both channels' received bytes through a receive tap (receivetap.h): the
// port's receive handler runs the window's own handler first (the pane), then the tap,
// on the user-interface thread where the port delivers. The port's line errors
// (OnCommError) go to the same tap. Each pane's context menu gets three items at its end:
// "Analyse de la liaison" (also Ctrl+Shift+L anywhere in the main window), and
// "Enregistrer en continu…" or, while that channel records, "Arrêter l'enregistrement".
//
// A capture whose file can no longer be written (full disk, folder removed) stops at once
// and says so in one message box that does not block: the panes go on receiving.
//
// The host is a child of the main window and goes with it; the program creates it right
// after the window.
//
// Threads: user-interface thread only.
#pragma once

#include "receivetap.h"

#include <QObject>
#include <QString>

class QMenu;
class QTimer;
class TAnalysisWindow;
class TForm1;
class TnrComm;

class TLinkAnalysisHost : public QObject {
    Q_OBJECT
public:
    static constexpr int kCheckCaptureMs = 1000;

    explicit TLinkAnalysisHost(TForm1& mainForm);
    ~TLinkAnalysisHost() override;

    TReceiveTap& Tap(int channel) { return channel == 0 ? fGps : fAis; }
    // Made at its first showing.
    TAnalysisWindow* Window() const { return fWindow; }
    void ShowWindow(int channel);

    // Both channels' analyses on or off (the capture is not affected).
    void SetAnalysisEnabled(bool on);

    // Starts recording a channel into a file; false (nothing changes) with the reason
    // when the file cannot be opened.
    bool StartCapture(int channel, const QString& path, bool stamped, QString* reason);
    void StopCapture(int channel);
    // Asks for the file and the form, then starts; says why when it cannot.
    void AskCapture(int channel);

signals:
    // A capture has stopped by itself; `message` is what the box shows.
    void CaptureFailed(int channel, const QString& message);

private:
    void Tap(TnrComm* com, TReceiveTap& tap);
    void AddMenuItems(QMenu& menu, int channel);
    void CaptureBroken(int channel, const QString& reason);
    void CheckCaptures();
    void UpdateCheckTimer();

    TForm1& fMainForm;
    TReceiveTap fGps;
    TReceiveTap fAis;
    TAnalysisWindow* fWindow = nullptr;
    QTimer* fCheckTimer;
    QString fLastFolder;
};
