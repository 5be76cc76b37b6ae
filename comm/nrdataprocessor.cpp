#include "nrdataprocessor.h"

#include "nrcomm.h"
#include "platform/nrserialapi.h"

TnrCustomDataProcessor::TnrCustomDataProcessor(QObject* AOwner) : TComponent(AOwner) {
    fTimerAsync = new TnrTimer;
    fTimerAsync->SetEnabled(false);
    fTimerAsync->SetOnTimer(TNotifyEvent(this, &TnrCustomDataProcessor::SendTimerElapsed));
}

TnrCustomDataProcessor::~TnrCustomDataProcessor() {
    AttachDevice(nullptr);
    delete fTimerAsync;
}

void TnrCustomDataProcessor::DeviceNotify(QObject*, int Code) {
    if (Code == NOTIFY_CLOSED)
        MediumClosed();
    else if (Code == NOTIFY_OPENED)
        MediumOpened();
}

void TnrCustomDataProcessor::MediumClosed() { WriteLog(dlDebug, QStringLiteral("Medium Closed")); }

void TnrCustomDataProcessor::MediumOpened() { WriteLog(dlDebug, QStringLiteral("Medium Opened")); }

void TnrCustomDataProcessor::SetNextProcessor(TnrCustomDataProcessor* Value) {
    if (Value == this)
        return;
    fDataProcessor = Value;
    if (Value) {
        FreeNotification(Value);
        Value->AttachDevice(fDevice);
    }
}

void TnrCustomDataProcessor::AttachDevice(TnrBaseIO* Value) {
    if (fDevice && fDevice != Value)
        fDevice->NotifyDelete(TnrNotifyEvent(this, &TnrCustomDataProcessor::DeviceNotify));
    fDevice = Value;
    if (Value) {
        FreeNotification(Value);
        Value->NotifyAdd(TnrNotifyEvent(this, &TnrCustomDataProcessor::DeviceNotify));
    }
}

void TnrCustomDataProcessor::SendBlock(const std::uint8_t* ptrBuffer, std::uint32_t Len) {
    if (Len == 0 || !ptrBuffer)
        return;
    try {
        bool flHandled = false;
        if (OnDataSend)
            OnDataSend(this, ptrBuffer, Len, false, flHandled);
        if (flHandled) {
            fTimerAsync->SetEnabled(false);
            fTimerAsync->SetEnabled(true);
        } else {
            if (!fDevice)
                return; // nothing took the block and there is no port to send it on
            fDevice->SendData(ptrBuffer, Len);
            // A serial port queues SendData on its writer thread: its own flush waits for
            // that queue as well as for the driver's.
            if (auto* port = qobject_cast<TnrCustomComm*>(fDevice))
                port->FlushOutputBuffer();
            else
                FlushFileBuffers(fDevice->Handle());
        }
        WriteLogFmt(dlDebug, QStringLiteral("DoDataSend: %u bytes"), {Len});
    } catch (...) {
        // Sending through a processor never raises.
    }
}

void TnrCustomDataProcessor::SendText(const QByteArray& S) {
    if (S.isEmpty())
        return;
    try {
        bool flHandled = false;
        if (OnDataSend)
            OnDataSend(this, reinterpret_cast<const std::uint8_t*>(S.constData()),
                       static_cast<std::uint32_t>(S.size()), true, flHandled);
        if (!flHandled && fDevice)
            fDevice->SendString(S);
    } catch (...) {
    }
}

void TnrCustomDataProcessor::SendTimerElapsed(QObject*) {
    fTimerAsync->SetEnabled(false);
    bool flIgnore = false;
    DoAfterSendComplete(flIgnore);
}

void TnrCustomDataProcessor::StartSendTimer(std::uint32_t Interval) {
    fTimerAsync->SetEnabled(false);
    if (Interval != 0) {
        fTimerAsync->SetInterval(Interval);
        fTimerAsync->SetEnabled(true);
    }
}

void TnrCustomDataProcessor::DoFatalErrors(std::uint32_t Code, std::uint32_t Detail, const QString& Msg) {
    bool raiseException = true;
    if (OnFatalError)
        OnFatalError(this, Code, Detail, Msg, raiseException);
    if (fLog)
        fLog->AddLogFmt(dlSimple, QStringLiteral("Fatal Error: %u, %u, %s"), {Code, Detail, Msg});
    if (raiseException)
        throw ENrException(Msg);
}

void TnrCustomDataProcessor::DoProcessing(const std::uint8_t* Data, std::uint32_t Len, TIgnoreTypes& R) {
    if (fDataProcessor)
        fDataProcessor->DoProcessing(Data, Len, R);
}

void TnrCustomDataProcessor::DataReceive(const std::uint8_t* ptrBuffer, std::uint32_t Len) {
    TIgnoreTypes R;
    DoProcessing(ptrBuffer, Len, R);
}

void TnrCustomDataProcessor::DoAfterSendComplete(bool&) {}

void TnrCustomDataProcessor::Notification(QObject* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove)
        return;
    // The removed object is half destroyed: forget it, never call into it.
    if (AComponent == fDataProcessor)
        fDataProcessor = nullptr;
    if (AComponent == fDevice)
        fDevice = nullptr;
    if (AComponent == fLog)
        AttachLog(nullptr);
}

void TnrCustomDataProcessor::AttachLog(TnrCustomLogFile* Value) {
    fLog = Value;
    if (Value)
        FreeNotification(Value);
}

void TnrCustomDataProcessor::WriteLog(TDetailLevel Level, const QString& Text) {
    if (fLog)
        fLog->AddLog(Level, sLogPrefix + Text);
}

void TnrCustomDataProcessor::WriteLogFmt(TDetailLevel Level, const QString& Format, const TVarRecs& Args) {
    if (fLog)
        fLog->AddLogFmt(Level, sLogPrefix + Format, Args);
}
