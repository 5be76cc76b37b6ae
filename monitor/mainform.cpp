#include "mainform.h"

#include "VrLeds.h"
#include "formstyle.h"
#include "glyphbutton.h"
#include "handlerguard.h"
#include "helpform.h"
#include "memopane.h"
#include "monitorsettings.h"
#include "pictures.h"
#include "portsettingsform.h"
#include "portwatch.h"
#include "savedialog.h"
#include "settingsfile.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTime>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <exception>

namespace {

constexpr std::uint32_t kReceiveEventIntervalMs = 50;

// The system's long time format without the time zone that Qt's long format adds.
QString LongTimeText(const QTime& time) {
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return locale.toString(time, format.trimmed());
}

QLabel* MakeHeading(QWidget* parent, const QString& caption, const QRect& geometry) {
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    label->setFont(formstyle::PixelFont(QStringLiteral("MS Sans Serif"), 11, true, false, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, formstyle::clMaroon);
    label->setPalette(palette);
    return label;
}

TVrLed* MakeLed(QWidget* parent, const QString& caption, int left, int top, TColor dark, TColor lit) {
    auto* led = new TVrLed(parent);
    led->SetBounds(left, top, 61, 15);
    led->SetLedType(ltLargeRect);
    led->SetCaption(caption);
    led->SetColors(dark, lit);
    return led;
}

QToolButton* MakeSpeedButton(QWidget* parent, TPicture picture, const QRect& geometry) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(PictureIcon(picture));
    button->setIconSize(QSize(kPictureSize, kPictureSize));
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

TGlyphButton* MakeButton(QWidget* parent, TPicture picture, const QString& caption, const QRect& geometry) {
    auto* button = new TGlyphButton(PictureIcon(picture), caption, parent);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

TMemoPane* MakePane(QWidget* parent, const QString& firstLine, const QRect& geometry) {
    auto* pane = new TMemoPane(parent);
    pane->setGeometry(geometry);
    pane->setFont(formstyle::PixelFont(QStringLiteral("Courier New"), 13));
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->SetText(firstLine);
    return pane;
}

} // namespace

TForm1::TForm1(const QString& settingsFileName, QWidget* parent)
    : QWidget(parent), fSettingsFileName(settingsFileName) {
    setObjectName(QStringLiteral("Form1"));
    // A fixed dialog frame: no system menu, no minimise, maximise or close button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Brisemer"));
    formstyle::SetFixedClientArea(this, 720, 574);
    setFont(formstyle::MsSansSerif(11));
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, formstyle::clBlack);
    setPalette(palette);

    CreateControls();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer1Timer(Timer1); }); });

    nrComm1 = new TnrComm(this);
    nrComm1->SetName(QStringLiteral("nrComm1"));
    ConfigurePort(nrComm1);
    nrComm1->OnAfterReceive = [this](QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received) {
        RunGuarded([&] { nrComm1AfterReceive(Com, Buffer, Received); });
    };
    nrComm1->OnClose = [this](QObject* Sender) { RunGuarded([&] { nrComm1PortClose(Sender); }); };
    nrComm1->OnFatalError = [this](QObject* Sender, std::uint32_t ErrorCode, std::uint32_t Detail,
                                   const QString& ErrorMsg, bool& RaiseException) {
        RunGuarded([&] { nrComm1FatalError(Sender, ErrorCode, Detail, ErrorMsg, RaiseException); });
    };

    nrComm2 = new TnrComm(this);
    nrComm2->SetName(QStringLiteral("nrComm2"));
    ConfigurePort(nrComm2);
    nrComm2->OnAfterReceive = [this](QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received) {
        RunGuarded([&] { nrComm2AfterReceive(Com, Buffer, Received); });
    };
    nrComm2->OnClose = [this](QObject* Sender) { RunGuarded([&] { nrComm2PortClose(Sender); }); };
    nrComm2->OnFatalError = [this](QObject* Sender, std::uint32_t ErrorCode, std::uint32_t Detail,
                                   const QString& ErrorMsg, bool& RaiseException) {
        RunGuarded([&] { nrComm2FatalError(Sender, ErrorCode, Detail, ErrorMsg, RaiseException); });
    };

    for (TnrComm* com : {nrComm1, nrComm2})
        com->NotifyAdd(TnrNotifyEvent(this, &TForm1::PortNotify));
    for (TnrComm* com : {nrComm1, nrComm2}) {
        com->SetReopenOnReturn(true);
        com->OnDeviceReturn = [this](QObject* Sender, TDeviceReturn Result, std::uint32_t SysError) {
            RunGuarded([&] { PortReturned(static_cast<TnrComm*>(Sender), Result, SysError); });
        };
    }
    PortWatch = new TPortWatch({nrComm1, nrComm2}, nullptr, this);

    Timer1->start();
}

TForm1::~TForm1() {
    // The ports close before the controls their handlers touch are gone.
    for (TnrComm* com : {nrComm1, nrComm2}) {
        com->NotifyDelete(TnrNotifyEvent(this, &TForm1::PortNotify));
        com->OnAfterReceive = nullptr;
        com->OnClose = nullptr;
        com->OnFatalError = nullptr;
        com->OnDeviceReturn = nullptr;
        delete com;
    }
}

void TForm1::CreateControls() {
    using formstyle::MsSansSerif;

    Label1 = MakeHeading(this, QStringLiteral("Port RS-232 GPS"), QRect(80, 2, 99, 13));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label3 = new TAutoSizeLabel(QStringLiteral("Label3"), this, 632, 3);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label2 = MakeHeading(this, QStringLiteral("Port RS-232 AIS"), QRect(376, 2, 94, 13));
    Label2->setObjectName(QStringLiteral("Label2"));

    const QFont parameterFont = formstyle::PixelFont(QStringLiteral("Arial"), 11, true);
    Label7 = new TAutoSizeLabel(QString(), this, 172, 25);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setFont(parameterFont);
    Label7->SetCaption(QStringLiteral("4800, N, 8, 1"));
    Label8 = new TAutoSizeLabel(QString(), this, 462, 25);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setFont(parameterFont);
    Label8->SetCaption(QStringLiteral("38400, N, 8, 1"));

    VrLedOnGPS = MakeLed(this, QStringLiteral("On"), 103, 18, clGreen, clLime);
    VrLedOnGPS->setObjectName(QStringLiteral("VrLedOnGPS"));
    VrLedOffGPS = MakeLed(this, QStringLiteral("Off"), 103, 31, clMaroon, clRed);
    VrLedOffGPS->setObjectName(QStringLiteral("VrLedOffGPS"));
    VrLedOnAIS = MakeLed(this, QStringLiteral("On"), 391, 18, clGreen, clLime);
    VrLedOnAIS->setObjectName(QStringLiteral("VrLedOnAIS"));
    VrLedOffAIS = MakeLed(this, QStringLiteral("Off"), 391, 31, clMaroon, clRed);
    VrLedOffAIS->setObjectName(QStringLiteral("VrLedOffAIS"));
    VrLedOnGPS->OnChange = [this](QObject* Sender) { RunGuarded([&] { VrLedOnGPSChange(Sender); }); };
    VrLedOffGPS->OnChange = [this](QObject* Sender) { RunGuarded([&] { VrLedOnGPSChange(Sender); }); };
    VrLedOnAIS->OnChange = [this](QObject* Sender) { RunGuarded([&] { VrLedOnAISChange(Sender); }); };
    VrLedOffAIS->OnChange = [this](QObject* Sender) { RunGuarded([&] { VrLedOnAISChange(Sender); }); };

    spbtnHelp = MakeSpeedButton(this, TPicture::ptHelpBook, QRect(689, 53, 23, 22));
    spbtnHelp->setObjectName(QStringLiteral("spbtnHelp"));
    spbtnHelp->hide();
    SpBtnAIS = MakeSpeedButton(this, TPicture::ptGears, QRect(357, 21, 23, 22));
    SpBtnAIS->setObjectName(QStringLiteral("SpBtnAIS"));
    SpBtnAIS->setToolTip(QStringLiteral("Paramètres de communication du Port AIS"));
    SpBtnGPS = MakeSpeedButton(this, TPicture::ptGears, QRect(72, 21, 23, 22));
    SpBtnGPS->setObjectName(QStringLiteral("SpBtnGPS"));
    SpBtnGPS->setToolTip(QStringLiteral("Paramètres de communication du Port GPS"));

    Memo1 = MakePane(this, QStringLiteral("MemoGPS"), QRect(8, 84, 704, 202));
    Memo1->setObjectName(QStringLiteral("Memo1"));
    btnClearGPStxt = MakeButton(this, TPicture::ptDoubleCheck, QStringLiteral("&Effacer Memo GPS"),
                                QRect(256, 293, 141, 25));
    btnClearGPStxt->setObjectName(QStringLiteral("btnClearGPStxt"));
    btnClearAIStxt = MakeButton(this, TPicture::ptDoubleCheck, QStringLiteral("&Effacer Memo AIS"),
                                QRect(272, 542, 141, 25));
    btnClearAIStxt->setObjectName(QStringLiteral("btnClearAIStxt"));
    // Both captions mark E. Two buttons on one accelerator would make Alt+E only move the
    // focus between them; it presses the first in the focus order, the GPS one, and the
    // AIS button is reached with Tab or the mouse.
    btnClearAIStxt->setShortcut(QKeySequence());
    Memo2 = MakePane(this, QStringLiteral("Memo AIS"), QRect(8, 333, 704, 202));
    Memo2->setObjectName(QStringLiteral("Memo2"));

    BtnClose1 = MakeButton(this, TPicture::ptCross, QStringLiteral("Close RS-GPS"), QRect(79, 52, 107, 25));
    BtnClose1->setObjectName(QStringLiteral("BtnClose1"));
    BtnClose2 = MakeButton(this, TPicture::ptCross, QStringLiteral("Close RS-AIS"), QRect(367, 52, 107, 25));
    BtnClose2->setObjectName(QStringLiteral("BtnClose2"));
    btnSaveAIStxt =
        MakeButton(this, TPicture::ptSaveToDisk, QStringLiteral("Sauve texte AIS"), QRect(10, 543, 129, 25));
    btnSaveAIStxt->setObjectName(QStringLiteral("btnSaveAIStxt"));
    btnSaveGPStxt =
        MakeButton(this, TPicture::ptSaveToDisk, QStringLiteral("Sauve texte GPS"), QRect(11, 294, 129, 25));
    btnSaveGPStxt->setObjectName(QStringLiteral("btnSaveGPStxt"));

    btnQuit = MakeButton(this, TPicture::ptDoor, QStringLiteral("&Quitter"), QRect(599, 541, 113, 27));
    btnQuit->setObjectName(QStringLiteral("btnQuit"));
    btnQuit->setFont(formstyle::PixelFont(QStringLiteral("MS Sans Serif"), 11, true));
    QPalette quitPalette = btnQuit->palette();
    quitPalette.setColor(QPalette::ButtonText, formstyle::clMaroon);
    btnQuit->setPalette(quitPalette);
    btnQuit->SetSpacing(20);

    BitBtn1 =
        MakeButton(this, TPicture::ptCirclingArrows, QStringLiteral("&RS-Param"), QRect(610, 20, 102, 25));
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    // Two blanks after "paramètres": the text as the program has always shown it.
    BitBtn1->setToolTip(QStringLiteral("Restaure les paramètres  par défaut des RS-232"));

    setTabOrder(Memo1, btnClearGPStxt);
    setTabOrder(btnClearGPStxt, btnClearAIStxt);
    setTabOrder(btnClearAIStxt, Memo2);
    setTabOrder(Memo2, BtnClose1);
    setTabOrder(BtnClose1, BtnClose2);
    setTabOrder(BtnClose2, btnSaveAIStxt);
    setTabOrder(btnSaveAIStxt, btnSaveGPStxt);
    setTabOrder(btnSaveGPStxt, btnQuit);
    setTabOrder(btnQuit, BitBtn1);

    auto onClick = [this](QAbstractButton* button, void (TForm1::*handler)(QObject*)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button, handler] { RunGuarded([&] { (this->*handler)(button); }); });
    };
    onClick(spbtnHelp, &TForm1::spbtnHelpClick);
    onClick(SpBtnAIS, &TForm1::SpBtnAISClick);
    onClick(SpBtnGPS, &TForm1::SpBtnAISClick);
    onClick(btnClearGPStxt, &TForm1::btnClearGPStxtClick);
    onClick(btnClearAIStxt, &TForm1::btnClearAIStxtClick);
    onClick(BtnClose1, &TForm1::BtnClose1Click);
    onClick(BtnClose2, &TForm1::BtnClose2Click);
    onClick(btnSaveAIStxt, &TForm1::btnSaveAIStxtClick);
    onClick(btnSaveGPStxt, &TForm1::btnSaveGPStxtClick);
    onClick(btnQuit, &TForm1::btnQuitClick);
    onClick(BitBtn1, &TForm1::BitBtn1Click);
}

void TForm1::ConfigurePort(TnrComm* com) {
    com->BeginLoading();
    com->SetActive(false);
    com->SetBaudRate(19200);
    com->SetParity(pNone);
    com->SetStopBits(sbOne);
    com->SetByteSize(8);
    com->SetComPortNo(1);
    com->SetTraceStates(TTraceStates{});
    com->SetEventChar(0);
    com->SetStreamProtocol(spHardware);
    com->SetBufferInSize(8192);
    com->SetBufferOutSize(8192);
    com->SetTimeoutRead(0);
    com->SetTimeoutWrite(0);
    com->SetRS485Mode(false);
    com->SetEnumPorts(epQuickAll);
    com->SetUseMainThread(true);
    // A pane shows whole lines only: the arrivals of a line's first bytes (a UART's FIFO
    // at 38400 baud, a USB adapter's short latency timer) are taken together, up to 50 ms
    // of them, and the arrival of its CR is not held, so a line still reaches the screen
    // within a 10 ms frame of its CR.
    com->SetEventInterval(kReceiveEventIntervalMs);
    com->SetEventIntervalEnd('\r');
    com->SetTerminalUsage(tuNone);
    com->SetTerminalEcho(false);
    com->Loaded();
}

// --- Port parameters ---

void TForm1::SetDefaultChannel(TnrComm* com, TComParm& rec, std::uint32_t baud) {
    com->SetActive(false);
    com->SetComPortNo(0);
    com->SetBaudRate(baud);
    com->SetByteSize(8);
    com->SetStopBits(sbOne);
    com->SetParity(pNone);
    SetComportRec(com, rec);
}

void TForm1::SetDefaultComportsAndRec() {
    SetDefaultChannel(nrComm1, Com1Rec, kDefaultBaudGPS);
    SetDefaultChannel(nrComm2, Com2Rec, kDefaultBaudAIS);
}

// --- Start-up ---

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (fShown) return;
    fShown = true;
    formstyle::CentreOnScreen(this);
    RunGuarded([this] { FormShow(this); });
}

void TForm1::ReadSettingsFile() {
    const TIniFile ini(fSettingsFileName);
    ReadPortSettings(ini, kSectionGPS, kDefaultBaudGPS, nrComm1);
    ReadPortSettings(ini, kSectionAIS, kDefaultBaudAIS, nrComm2);
}

void TForm1::OpenAtStartUp(TnrComm* com) {
    try {
        com->SetActive(com->ComPortNo() != 0);
    } catch (const std::exception&) {
        // A port that cannot be opened is simply left without a number; no message.
        com->SetComPortNo(0);
    }
}

void TForm1::FormShow(QObject*) {
    Label3->SetCaption(LongTimeText(QTime::currentTime()));
    // A folder or other non-file in the settings file's place counts as no file.
    if (QFileInfo(fSettingsFileName).isFile()) {
        ReadSettingsFile();
        SetComportRec(nrComm1, Com1Rec);
        SetComportRec(nrComm2, Com2Rec);
        Label7->SetCaption(SetComString(Com1Rec));
        Label8->SetCaption(SetComString(Com2Rec));
        btnClearGPStxtClick(this);
        btnClearAIStxtClick(this);
    } else {
        SetDefaultComportsAndRec();
    }
    OpenAtStartUp(nrComm1);
    OpenAtStartUp(nrComm2);
    nrComm1PortOpen(this);
    nrComm2PortOpen(this);
}

// --- Receive and port events ---

void TForm1::nrComm1AfterReceive(QObject*, const std::uint8_t* Buffer, std::uint32_t Received) {
    fPendingGPS.Feed(Buffer, Received,
                     [this](const char* line, std::size_t n) { Memo1->AppendLine(line, n); });
}

void TForm1::nrComm2AfterReceive(QObject*, const std::uint8_t* Buffer, std::uint32_t Received) {
    fPendingAIS.Feed(Buffer, Received,
                     [this](const char* line, std::size_t n) { Memo2->AppendLine(line, n); });
}

void TForm1::ShowPortState(TnrComm* com) {
    // The port's open state, never its number: a number is kept for a port that failed to
    // open, that was closed by its device vanishing, or that OK stored on a closed channel.
    const bool open = com->Active();
    const bool gps = com == nrComm1;
    (gps ? VrLedOnGPS : VrLedOnAIS)->SetActive(open);
    (gps ? VrLedOffGPS : VrLedOffAIS)->SetActive(!open);
    (gps ? BtnClose1 : BtnClose2)->setEnabled(open);
}

void TForm1::PortNotify(QObject* Sender, int Code) {
    if (Code != NOTIFY_OPENED && Code != NOTIFY_CLOSED) return;
    TnrComm* com = Sender == nrComm1 ? nrComm1 : Sender == nrComm2 ? nrComm2 : nullptr;
    if (!com) return;
    // The controls belong to the user-interface thread; a port run without it
    // (UseMainThread false) closes itself on its own thread.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, com] { RunGuarded([&] { ShowPortState(com); }); },
                                  Qt::QueuedConnection);
        return;
    }
    ShowPortState(com);
}

void TForm1::nrComm1PortOpen(QObject*) {
    ShowPortState(nrComm1);
}

void TForm1::nrComm2PortOpen(QObject*) {
    ShowPortState(nrComm2);
}

void TForm1::nrComm1PortClose(QObject*) {
    ShowPortState(nrComm1);
}

void TForm1::nrComm2PortClose(QObject*) {
    ShowPortState(nrComm2);
}

void TForm1::nrComm1FatalError(QObject* Sender, std::uint32_t, std::uint32_t, const QString&,
                               bool& RaiseException) {
    RaiseException = true;
    nrComm1->SetComPortNo(0);
    Com1Rec.RComNumber = 0;
    nrComm1PortClose(Sender);
}

void TForm1::nrComm2FatalError(QObject* Sender, std::uint32_t, std::uint32_t, const QString&,
                               bool& RaiseException) {
    RaiseException = true;
    nrComm2->SetComPortNo(0);
    Com2Rec.RComNumber = 0;
    nrComm2PortClose(Sender);
}

void TForm1::PortReturned(TnrComm* com, TDeviceReturn Result, std::uint32_t SysError) {
    const QString text =
        DeviceReturnText(Result, com == nrComm1 ? QStringLiteral("GPS") : QStringLiteral("AIS"), com->ComName(), SysError);
    if (text.isEmpty()) {
        ShowPortState(com); // open again (the open notification shows it too)
        return;
    }
    QPointer<QMessageBox>& box = com == nrComm1 ? fReturnBoxGPS : fReturnBoxAIS;
    if (box) {
        box->setText(text); // the box of an earlier return is still up: no second one
        return;
    }
    box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Brisemer"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

// --- Buttons and status ---

void TForm1::CloseChannel(TnrComm* com, TComParm& rec, void (TForm1::*portClose)(QObject*)) {
    try {
        com->SetActive(false);
        com->SetComPortNo(0);
        SetComportRec(com, rec);
        (this->*portClose)(com);
    } catch (const std::exception&) {
        com->SetComPortNo(0);
    }
}

void TForm1::BtnClose1Click(QObject*) {
    CloseChannel(nrComm1, Com1Rec, &TForm1::nrComm1PortClose);
}

void TForm1::BtnClose2Click(QObject*) {
    CloseChannel(nrComm2, Com2Rec, &TForm1::nrComm2PortClose);
}

void TForm1::Timer1Timer(QObject*) {
    Label7->SetCaption(SetComString(Com1Rec));
    Label8->SetCaption(SetComString(Com2Rec));
    ShowPortState(nrComm1);
    ShowPortState(nrComm2);
}

void TForm1::BitBtn1Click(QObject*) {
    SetDefaultComportsAndRec();
    // A channel that was closed already sent no close notification.
    ShowPortState(nrComm1);
    ShowPortState(nrComm2);
}

void TForm1::SpBtnAISClick(QObject* Sender) {
    if (Sender == SpBtnAIS)
        stMode = QStringLiteral("AIS");
    else if (Sender == SpBtnGPS)
        stMode = QStringLiteral("GPS");
    if (!fSettingsForm) return;
    const bool gps = stMode == QStringLiteral("GPS");
    TnrComm* com = gps ? nrComm1 : nrComm2;
    if (fSettingsForm->exec() == TForm3::mrOk) {
        // Reopening an open port on a port that fails is not caught here: the guard shows
        // the component's message, and the fatal-error handler has shown the closed port.
        GetComportRec(com, gps ? Com1Rec : Com2Rec);
    }
    ShowPortState(com);
}

void TForm1::VrLedOnGPSChange(QObject*) {}

void TForm1::VrLedOnAISChange(QObject*) {}

// --- Panes ---

void TForm1::btnClearGPStxtClick(QObject*) {
    Memo1->Clear();
}

void TForm1::btnClearAIStxtClick(QObject*) {
    Memo2->Clear();
}

void TForm1::SavePane(TTextSaveDialog*& dialog, const QString& name, TMemoPane* pane) {
    if (!dialog) {
        dialog = new TTextSaveDialog(this);
        dialog->setObjectName(name);
    }
    const QString target =
        dialog->Execute(fSaveFolder.isEmpty() ? QFileInfo(fSettingsFileName).absolutePath() : fSaveFolder);
    if (target.isEmpty()) return;
    QString reason;
    if (!pane->SaveToFile(target, &reason))
        throw ENrException(QStringLiteral("Impossible de créer le fichier \"%1\". %2")
                               .arg(QFileInfo(target).absoluteFilePath(), reason));
}

void TForm1::btnSaveGPStxtClick(QObject*) {
    SavePane(SaveDialog1, QStringLiteral("SaveDialog1"), Memo1);
}

void TForm1::btnSaveAIStxtClick(QObject*) {
    SavePane(SaveDialog2, QStringLiteral("SaveDialog2"), Memo2);
}

void TForm1::spbtnHelpClick(QObject*) {
    if (fHelpForm) fHelpForm->ShowHelp();
}

// --- Quit ---

void TForm1::btnQuitClick(QObject*) {
    close();
}

void TForm1::FormCloseQuery(QObject*, bool& CanClose) {
    nrComm1->SetActive(false);
    nrComm2->SetActive(false);
    CanClose = true;
}

bool TForm1::AskSaveConfiguration() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmer"),
                    QStringLiteral("Sauver la configuration des ComPorts ?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Oui"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Non"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TForm1::WriteSettingsFile() {
    TIniFile ini(fSettingsFileName);
    WritePortSettings(ini, kSectionGPS, nrComm1);
    WritePortSettings(ini, kSectionAIS, nrComm2);
    // The user's configuration folder of an installed program may not exist yet; where it
    // cannot be made, the write fails with the file's name.
    QDir().mkpath(QFileInfo(fSettingsFileName).absolutePath());
    ini.UpdateFile();
}

void TForm1::FormClose(QObject*, TCloseAction&) {
    if (AskSaveConfiguration()) WriteSettingsFile();
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    if (!RunGuarded([&] { FormCloseQuery(this, canClose); }) || !canClose) {
        event->ignore();
        return;
    }
    TCloseAction action = caHide;
    // A settings file that cannot be written stops the close; the guard shows why.
    if (!RunGuarded([&] { FormClose(this, action); })) {
        event->ignore();
        return;
    }
    event->accept();
    emit Closed();
}
