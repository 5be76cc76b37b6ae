#include "portsettingsform.h"

#include "formstyle.h"
#include "glyphbutton.h"
#include "handlerguard.h"
#include "mainform.h"
#include "nrcommbox.h"
#include "pictures.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QLabel* MakeCaption(QWidget* parent, const QString& caption, const QRect& geometry) {
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    label->setFont(formstyle::PixelFont(QStringLiteral("MS Sans Serif"), 11, true, true));
    return label;
}

QComboBox* MakeList(QWidget* parent, const QStringList& items, const QRect& geometry) {
    auto* list = new QComboBox(parent);
    list->addItems(items);
    list->setEditable(false);
    list->setGeometry(geometry);
    return list;
}

// The dialog's port list: a pick is offered to the dialog before the linked component
// moves to it, so a refused port never closes a working channel.
class TCheckedDeviceBox final : public TnrDeviceBox {
public:
    explicit TCheckedDeviceBox(TForm3* dialog) : TnrDeviceBox(dialog), fDialog(dialog) {}

protected:
    void Change() override {
        const TnrDevice* device = EntryDevice(currentIndex());
        if (device && !fDialog->AcceptPort(static_cast<std::uint16_t>(device->Data & 0xFFFF))) {
            // Back on the entry of the component's port, which has not moved.
            setCurrentIndex(nrComm() ? nrComm()->DeviceIndex() : -1);
            return;
        }
        TnrDeviceBox::Change();
    }

private:
    TForm3* fDialog;
};

// Selects the item whose text is the number; without one the selection stays.
void SelectNumber(QComboBox* list, long long number) {
    const QString text = QString::number(number);
    for (int i = 0; i < list->count(); ++i)
        if (list->itemText(i) == text) list->setCurrentIndex(i);
}

} // namespace

TForm3::TForm3(TForm1* mainForm, QWidget* parent) : QDialog(parent), fMainForm(mainForm) {
    setObjectName(QStringLiteral("Form3"));
    // A fixed frame whose title bar has only the close button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Paramétrage"));
    formstyle::SetFixedClientArea(this, 206, 280);
    setFont(formstyle::MsSansSerif(11));

    Label1 = MakeCaption(this, QStringLiteral("Baud Rate"), QRect(104, 35, 67, 13));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = MakeCaption(this, QStringLiteral("Data Bits"), QRect(104, 72, 59, 13));
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = MakeCaption(this, QStringLiteral("Stop Bits"), QRect(104, 109, 58, 13));
    Label3->setObjectName(QStringLiteral("Label3"));
    Label4 = MakeCaption(this, QStringLiteral("Parité"), QRect(104, 145, 40, 13));
    Label4->setObjectName(QStringLiteral("Label4"));
    Label5 = MakeCaption(this, QStringLiteral("ComNb"), QRect(104, 182, 47, 13));
    Label5->setObjectName(QStringLiteral("Label5"));

    BtnOK = new TGlyphButton(PictureIcon(TPicture::ptCheck), QStringLiteral("OK"), this);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnOK->setGeometry(16, 232, 75, 25);
    BtnOK->setDefault(true);
    BtnCancel = new TGlyphButton(PictureIcon(TPicture::ptCross), QStringLiteral("Annuler"), this);
    BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
    BtnCancel->setGeometry(112, 232, 75, 25);
    BtnCancel->setAutoDefault(false);

    CBoxBaudRate = MakeList(this,
                            {QStringLiteral("150"), QStringLiteral("300"), QStringLiteral("600"),
                             QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                             QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                             QStringLiteral("57600"), QStringLiteral("115200")},
                            QRect(24, 32, 65, 21));
    CBoxBaudRate->setObjectName(QStringLiteral("CBoxBaudRate"));
    CBoxBaudRate->setCurrentIndex(5);
    CBoxDataBits =
        MakeList(this, {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")},
                 QRect(54, 69, 36, 21));
    CBoxDataBits->setObjectName(QStringLiteral("CBoxDataBits"));
    CBoxDataBits->setCurrentIndex(3);
    CBoxStopBits = MakeList(this, {QStringLiteral("1"), QStringLiteral("2")}, QRect(54, 106, 37, 21));
    CBoxStopBits->setObjectName(QStringLiteral("CBoxStopBits"));
    CBoxStopBits->setCurrentIndex(0);
    CBoxParity = MakeList(this,
                          {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                           QStringLiteral("Mark"), QStringLiteral("Space")},
                          QRect(24, 141, 65, 21));
    CBoxParity->setObjectName(QStringLiteral("CBoxParity"));
    CBoxParity->setCurrentIndex(-1);

    nrDeviceBox1 = new TCheckedDeviceBox(this);
    nrDeviceBox1->setObjectName(QStringLiteral("nrDeviceBox1"));
    nrDeviceBox1->setGeometry(31, 179, 67, 21);
    nrDeviceBox1->SetResetOnChanged(true);
    nrDeviceBox1->OnChange = [this](QObject* Sender) { RunGuarded([&] { nrDeviceBox1Change(Sender); }); };

    setTabOrder(BtnOK, BtnCancel);
    setTabOrder(BtnCancel, CBoxBaudRate);
    setTabOrder(CBoxBaudRate, CBoxDataBits);
    setTabOrder(CBoxDataBits, CBoxStopBits);
    setTabOrder(CBoxStopBits, CBoxParity);
    setTabOrder(CBoxParity, nrDeviceBox1);

    connect(BtnOK, &QPushButton::clicked, this, [this] {
        // OK closes the dialog only when its handler went through.
        if (RunGuarded([this] { BtnOKClick(BtnOK); })) done(mrOk);
    });
    connect(BtnCancel, &QPushButton::clicked, this, [this] { Cancel(); });
}

TForm3::~TForm3() = default;

void TForm3::reject() {
    Cancel();
}

void TForm3::Cancel() {
    // The dialog closes even when the old port cannot be opened again; the guard shows why.
    RunGuarded([this] { BtnCancelClick(BtnCancel); });
    done(mrCancel);
}

void TForm3::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    formstyle::CentreOn(this, fMainForm);
    RunGuarded([this] { FormShow(this); });
}

TnrComm* TForm3::LinkedComm() const {
    return qobject_cast<TnrComm*>(nrDeviceBox1->nrComm());
}

void TForm3::FormShow(QObject*) {
    TForm1* f = fMainForm;
    const bool gps = f->stMode == QStringLiteral("GPS");
    SetParms(gps ? f->Com1Rec : f->Com2Rec);
    TnrComm* edited = gps ? f->nrComm1 : f->nrComm2;
    TnrComm* other = gps ? f->nrComm2 : f->nrComm1;
    tmpComNb = edited->ComPortNo();
    secondComNb = other->ComPortNo();
    fOpenWhenShown = edited->Active();
    fRecordComNbWhenShown = (gps ? f->Com1Rec : f->Com2Rec).RComNumber;
    nrDeviceBox1->SetnrComm(edited);
}

void TForm3::SetParms(TComParm ComRec) {
    const unsigned parity = static_cast<unsigned>(ComRec.RParity);
    CBoxParity->setCurrentIndex(parity <= pSpace ? static_cast<int>(parity) : -1);
    SelectNumber(CBoxDataBits, ComRec.RDataBits);
    CBoxStopBits->setCurrentIndex(ComRec.RStopBits == sbOne ? 0 : 1);
    SelectNumber(CBoxBaudRate, ComRec.RBaud);
}

void TForm3::GetParms(TComParm& ComRec) {
    const int parity = CBoxParity->currentIndex();
    if (parity >= 0 && parity <= pSpace) ComRec.RParity = static_cast<TParity>(parity);
    ComRec.RDataBits = static_cast<std::uint16_t>(CBoxDataBits->currentText().toInt());
    ComRec.RBaud = CBoxBaudRate->currentText().toInt();
    if (CBoxStopBits->currentIndex() == 0)
        ComRec.RStopBits = sbOne;
    else if (CBoxStopBits->currentIndex() == 1)
        ComRec.RStopBits = sbTwo;
    if (TnrComm* com = LinkedComm()) ComRec.RComNumber = com->ComPortNo();
}

void TForm3::ShowSamePortRefusal() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Informations"),
                    QStringLiteral("Vous ne pouvez assigner le même N° de port aux 2 RS-232!"),
                    QMessageBox::Ok, this);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

bool TForm3::AcceptPort(std::uint16_t Port) {
    // With no port on the other channel (0) every listed port is free.
    if (secondComNb == 0 || Port != secondComNb) return true;
    ShowSamePortRefusal();
    return false;
}

void TForm3::nrDeviceBox1Change(QObject*) {
    TnrComm* com = LinkedComm();
    if (!com) return;
    cp = com->ComPortNo();
    if (cp == secondComNb) {
        // The list refuses this port before it moves the component; a component moved
        // there by other means is put back all the same.
        ShowSamePortRefusal();
        com->SetComPortNo(tmpComNb);
    } else {
        com->SetComPortNo(cp);
    }
}

void TForm3::BtnCancelClick(QObject*) {
    TnrComm* com = LinkedComm();
    if (!com || com->ComPortNo() == tmpComNb) return;
    TComParm& rec = com == fMainForm->nrComm1 ? fMainForm->Com1Rec : fMainForm->Com2Rec;
    rec.RComNumber = fRecordComNbWhenShown;
    // An open port moves back at once; one that a failed pick left closed opens again.
    com->SetComPortNo(tmpComNb);
    if (fOpenWhenShown && !com->Active()) com->SetActive(true);
}

void TForm3::BtnOKClick(QObject*) {
    if (fMainForm->stMode == QStringLiteral("GPS")) {
        GetParms(fMainForm->Com1Rec);
        fMainForm->nrComm1PortOpen(this);
    } else {
        GetParms(fMainForm->Com2Rec);
        fMainForm->nrComm2PortOpen(this);
    }
}
