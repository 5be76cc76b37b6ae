// TForm3: the port settings dialog. For the channel named by the main window's stMode it
// offers the port (a port selection box linked to the channel's live component, so a pick
// moves the component at once), the baud rate, the data bits, the stop bits and the parity.
// OK writes the channel's record and refreshes its LEDs; the main window then applies the
// record to the component. A port the other channel uses is refused before the component
// moves, so a working channel stays open on its port. Cancel puts the channel back on the
// port it had when the dialog was shown, open again if it was open.
//
// The dialog is created hidden at start-up and serves every showing, so its lists keep
// their last selections. exec() returns mrOk (1) for OK and mrCancel (2) for Cancel,
// Escape or the title bar's close button.
//
// Threads: user-interface thread only.
#pragma once

#include "comparm.h"

#include <QDialog>
#include <cstdint>

class QComboBox;
class QLabel;
class TForm1;
class TGlyphButton;
class TnrDeviceBox;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

    explicit TForm3(TForm1* mainForm, QWidget* parent = nullptr);
    ~TForm3() override;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    TGlyphButton* BtnOK;
    TGlyphButton* BtnCancel;
    QComboBox* CBoxBaudRate;
    QComboBox* CBoxDataBits;
    QComboBox* CBoxStopBits;
    QComboBox* CBoxParity;
    TnrDeviceBox* nrDeviceBox1;

    // Port numbers taken when the dialog was shown: the edited channel's and the other's;
    // cp is the port picked last.
    std::uint16_t tmpComNb = 0;
    std::uint16_t secondComNb = 0;
    std::uint16_t cp = 0;

    void FormShow(QObject* Sender);
    void SetParms(TComParm ComRec);
    void GetParms(TComParm& ComRec);
    void nrDeviceBox1Change(QObject* Sender);
    void BtnOKClick(QObject* Sender);
    void BtnCancelClick(QObject* Sender);

    // Asked by the port list before it moves the component to a picked port: false, after
    // telling the user, for the port the other channel uses.
    bool AcceptPort(std::uint16_t Port);

public slots:
    // Escape and the title bar's close button: the same as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The component the port list is linked to.
    TnrComm* LinkedComm() const;
    void ShowSamePortRefusal();
    // Cancel, Escape and the title bar's close button.
    void Cancel();

    TForm1* fMainForm;
    // The edited channel when the dialog was shown, for Cancel: whether its port was open
    // and its record's port number (a pick that fails to open clears it).
    bool fOpenWhenShown = false;
    std::uint16_t fRecordComNbWhenShown = 0;
};
