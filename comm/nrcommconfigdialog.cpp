#include "nrcommconfigdialog.h"

#include "nrformat.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// The flag compositions of the port component (binary mode, DTR enabled, then):
constexpr std::uint32_t kKeptFlags = 0x4CEA;      // bits the flow choice leaves alone
constexpr std::uint32_t kFlagsNone = 0x1011;      // RTS enabled
constexpr std::uint32_t kFlagsXonXoff = 0x1311;   // RTS enabled, XON/XOFF both ways
constexpr std::uint32_t kFlagsHardware = 0x2015;  // CTS flow, RTS handshake
constexpr std::uint32_t kFlagsRtsToggle = 0x3011; // RTS raised only while sending

bool Holds(std::uint32_t flags, std::uint32_t bits) {
    return (flags & bits) == bits;
}

QComboBox* NewList(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// Selects the item holding value, adding it first when the list doesn't offer it, so
// that confirming the dialog never changes a setting the user didn't touch.
void SelectValue(QComboBox* box, int value, const QString& textIfMissing) {
    int index = box->findData(value);
    if (index < 0) {
        box->addItem(textIfMissing, value);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

} // namespace

const std::uint32_t TnrCommConfigDialog::StandardBaudRates[] = {110,    300,    600,    1200,   2400,  4800,
                                                                9600,   14400,  19200,  38400,  57600, 115200,
                                                                128000, 230400, 256000, 460800, 921600};
const int TnrCommConfigDialog::StandardBaudRateCount =
    static_cast<int>(sizeof(StandardBaudRates) / sizeof(StandardBaudRates[0]));

std::uint32_t ComposeFlowControlFlags(std::uint32_t flags, TnrFlowChoice choice) {
    flags &= kKeptFlags;
    switch (choice) {
    case fcXonXoff:
        return flags | kFlagsXonXoff;
    case fcHardware:
        return flags | kFlagsHardware;
    case fcRtsToggle:
        return flags | kFlagsRtsToggle;
    case fcNone:
        break;
    }
    return flags | kFlagsNone;
}

TnrFlowChoice FlowChoiceOfFlags(std::uint32_t flags) {
    if (Holds(flags, kFlagsRtsToggle)) return fcRtsToggle;
    if (Holds(flags, kFlagsXonXoff)) return fcXonXoff;
    if (Holds(flags, kFlagsHardware)) return fcHardware;
    return fcNone;
}

TnrCommConfigDialog::TnrCommConfigDialog(const QString& portName, const TCommConfig& config, QWidget* parent)
    : QDialog(parent), fConfig(config) {
    setWindowTitle(Format(QStringLiteral("Settings of %s"), {portName}));
    const TDCB& dcb = fConfig.dcb;

    fBaud = NewList(this, "BaudRate");
    fBaud->setEditable(true);
    fBaud->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: typing "12" must not silently become 1200.
    fBaud->setCompleter(nullptr);
    for (int i = 0; i < StandardBaudRateCount; ++i)
        fBaud->addItem(QString::number(StandardBaudRates[i]));
    fBaud->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,10}")), fBaud));
    fBaud->setCurrentText(QString::number(dcb.BaudRate));

    fDataBits = NewList(this, "DataBits");
    for (int bits = 5; bits <= 8; ++bits)
        fDataBits->addItem(QString::number(bits), bits);
    SelectValue(fDataBits, dcb.ByteSize, QString::number(dcb.ByteSize));

    fParity = NewList(this, "Parity");
    fParity->addItem(tr("None"), int(NOPARITY));
    fParity->addItem(tr("Odd"), int(ODDPARITY));
    fParity->addItem(tr("Even"), int(EVENPARITY));
    fParity->addItem(tr("Mark"), int(MARKPARITY));
    fParity->addItem(tr("Space"), int(SPACEPARITY));
    SelectValue(fParity, dcb.Parity, QString::number(dcb.Parity));

    fStopBits = NewList(this, "StopBits");
    fStopBits->addItem(QStringLiteral("1"), int(ONESTOPBIT));
    fStopBits->addItem(QStringLiteral("1.5"), int(ONE5STOPBITS));
    fStopBits->addItem(QStringLiteral("2"), int(TWOSTOPBITS));
    SelectValue(fStopBits, dcb.StopBits, QString::number(dcb.StopBits));

    fFlow = NewList(this, "FlowControl");
    fFlow->addItem(tr("None"), int(fcNone));
    fFlow->addItem(tr("XON/XOFF"), int(fcXonXoff));
    fFlow->addItem(tr("Hardware"), int(fcHardware));
    fFlow->addItem(tr("RTS toggle"), int(fcRtsToggle));
    SelectValue(fFlow, FlowChoiceOfFlags(dcb.Flags), QString());

    auto* form = new QFormLayout;
    form->addRow(tr("&Bits per second:"), fBaud);
    form->addRow(tr("&Data bits:"), fDataBits);
    form->addRow(tr("&Parity:"), fParity);
    form->addRow(tr("&Stop bits:"), fStopBits);
    form->addRow(tr("&Flow control:"), fFlow);

    fButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    fButtons->setObjectName(QStringLiteral("Buttons"));
    connect(fButtons, &QDialogButtonBox::accepted, this, [this] {
        if (ChosenBaudRate() != 0) accept();
    });
    connect(fButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(fBaud, &QComboBox::currentTextChanged, this, [this] { UpdateAcceptable(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(fButtons);
    UpdateAcceptable();
}

std::uint32_t TnrCommConfigDialog::ChosenBaudRate() const {
    bool ok = false;
    const qulonglong value = fBaud->currentText().toULongLong(&ok);
    return ok && value > 0 && value <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(value) : 0;
}

void TnrCommConfigDialog::UpdateAcceptable() {
    fButtons->button(QDialogButtonBox::Ok)->setEnabled(ChosenBaudRate() != 0);
}

TCommConfig TnrCommConfigDialog::Config() const {
    TCommConfig config = fConfig;
    TDCB& dcb = config.dcb;
    if (const std::uint32_t baud = ChosenBaudRate()) dcb.BaudRate = baud;
    dcb.ByteSize = static_cast<std::uint8_t>(fDataBits->currentData().toInt());
    dcb.Parity = static_cast<std::uint8_t>(fParity->currentData().toInt());
    dcb.StopBits = static_cast<std::uint8_t>(fStopBits->currentData().toInt());
    // The parity check follows the parity, as the component's own setter does it.
    if (dcb.Parity == NOPARITY)
        dcb.Flags &= ~DCB_fParity;
    else
        dcb.Flags |= DCB_fParity;
    // Recomposed only for another choice: flags set by other means keep their other bits.
    const auto flow = static_cast<TnrFlowChoice>(fFlow->currentData().toInt());
    if (flow != FlowChoiceOfFlags(fConfig.dcb.Flags)) dcb.Flags = ComposeFlowControlFlags(dcb.Flags, flow);
    return config;
}
