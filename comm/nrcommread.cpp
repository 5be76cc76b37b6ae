// Reading, waiting and line control of the serial port component (nrcomm.h): the reads
// find the bytes that event processing leaves in the input queue.
#include "nrcomm.h"

#include "platform/nrerror.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {

// Runs the user-interface event loop for about `ms` milliseconds (the waits' pause).
void PauseProcessingEvents(int ms) {
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

// --- Reading ---

std::uint32_t TnrCustomComm::Read(std::uint8_t* Buffer, std::uint32_t Len) {
    if (!IsOpen() || !Buffer || Len == 0) return 0;
    std::uint32_t got = 0;
    if (!ReadFile(Handle(), Buffer, Len, got)) return 0;
    return got;
}

std::uint32_t TnrCustomComm::ReadAll(std::uint8_t* Buffer, std::uint32_t Capacity) {
    return Read(Buffer, std::min(WaitingBytes(), Capacity));
}

std::uint32_t TnrCustomComm::ReadAll(std::uint8_t* Buffer) {
    return ReadAll(Buffer, fReportedReady.load(std::memory_order_relaxed));
}

int TnrCustomComm::ReadMax(std::uint8_t* Buffer, int MaxLen) {
    if (MaxLen <= 0) return 0;
    const std::uint32_t n = std::min(WaitingBytes(), static_cast<std::uint32_t>(MaxLen));
    return static_cast<int>(Read(Buffer, n));
}

QByteArray TnrCustomComm::ReadString() {
    const std::uint32_t n = WaitingBytes();
    if (n == 0) return {};
    QByteArray s(static_cast<qsizetype>(n), '\0');
    s.truncate(Read(reinterpret_cast<std::uint8_t*>(s.data()), n));
    return s;
}

// --- Waits ---

bool TnrCustomComm::WaitForBytes(std::uint32_t Count, std::uint32_t Ms) {
    if (!IsOpen()) return false;
    const TTraceStates saved = TraceStates();
    // Without tsRxChar, event processing leaves the bytes queued unless a receiver wants
    // them.
    SetTraceStates(saved - TTraceStates{tsRxChar});
    QElapsedTimer clock;
    clock.start();
    bool result = false;
    while (IsOpen()) {
        if (WaitingBytes() >= Count) {
            result = true;
            break;
        }
        if (clock.elapsed() >= static_cast<qint64>(Ms)) break;
        PauseProcessingEvents(5);
    }
    SetTraceStates(saved);
    return result;
}

bool TnrCustomComm::WaitForSignal(TModemSignal Signal, std::uint32_t Ms) {
    if (!IsOpen()) return false;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (ModemSignals().Contains(Signal)) return true;
        if (!IsOpen() || clock.elapsed() >= static_cast<qint64>(Ms)) return false;
        PauseProcessingEvents(5);
    }
}

// --- Line control ---

void TnrCustomComm::SetStateDTR(bool State) {
    if (!IsOpen()) return;
    EscapeCommFunction(Handle(), State ? SETDTR : CLRDTR);
    fDtrOn.store(State, std::memory_order_relaxed);
    TraceStateChanged(this, TTraceStates{tsDSR});
}

void TnrCustomComm::SetStateRTS(bool State) {
    if (!IsOpen()) return;
    EscapeCommFunction(Handle(), State ? SETRTS : CLRRTS);
    fRtsOn.store(State, std::memory_order_relaxed);
    TraceStateChanged(this, TTraceStates{tsCTS});
}

void TnrCustomComm::SetStateX(bool State) {
    if (IsOpen()) EscapeCommFunction(Handle(), State ? SETXON : SETXOFF);
}

void TnrCustomComm::SetStateBreak(bool State) {
    if (IsOpen()) EscapeCommFunction(Handle(), State ? SETBREAK : CLRBREAK);
}
