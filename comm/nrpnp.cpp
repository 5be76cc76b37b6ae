// The plug-and-play identification of an external serial device.
//
// Such a device announces itself when the host, at 1200 baud 7N1, drops DTR and RTS,
// raises DTR and then RTS: it answers with its identification between a start byte "("
// (or 08h) and an end byte ")" (or 09h).
#include "nrcomm.h"

#include <QThread>

namespace {

constexpr std::uint32_t kProbeWaitMs = 200;
// A real identification is a few dozen bytes. A device that goes on sending without the
// end byte would otherwise keep the probe (and the user-interface thread) forever.
constexpr int kLongestAnswer = 1024;

void Pause(std::uint32_t ms) {
    QThread::msleep(ms);
}

} // namespace

QString TnrCustomSerialComm::GetPNPDeviceString() {
    QByteArray answer;
    const bool wasActive = Active();
    SetActive(true);
    if (!IsOpen()) return {};

    const bool dtrBefore = DtrOn();
    const bool rtsBefore = RtsOn();
    ClearDeviceBuffers();
    SetStateDTR(true);
    SetStateRTS(false);
    if (!WaitForSignal(msDSR, kProbeWaitMs)) {
        // Nothing answers: the port goes back as it was before the error is reported, so
        // that a raised exception leaves no open port locked against other programs.
        if (!wasActive) {
            SetActive(false);
        } else if (IsOpen()) {
            SetStateDTR(dtrBefore);
            SetStateRTS(rtsBefore);
        }
        DoFatalError(1, 0, QStringLiteral("Device Connect Initialization Error"), false);
        return {};
    }

    ApplyLineSettings();
    const TDCB saved = CommCfg.dcb;
    const TTraceStates savedTraces = TraceStates();
    const auto restore = [&] {
        if (IsOpen()) SendLineSettings(saved);
        SetTraceStates(savedTraces);
        SetActive(false);
        SetActive(wasActive);
    };

    try {
        TDCB probe = saved;
        probe.BaudRate = 1200;
        probe.ByteSize = 7;
        probe.Parity = NOPARITY;
        probe.StopBits = ONESTOPBIT;
        SendLineSettings(probe);
        SetTraceStates(TTraceStates{});

        SetStateDTR(false);
        SetStateRTS(false);
        Pause(kProbeWaitMs);
        SetStateDTR(true);
        Pause(kProbeWaitMs);
        SetStateRTS(true);

        bool answered = WaitForBytes(1, kProbeWaitMs);
        if (!answered) {
            // Some devices only answer the sequence when it is repeated.
            SetStateDTR(false);
            SetStateRTS(false);
            Pause(kProbeWaitMs);
            SetStateDTR(true);
            SetStateRTS(true);
            answered = WaitForBytes(1, kProbeWaitMs);
        }

        const auto readByte = [this](std::uint8_t& byte) { return Read(&byte, 1) == 1; };
        std::uint8_t byte = 0;
        if (answered && readByte(byte) && (byte == 0x08 || byte == 0x28)) {
            const std::uint8_t endByte = byte == 0x08 ? 0x09 : 0x29;
            answer.append(static_cast<char>(byte));
            while (answer.size() < kLongestAnswer && WaitForBytes(1, kProbeWaitMs) && readByte(byte)) {
                answer.append(static_cast<char>(byte));
                if (byte == endByte) break;
            }
        }
    } catch (...) {
        // A handler raising in the middle (OnTraceState, a fatal error) still gets the
        // port back as it was before it propagates.
        try {
            restore();
        } catch (...) {
        }
        throw;
    }
    restore();
    return QString::fromLatin1(answer);
}
