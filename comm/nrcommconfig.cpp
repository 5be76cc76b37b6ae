// The stored configuration of a port and its configuration dialog.
#include "nrcomm.h"
#include "nrcommconfigdialog.h"

#include <QApplication>
#include <QPointer>
#include <optional>

namespace {

// Port number (1), device control block (28), five timeouts (20).
constexpr qsizetype kStoredConfigSize = 49;

constexpr std::uint32_t kFlagsXonXoff = 0x1311;
constexpr std::uint32_t kFlagsHardware = 0x2015;
constexpr std::uint32_t kFlagsRS485 = 0x3011;

bool Holds(std::uint32_t flags, std::uint32_t bits) {
    return (flags & bits) == bits;
}

struct TStoredConfig {
    std::uint8_t Port = 0;
    TDCB Dcb;
    TCommTimeouts Timeouts;
};

// Little-endian whatever the machine, as the value is laid out on the platform that
// defined it; the same bytes load on any machine.
class TLittleEndianWriter {
public:
    void U8(std::uint8_t v) { fBytes.append(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    QByteArray Bytes() const { return fBytes; }

private:
    QByteArray fBytes;
};

class TLittleEndianReader {
public:
    explicit TLittleEndianReader(const QByteArray& bytes) : fBytes(bytes) {}
    std::uint8_t U8() { return static_cast<std::uint8_t>(fBytes.at(fPos++)); }
    std::uint16_t U16() {
        const std::uint16_t low = U8();
        return static_cast<std::uint16_t>(low | (std::uint16_t(U8()) << 8));
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | (std::uint32_t(U16()) << 16);
    }

private:
    const QByteArray& fBytes;
    qsizetype fPos = 0;
};

QByteArray EncodeStoredConfig(const TStoredConfig& config) {
    TLittleEndianWriter w;
    w.U8(config.Port);
    const TDCB& d = config.Dcb;
    w.U32(d.DCBlength);
    w.U32(d.BaudRate);
    w.U32(d.Flags);
    w.U16(d.wReserved);
    w.U16(d.XonLim);
    w.U16(d.XoffLim);
    w.U8(d.ByteSize);
    w.U8(d.Parity);
    w.U8(d.StopBits);
    for (char c : {d.XonChar, d.XoffChar, d.ErrorChar, d.EofChar, d.EvtChar})
        w.U8(static_cast<std::uint8_t>(c));
    w.U16(d.wReserved1);
    const TCommTimeouts& t = config.Timeouts;
    for (std::uint32_t v : {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant})
        w.U32(v);
    return w.Bytes();
}

// `value` is kStoredConfigSize bytes long. Line settings the component could never have
// held (no speed, 9 data bits, an unknown parity) would reach every reader of the
// properties, so such a value is refused as damaged.
TStoredConfig DecodeStoredConfig(const QByteArray& value, const QString& name) {
    TLittleEndianReader r(value);
    TStoredConfig config;
    config.Port = r.U8();
    TDCB& d = config.Dcb;
    d.DCBlength = r.U32();
    d.BaudRate = r.U32();
    d.Flags = r.U32();
    d.wReserved = r.U16();
    d.XonLim = r.U16();
    d.XoffLim = r.U16();
    d.ByteSize = r.U8();
    d.Parity = r.U8();
    d.StopBits = r.U8();
    for (char* c : {&d.XonChar, &d.XoffChar, &d.ErrorChar, &d.EofChar, &d.EvtChar})
        *c = static_cast<char>(r.U8());
    d.wReserved1 = r.U16();
    TCommTimeouts& t = config.Timeouts;
    for (std::uint32_t* v :
         {&t.ReadIntervalTimeout, &t.ReadTotalTimeoutMultiplier, &t.ReadTotalTimeoutConstant,
          &t.WriteTotalTimeoutMultiplier, &t.WriteTotalTimeoutConstant})
        *v = r.U32();
    if (d.BaudRate == 0 || d.ByteSize < 4 || d.ByteSize > 8 || d.Parity > SPACEPARITY ||
        d.StopBits > TWOSTOPBITS)
        throw ERegistryException(Format(
            QStringLiteral(
                "The stored configuration \"%s\" holds impossible line settings (%u baud, %u data bits, "
                "parity %u, stop bits %u)"),
            {name, d.BaudRate, d.ByteSize, d.Parity, d.StopBits}));
    return config;
}

} // namespace

// --- Stored configuration ---

void TnrCustomSerialComm::SaveConfig(HKEY Root, const QString& Key, const QString& Name) {
    QString failure;
    try {
        TnrRegistry registry(Root);
        registry.OpenKey(Key, true);
        TStoredConfig config;
        config.Port = static_cast<std::uint8_t>(fComPortNo & 0xFF);
        config.Dcb = CommCfg.dcb;
        config.Timeouts = fCommTimeouts;
        registry.WriteBinaryData(Name, EncodeStoredConfig(config));
        WriteLog(dlDetail, QStringLiteral("Configuration was saved"));
        return;
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    // The fatal error's text is fixed; the store's own reason goes to the log before it.
    WriteLog(dlDetail, failure);
    DoFatalError(1, 0, QStringLiteral("Error on save config information from registry"), false);
}

void TnrCustomSerialComm::LoadConfig(HKEY Root, const QString& Key, const QString& Name) {
    std::optional<TStoredConfig> stored;
    QString failure;
    try {
        TnrRegistry registry(Root);
        registry.OpenKey(Key, true);
        if (registry.ValueExists(Name) && registry.GetDataSize(Name) == kStoredConfigSize) {
            const QByteArray value = registry.ReadBinaryData(Name);
            // Another writer may have replaced the value between the two calls.
            if (value.size() == kStoredConfigSize) stored = DecodeStoredConfig(value, Name);
        }
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    if (!failure.isNull()) {
        WriteLog(dlDetail, failure);
        DoFatalError(1, 0, QStringLiteral("Error on load config information from registry"), false);
        return;
    }
    if (stored) {
        // A failed reopen raises the open's own fatal error from here, unless its handler
        // cleared it; the settings below are then still taken.
        SetComPortNo(stored->Port);
        CommCfg.dcb = stored->Dcb;
        ApplyLineSettings();
        SetTimeouts(stored->Timeouts);
    }
    WriteLog(dlDetail, QStringLiteral("Configuration was loaded"));
}

// --- Configuration dialog ---

void TnrCustomComm::ReadLineSettings() {
    CommCfg.dwSize = sizeof(TCommConfig);
    CommCfg.dcb.DCBlength = sizeof(TDCB);
    if (IsOpen()) {
        TDCB current;
        if (GetCommState(Handle(), current)) CommCfg.dcb = current;
    }
    const std::uint32_t flags = CommCfg.dcb.Flags;
    if (Holds(flags, kFlagsXonXoff))
        fProtocol = spXonXoff;
    else if (Holds(flags, kFlagsHardware))
        fProtocol = spHardware;
    else
        fProtocol = spNone;
    const bool rs485 = Holds(flags, kFlagsRS485);
    const bool rs485Changed = rs485 != RS485Mode();
    fRS485Mode.store(rs485, std::memory_order_relaxed);
    // Software direction control needs the transmit-empty event in the mask (and no
    // longer wants it without RS-485), as when RS485Mode is set through its setter.
    if (rs485Changed && IsOpen()) SetTraceStates(TraceStates());
}

bool TnrCustomComm::ConfigDialog() {
    ReadLineSettings();
    TnrCommConfigDialog dialog(ComName(), CommCfg, QApplication::activeWindow());
    // The dialog's event loop runs port events and whatever else the application does:
    // the component may be destroyed before the user answers.
    const QPointer<TnrCustomComm> self(this);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    if (!self || !confirmed) return false;
    CommCfg = dialog.Config();
    if (IsOpen()) SendLineSettings(CommCfg.dcb);
    ReadLineSettings();
    return true;
}
