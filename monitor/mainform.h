// TForm1: the main window. Two channels, each a serial port component, a text pane that
// shows every line received on the port as soon as its carriage return arrives, a
// parameter label, an "On" and an "Off" LED, a close button and a settings button:
//
//   GPS channel: nrComm1, Com1Rec, Memo1, Label7, VrLedOnGPS/VrLedOffGPS, BtnClose1, SpBtnGPS
//   AIS channel: nrComm2, Com2Rec, Memo2, Label8, VrLedOnAIS/VrLedOffAIS, BtnClose2, SpBtnAIS
//
// Start-up (FormShow, when the window is first shown) reads the settings file into the
// components or applies the defaults, opens each port whose number is not 0 (a failure
// only turns the number to 0) and sets the LEDs. Timer1 refreshes the labels, the close
// buttons and the LEDs every 2000 ms.
//
// A channel's lamps and close button tell whether its port is open, and nothing else
// (ShowPortState): "On" lit and the close button enabled exactly while the port is open,
// "Off" lit exactly while it is not. The window listens to both components' open and
// close notifications, so a port that closes or opens by any road - a reopening on new
// settings, a device that vanished - shows at once. Closing closes both ports, asks whether to save
// the port configuration and writes the settings file on Yes; when the file cannot be
// written the error is shown and the window stays open.
//
// The settings file name is given to the constructor (the program passes the one beside
// its executable). Its folder is also where the save dialogs start.
//
// A channel whose device vanished (an adapter pulled out) comes back by itself when the
// device returns behind the same map path (the components' ReopenOnReturn); one the user
// closed does not. The port lists follow adapters that come and go (PortWatch).
//
// Every handler runs through the one guard (handlerguard.h): an exception it lets through
// ends in the standard error box.
//
// Threads: a window; everything runs on the user-interface thread, where both port
// components deliver their events (UseMainThread is true). The pending lines, records,
// stMode and controls are used from that thread only and need no lock.
#pragma once

#include "comparm.h"
#include "lineassembler.h"
#include "nrcomm.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

class QLabel;
class QTimer;
class QToolButton;
class TAutoSizeLabel;
class TForm2;
class TForm3;
class TGlyphButton;
class TMemoPane;
class TPortWatch;
class TTextSaveDialog;
class TVrLed;

enum TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(const QString& settingsFileName, QWidget* parent = nullptr);
    ~TForm1() override;

    // The help window and the port settings dialog, created after this window.
    void SetHelpForm(TForm2* form) { fHelpForm = form; }
    void SetSettingsForm(TForm3* form) { fSettingsForm = form; }

    QString SettingsFileName() const { return fSettingsFileName; }
    // The folder the save dialogs start in; the settings file's folder unless set.
    void SetSaveFolder(const QString& folder) { fSaveFolder = folder; }

    // --- Controls, in the order the window creates them ---
    QLabel* Label1;
    TAutoSizeLabel* Label3;
    QLabel* Label2;
    TAutoSizeLabel* Label7;
    TAutoSizeLabel* Label8;
    TVrLed* VrLedOnGPS;
    TVrLed* VrLedOffGPS;
    TVrLed* VrLedOnAIS;
    TVrLed* VrLedOffAIS;
    QToolButton* spbtnHelp;
    QToolButton* SpBtnAIS;
    QToolButton* SpBtnGPS;
    TMemoPane* Memo1;
    TGlyphButton* btnClearGPStxt;
    TGlyphButton* btnClearAIStxt;
    TMemoPane* Memo2;
    TGlyphButton* BtnClose1;
    TGlyphButton* BtnClose2;
    TGlyphButton* btnSaveAIStxt;
    TGlyphButton* btnSaveGPStxt;
    TGlyphButton* btnQuit;
    TGlyphButton* BitBtn1;

    // --- Non-visual members ---
    // The save dialogs are made at their first use: the toolkit's file dialog starts a
    // folder-watching thread of its own, which a window that never saves does not need.
    TTextSaveDialog* SaveDialog1 = nullptr;
    TTextSaveDialog* SaveDialog2 = nullptr;
    QTimer* Timer1;
    TnrComm* nrComm1;
    TnrComm* nrComm2;
    // Passes device arrivals, removals and map-file changes to both components.
    TPortWatch* PortWatch;

    // --- Data ---
    TComParm Com1Rec{};
    TComParm Com2Rec{};
    // "GPS" or "AIS": the channel the settings dialog edits; empty before the first use.
    QString stMode;

    // The lines being received on each channel (bytes since the last carriage return).
    const TLineAssembler& PendingGPS() const { return fPendingGPS; }
    const TLineAssembler& PendingAIS() const { return fPendingAIS; }

    // --- Port parameters ---
    QString SetComString(TComParm ComRec) const { return ComParmText(ComRec); }
    void SetComportRec(TnrComm* ComP, TComParm& ComRec) { CopyComponentToRecord(ComP, ComRec); }
    void GetComportRec(TnrComm* ComP, TComParm ComRec) { CopyRecordToComponent(ComP, ComRec); }
    void SetDefaultComportsAndRec();

    // Lights the channel's "On" or "Off" LED and enables or disables its close button from
    // whether the component's port is open. com is nrComm1 or nrComm2.
    void ShowPortState(TnrComm* com);

    // --- Handlers ---
    void FormShow(QObject* Sender);
    void nrComm1AfterReceive(QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received);
    void nrComm2AfterReceive(QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received);
    void nrComm1PortOpen(QObject* Sender);
    void nrComm2PortOpen(QObject* Sender);
    void nrComm1PortClose(QObject* Sender);
    void nrComm2PortClose(QObject* Sender);
    void nrComm1FatalError(QObject* Sender, std::uint32_t ErrorCode, std::uint32_t Detail,
                           const QString& ErrorMsg, bool& RaiseException);
    void nrComm2FatalError(QObject* Sender, std::uint32_t ErrorCode, std::uint32_t Detail,
                           const QString& ErrorMsg, bool& RaiseException);
    void BtnClose1Click(QObject* Sender);
    void BtnClose2Click(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void BitBtn1Click(QObject* Sender);
    void SpBtnAISClick(QObject* Sender);
    void VrLedOnGPSChange(QObject* Sender);
    void VrLedOnAISChange(QObject* Sender);
    void btnClearGPStxtClick(QObject* Sender);
    void btnClearAIStxtClick(QObject* Sender);
    void btnSaveGPStxtClick(QObject* Sender);
    void btnSaveAIStxtClick(QObject* Sender);
    void spbtnHelpClick(QObject* Sender);
    void btnQuitClick(QObject* Sender);
    void FormCloseQuery(QObject* Sender, bool& CanClose);
    void FormClose(QObject* Sender, TCloseAction& Action);
    // A channel's device came back (the components reopen by themselves): a message,
    // without blocking, when the port stayed closed; one box per channel at a time.
    void PortReturned(TnrComm* com, TDeviceReturn Result, std::uint32_t SysError);

signals:
    // The window has closed: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ConfigurePort(TnrComm* com);
    // Listener of both components: notifications 1 (closed) and 2 (opened) show the state.
    void PortNotify(QObject* Sender, int Code);
    void SetDefaultChannel(TnrComm* com, TComParm& rec, std::uint32_t baud);
    void OpenAtStartUp(TnrComm* com);
    void CloseChannel(TnrComm* com, TComParm& rec, void (TForm1::*portClose)(QObject*));
    void SavePane(TTextSaveDialog*& dialog, const QString& name, TMemoPane* pane);
    void ReadSettingsFile();
    void WriteSettingsFile();
    bool AskSaveConfiguration();

    QString fSettingsFileName;
    QString fSaveFolder;
    TForm2* fHelpForm = nullptr;
    TForm3* fSettingsForm = nullptr;
    TLineAssembler fPendingGPS;
    TLineAssembler fPendingAIS;
    bool fShown = false;
    QPointer<QMessageBox> fReturnBoxGPS;
    QPointer<QMessageBox> fReturnBoxAIS;
};
