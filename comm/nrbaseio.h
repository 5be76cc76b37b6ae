// TnrBaseIO: the base of the library's I/O components.
//
// It holds the device handle and with it the open state behind Active, the virtual
// device operations a descendant supplies (OpenDevice, DoOpen, DoClose, the threads, the
// send operations, the device list loading), the notification list, the links to a log
// sink, a data processor and a terminal edit, the log writers and the one fatal-error
// path of the library:
//
//   DoFatalError(code, detail, msg, ShowOnly)
//     OnFatalError (may clear RaiseException) -> log "Fatal Error: %u, %u, %s" ->
//     unless cleared and not loading: ShowOnly ? error box : throw ENrException(msg).
//
// Threads: a component belongs to the thread that created it, normally the user-interface
// thread, where its properties are set and it is opened and closed. DoFatalError,
// DoReceived and the close after a failed wait may run on the component's own threads
// (see nrcomm.h); everything else is single-threaded and takes no lock.
#pragma once

#include "nrcomponent.h"
#include "nrdevice.h"
#include "nrformat.h"
#include "nrlogfile.h"
#include "nrmessages.h"
#include "nrmethod.h"
#include "nrnotifylist.h"
#include "platform/nrhandle.h"

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>

class TnrCustomDataProcessor;
class TnrThreadIO;
class TnrThreadControl;
class TnrTerminalHook;

using TNotifyEvent = TMethod<void(QObject* Sender)>;
using TOnReceived = TMethod<void(QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received)>;
using TOnSent = TMethod<void(QObject* Com)>;

enum TTerminalUsage : std::uint8_t { tuNone, tuSend, tuReceive, tuBoth };

// What a data processor asks the port to skip for a received block (bit n for value n).
enum TIgnoreType : std::uint8_t { itTerminal = 0, itEventList = 1, itAfterReceive = 2, itTraceState = 3 };
struct TIgnoreTypes {
    std::uint8_t Bits = 0;
    bool Contains(TIgnoreType t) const { return Bits & (1u << t); }
    void Include(TIgnoreType t) { Bits |= static_cast<std::uint8_t>(1u << t); }
    void Exclude(TIgnoreType t) { Bits &= static_cast<std::uint8_t>(~(1u << t)); }
    bool Empty() const { return Bits == 0; }
};

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TnrBaseIO : public TComponent {
    Q_OBJECT
public:
    explicit TnrBaseIO(QObject* AOwner = nullptr);
    ~TnrBaseIO() override;

    void Loaded() override;

    // --- Virtual operations, in the library's slot order ---
    virtual bool IsOpen() const;
    virtual THandle OpenDevice();
    virtual void CloseDevice(THandle Handle);
    virtual bool HasReceiver() const;
    virtual void DoOpen();
    virtual void DoClose();
    // Called by SetActive (outside loading) before it opens or closes, whether or not the
    // state changes.
    virtual void ActiveChanging(bool) {}
    // Called after every UseMainThread assignment, on the thread that made it.
    virtual void UseMainThreadChanged() {}
    virtual void StartThreads();
    virtual void StopThreads();
    virtual void ExecuteThreadIO(TnrThreadIO* Thread);
    virtual void DoFatalError(std::uint32_t ErrorCode, std::uint32_t Detail, const QString& ErrorMsg,
                              bool ShowOnly = false);
    virtual void DoNotify(int Code);
    virtual void DoReceived(const std::uint8_t* Data, std::uint32_t Size);
    virtual bool DoAfterSend();
    virtual void SetDeviceIndex(int Value);
    virtual int GetDeviceIndex() const = 0;
    virtual int AddDevice(TnrDevice* Device);
    virtual int InsertDevice(TnrDevice* Device);
    virtual void DeviceListLoad() = 0;
    virtual void ClearDeviceList();
    virtual void WriteToTerminal(const std::uint8_t* Data, std::uint32_t Size);
    virtual void Update();
    virtual void NotifyAdd(const TnrNotifyEvent& NotifyEvent);
    virtual void NotifyDelete(const TnrNotifyEvent& NotifyEvent);
    virtual void SendChar(char16_t Ch) = 0;
    virtual void SendString(const QByteArray& S) = 0;
    virtual void SendData(const std::uint8_t* Buff, std::uint32_t N) = 0;
    virtual void ClearDeviceInput() = 0;
    virtual void ClearDeviceOutput() = 0;
    virtual void ClearDeviceBuffers() = 0;
    virtual void GetDeviceList(TnrDeviceList* L);
    virtual bool WMDeviceChange(TMessage& Msg);

    // --- Properties ---
    bool Active() const;
    void SetActive(bool Value);
    THandle Handle() const { return hPort.load(std::memory_order_acquire); }

    TnrCustomLogFile* Log() const { return fLog; }
    void SetLog(TnrCustomLogFile* Value);

    TnrCustomDataProcessor* DataProcessor() const { return fDataProcessor; }
    void SetDataProcessor(TnrCustomDataProcessor* Value);

    bool UseMainThread() const { return fUseMainThread.load(std::memory_order_relaxed); }
    void SetUseMainThread(bool Value) {
        fUseMainThread.store(Value, std::memory_order_relaxed);
        UseMainThreadChanged();
    }

    // The terminal: a QLineEdit, QPlainTextEdit or QTextEdit (see nrterminal.h).
    QWidget* Terminal() const { return fTerminal; }
    void SetTerminal(QWidget* Value);
    TTerminalUsage TerminalUsage() const { return fTerminalUsage; }
    void SetTerminalUsage(TTerminalUsage Value);
    bool TerminalEcho() const { return fTerminalEcho; }
    void SetTerminalEcho(bool Value) { fTerminalEcho = Value; }

    // --- Device list ---
    TnrDevice* GetDevice(int Index) const;
    TnrDevice* Device(int Index) const { return GetDevice(Index); }
    int DeviceCount() const { return static_cast<int>(slDevices.size()); }
    int IndexOfDevice(const TnrDevice* aDevice) const;
    int IndexOfData(std::int32_t Value) const;
    int DeviceIndex() const { return GetDeviceIndex(); }

    // --- Events ---
    TOnFatalErrorEvent OnFatalError;
    TNotifyEvent OnClose;
    TOnReceived OnAfterReceive;

protected:
    void Notification(QObject* AComponent, TOperation Operation) override;

    void WriteLog(TDetailLevel Level, const QString& Text);
    void WriteLogFmt(TDetailLevel Level, const QString& Format, const TVarRecs& Args);
    QString LogPrefix() const;

    // The base open and close, which descendants run inside their own sequences.
    void BaseDoOpen();
    void BaseDoClose();

    // Sets hPort; the handle is read by the component's threads.
    void SetHandleValue(THandle h) { hPort.store(h, std::memory_order_release); }

    // The worker thread hands a chunk to the user-interface thread through these.
    void SynchronizedReceive();

    TnrNotifyList nrNotifyList;
    TnrCustomLogFile* fLog = nullptr;
    TnrCustomDataProcessor* fDataProcessor = nullptr;
    TnrDeviceList slDevices;
    const std::uint8_t* threadData = nullptr;
    std::uint32_t threadDataSize = 0;
    // The terminal edit while it shows received text (usage tuReceive or tuBoth), else null.
    QWidget* hTerminal = nullptr;
    TTerminalUsage fTerminalUsage = tuNone;
    QWidget* fTerminal = nullptr;
    bool fTerminalEcho = false;
    // True while received text is written into the terminal, so it is not sent back out.
    bool fTerminalLocked = false;
    TNotifyEvent fOnOpen;
    TnrThreadIO* fThreadIO = nullptr;
    std::shared_ptr<TnrThreadControl> fThreadControl;
    std::atomic<bool> fUseMainThread{false};
    TThreadPriority fPriority = TThreadPriority::tpNormal;
    bool fActive = false;
    std::atomic<THandle> hPort{INVALID_HANDLE_VALUE};
    // Put before every line of WriteLog/WriteLogFmt; until a descendant sets it, the
    // class name.
    QString sLogPrefix;
    bool flClearDeviceListWithFree = true;
    bool isThreaded = false;
    bool IsThreadIOTerminated = true;

private:
    friend class TnrTerminalHook;
    std::unique_ptr<TnrTerminalHook> fTerminalHook;
};
