// TnrCustomDataProcessor: the base of protocol layers plugged into a port.
//
// Attached to a port (TnrBaseIO::SetDataProcessor) a processor sees every received block
// before the port's terminal and OnAfterReceive (DoProcessing, passed along the chain of
// linked processors), may take over blocks to be sent (OnDataSend), reports the end of a
// handled send through its send-completion timer (DoAfterSendComplete, one interval after
// the last handled block) and learns of the port's opening and closing (notification
// codes 2 and 1, MediumOpened / MediumClosed).
//
// Threads: DoProcessing and DoAfterSendComplete run where the port processes its events;
// DeviceNotify on the thread that opens or closes the port; the send-completion timer on
// the thread that created the processor. No lock.
#pragma once

#include "nrbaseio.h"
#include "nrtimer.h"

#include <QByteArray>

using TDataSendEvent = TMethod<void(QObject* Sender, const std::uint8_t* ptrBuffer, std::uint32_t Len,
                                    bool flSynchro, bool& flHandled)>;

class TnrCustomDataProcessor : public TComponent {
    Q_OBJECT
public:
    explicit TnrCustomDataProcessor(QObject* AOwner = nullptr);
    ~TnrCustomDataProcessor() override;

    virtual void DeviceNotify(QObject* Sender, int Code);
    virtual void MediumClosed();
    virtual void MediumOpened();
    virtual void SetNextProcessor(TnrCustomDataProcessor* Value);
    virtual void AttachDevice(TnrBaseIO* Value);
    virtual void SetActive(bool Value) { fActive = Value; }
    virtual void SendBlock(const std::uint8_t* ptrBuffer, std::uint32_t Len);
    virtual void SendText(const QByteArray& S);
    virtual void SendTimerElapsed(QObject* Sender);
    virtual void StartSendTimer(std::uint32_t Interval);
    virtual void DoFatalErrors(std::uint32_t Code, std::uint32_t Detail, const QString& Msg);
    virtual void DoProcessing(const std::uint8_t* Data, std::uint32_t Len, TIgnoreTypes& R);
    virtual void DataReceive(const std::uint8_t* ptrBuffer, std::uint32_t Len);
    virtual void DoAfterSendComplete(bool& flIgnore);

    bool Active() const { return fActive; }
    TnrBaseIO* Device() const { return fDevice; }
    TnrCustomDataProcessor* NextProcessor() const { return fDataProcessor; }
    TnrCustomLogFile* Log() const { return fLog; }
    // The send-completion timer, for inspection.
    const TnrTimer& SendTimer() const { return *fTimerAsync; }

    TOnFatalErrorEvent OnFatalError;
    TDataSendEvent OnDataSend;

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;
    void AttachLog(TnrCustomLogFile* Value);
    void WriteLog(TDetailLevel Level, const QString& Text);
    void WriteLogFmt(TDetailLevel Level, const QString& Format, const TVarRecs& Args);

    TnrBaseIO* fDevice = nullptr;
    TnrCustomDataProcessor* fDataProcessor = nullptr;
    bool fActive = false;
    TnrCustomLogFile* fLog = nullptr;
    TnrTimer* fTimerAsync = nullptr;
    QString sLogPrefix;
};
