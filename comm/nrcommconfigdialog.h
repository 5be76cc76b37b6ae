// TnrCommConfigDialog: the serial port component's own configuration dialog.
//
// It edits the line settings of one port held in a TCommConfig: speed (an editable list
// of the usual rates; any positive whole number is accepted), data bits 5 to 8, parity
// (none, odd, even, mark, space), stop bits (1, 1.5, 2) and flow control (none,
// XON/XOFF, hardware, RTS toggle for RS-485 converters). Every other field of the record
// is kept as it was. The OK button is disabled while the speed is not a positive number
// that fits in 32 bits.
//
// The flow-control choice is written into the device control block's flags the way the
// port component composes them when it applies its settings, so that the component
// derives the same choice from the flags again (TnrCustomComm::ReadLineSettings).
//
// The dialog's controls carry object names (BaudRate, DataBits, Parity, StopBits,
// FlowControl, Buttons) so that tests can find and drive them.
//
// Threads: the user-interface thread only.
#pragma once

#include "platform/nrserialapi.h"

#include <QDialog>
#include <cstdint>

class QComboBox;
class QDialogButtonBox;

enum TnrFlowChoice : std::uint8_t { fcNone, fcXonXoff, fcHardware, fcRtsToggle };

// The flags of a device control block with the flow control of a choice: the flow bits
// are replaced, the others (parity check, error character, ...) kept.
std::uint32_t ComposeFlowControlFlags(std::uint32_t flags, TnrFlowChoice choice);
// The choice the flags stand for, in the order the port component tests them: RTS toggle
// first (it excludes the others on the wire), then XON/XOFF, then hardware.
TnrFlowChoice FlowChoiceOfFlags(std::uint32_t flags);

class TnrCommConfigDialog : public QDialog {
    Q_OBJECT
public:
    TnrCommConfigDialog(const QString& portName, const TCommConfig& config, QWidget* parent = nullptr);

    // The record with the choices made so far.
    TCommConfig Config() const;

    // The speed typed or chosen; 0 when it isn't a valid speed.
    std::uint32_t ChosenBaudRate() const;

    static const std::uint32_t StandardBaudRates[];
    static const int StandardBaudRateCount;

private:
    void UpdateAcceptable();

    TCommConfig fConfig;
    QComboBox* fBaud;
    QComboBox* fDataBits;
    QComboBox* fParity;
    QComboBox* fStopBits;
    QComboBox* fFlow;
    QDialogButtonBox* fButtons;
};
