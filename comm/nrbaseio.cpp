#include "nrbaseio.h"

#include "nrapplication.h"
#include "nrdataprocessor.h"
#include "nrterminal.h"
#include "nrthreadio.h"

TnrBaseIO::TnrBaseIO(QObject* AOwner) : TComponent(AOwner) {}

TnrBaseIO::~TnrBaseIO() {
    // A worker still running would call into a half-destroyed component.
    if (fThreadControl) {
        fThreadControl->Terminate();
        fThreadControl->WaitFor();
    }
    fTerminalHook.reset();
    ClearDeviceList();
}

void TnrBaseIO::Loaded() {
    TComponent::Loaded();
    try {
        SetTerminal(fTerminal);
        SetTerminalUsage(fTerminalUsage);
        SetActive(fActive);
    } catch (...) {
        ShowErrorMessage(QStringLiteral("error"), QStringLiteral("Error"));
    }
}

// --- Device operations ---

bool TnrBaseIO::IsOpen() const { return Handle() != INVALID_HANDLE_VALUE; }

THandle TnrBaseIO::OpenDevice() { return INVALID_HANDLE_VALUE; }

void TnrBaseIO::CloseDevice(THandle Handle) { CloseHandle(Handle); }

bool TnrBaseIO::HasReceiver() const { return fTerminal || OnAfterReceive || fDataProcessor; }

void TnrBaseIO::DoOpen() { BaseDoOpen(); }

void TnrBaseIO::DoClose() { BaseDoClose(); }

void TnrBaseIO::BaseDoOpen() {
    SetHandleValue(OpenDevice());
    if (IsOpen() && isThreaded)
        StartThreads();
    if (IsOpen() && fOnOpen) {
        try {
            fOnOpen(this);
        } catch (...) {
        }
    }
}

void TnrBaseIO::BaseDoClose() {
    if (!IsOpen())
        return;
    CloseDevice(Handle());
    if (isThreaded)
        StopThreads();
    SetHandleValue(INVALID_HANDLE_VALUE);
    if (OnClose) {
        try {
            OnClose(this);
        } catch (...) {
            // A failing close handler must not leave the port half closed.
        }
    }
}

void TnrBaseIO::StartThreads() {
    IsThreadIOTerminated = false;
    fThreadControl = TnrThreadIO::Create(this, fPriority, &fThreadIO);
}

void TnrBaseIO::StopThreads() {
    if (IsThreadIOTerminated)
        return;
    IsThreadIOTerminated = true;
    if (fThreadControl) {
        fThreadControl->Terminate();
        fThreadControl->WaitFor();
        // On the worker itself WaitFor returns at once; keep the control until it ends.
        if (fThreadControl->Ended())
            fThreadControl.reset();
    }
    fThreadIO = nullptr;
}

void TnrBaseIO::ExecuteThreadIO(TnrThreadIO*) {}

void TnrBaseIO::SynchronizedReceive() { DoReceived(threadData, threadDataSize); }

// --- Failure path ---

void TnrBaseIO::DoFatalError(std::uint32_t ErrorCode, std::uint32_t Detail, const QString& ErrorMsg, bool ShowOnly) {
    bool raiseException = true;
    if (OnFatalError)
        OnFatalError(this, ErrorCode, Detail, ErrorMsg, raiseException);
    if (fLog)
        fLog->AddLogFmt(dlSimple, QStringLiteral("Fatal Error: %u, %u, %s"), {ErrorCode, Detail, ErrorMsg});
    if (!raiseException || IsLoading())
        return;
    if (ShowOnly)
        ShowException(ErrorMsg);
    else
        throw ENrException(ErrorMsg);
}

// --- Notifications and receive hand-off ---

void TnrBaseIO::DoNotify(int Code) { nrNotifyList.Call(this, Code); }

void TnrBaseIO::NotifyAdd(const TnrNotifyEvent& NotifyEvent) {
    if (nrNotifyList.IndexOf(NotifyEvent) < 0)
        nrNotifyList.Add(NotifyEvent);
}

void TnrBaseIO::NotifyDelete(const TnrNotifyEvent& NotifyEvent) {
    const int i = nrNotifyList.IndexOf(NotifyEvent);
    if (i >= 0)
        nrNotifyList.Delete(i);
}

void TnrBaseIO::DoReceived(const std::uint8_t* Data, std::uint32_t Size) {
    TIgnoreTypes R;
    if (fDataProcessor) {
        R = TIgnoreTypes{};
        fDataProcessor->DoProcessing(Data, Size, R);
    }
    if (fTerminal && !R.Contains(itTerminal))
        WriteToTerminal(Data, Size);
    if (OnAfterReceive)
        OnAfterReceive(this, Data, Size);
}

bool TnrBaseIO::DoAfterSend() {
    bool handled = false;
    if (fDataProcessor)
        fDataProcessor->DoAfterSendComplete(handled);
    return handled;
}

// --- Device list ---

void TnrBaseIO::SetDeviceIndex(int) { DoNotify(NOTIFY_DEVICE_CHANGED); }

TnrDevice* TnrBaseIO::GetDevice(int Index) const {
    if (Index < 0 || Index >= DeviceCount())
        return nullptr;
    return slDevices[Index].Device;
}

int TnrBaseIO::IndexOfDevice(const TnrDevice* aDevice) const {
    for (int i = 0; i < DeviceCount(); ++i)
        if (slDevices[i].Device == aDevice)
            return i;
    return -1;
}

int TnrBaseIO::IndexOfData(std::int32_t Value) const {
    for (int i = 0; i < DeviceCount(); ++i)
        if (slDevices[i].Device && slDevices[i].Device->Data == Value)
            return i;
    return -1;
}

int TnrBaseIO::AddDevice(TnrDevice* Device) {
    slDevices.append({Device->NameFriendly, Device});
    const int position = DeviceCount() - 1;
    Device->fIndex = position;
    Device->fParent = this;
    return position;
}

int TnrBaseIO::InsertDevice(TnrDevice* Device) {
    if (slDevices.isEmpty() || slDevices.last().Device->Data < Device->Data)
        return AddDevice(Device);
    for (int i = 0; i < DeviceCount(); ++i) {
        TnrDevice* current = slDevices[i].Device;
        if (current->Data == Device->Data)
            return -1;
        if (current->Data > Device->Data) {
            slDevices.insert(i, {Device->NameFriendly, Device});
            Device->fIndex = i;
            Device->fParent = this;
            for (int j = i + 1; j < DeviceCount(); ++j)
                slDevices[j].Device->fIndex = j;
            return i;
        }
    }
    return -1; // not reached: the last record's Data is at least Device->Data
}

void TnrBaseIO::ClearDeviceList() {
    if (flClearDeviceListWithFree)
        for (const auto& entry : std::as_const(slDevices))
            delete entry.Device;
    slDevices.clear();
}

void TnrBaseIO::GetDeviceList(TnrDeviceList* L) {
    if (slDevices.isEmpty())
        DeviceListLoad();
    if (L)
        *L = slDevices;
}

void TnrBaseIO::Update() { DoNotify(NOTIFY_DEVICE_CHANGED); }

bool TnrBaseIO::WMDeviceChange(TMessage& Msg) {
    if (Msg.Msg != WM_DEVICECHANGE)
        return false;
    if (Msg.WParam == DBT_DEVICEARRIVAL || Msg.WParam == DBT_DEVICEREMOVECOMPLETE) {
        const auto* header = reinterpret_cast<const TDevBroadcastHeader*>(Msg.LParam);
        if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT)
            return false;
    } else if (Msg.WParam != DBT_DEVNODES_CHANGED) {
        return false;
    }
    Update();
    return true;
}

// --- Properties ---

bool TnrBaseIO::Active() const { return IsLoading() ? fActive : IsOpen(); }

void TnrBaseIO::SetActive(bool Value) {
    if (IsLoading()) {
        fActive = Value;
        return;
    }
    ActiveChanging(Value);
    if (Value && !IsOpen())
        DoOpen();
    else if (!Value && IsOpen())
        DoClose();
}

void TnrBaseIO::SetLog(TnrCustomLogFile* Value) {
    fLog = Value;
    if (Value)
        FreeNotification(Value);
}

void TnrBaseIO::SetDataProcessor(TnrCustomDataProcessor* Value) {
    if (!Value && fDataProcessor)
        fDataProcessor->AttachDevice(nullptr);
    fDataProcessor = Value;
    if (Value) {
        Value->AttachDevice(this);
        FreeNotification(Value);
    }
}

void TnrBaseIO::SetTerminal(QWidget* Value) {
    if (IsLoading()) {
        fTerminal = Value;
        return;
    }
    fTerminalHook.reset(); // gives the linked edit its own event handling back
    if (Value)
        fTerminalHook = std::make_unique<TnrTerminalHook>(this, Value);
    hTerminal = nullptr;
    fTerminal = Value;
    SetTerminalUsage(fTerminalUsage);
    if (Value)
        FreeNotification(Value);
}

void TnrBaseIO::SetTerminalUsage(TTerminalUsage Value) {
    fTerminalUsage = Value;
    if (fTerminal)
        hTerminal = (Value == tuReceive || Value == tuBoth) ? fTerminal : nullptr;
}

void TnrBaseIO::WriteToTerminal(const std::uint8_t* Data, std::uint32_t Size) {
    if (fTerminalHook)
        fTerminalHook->WriteReceived(Data, Size);
}

void TnrBaseIO::Notification(QObject* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove)
        return;
    // The processor has detached itself in its destructor; only the link is left.
    if (AComponent == fDataProcessor)
        fDataProcessor = nullptr;
    if (AComponent == fTerminal) {
        if (fTerminalHook)
            fTerminalHook->Forget(); // the edit is going: nothing to give back
        fTerminalHook.reset();
        fTerminal = nullptr;
        hTerminal = nullptr;
    }
    if (AComponent == fLog)
        fLog = nullptr;
}

// --- Log writers ---

void TnrBaseIO::WriteLog(TDetailLevel Level, const QString& Text) {
    if (!fLog)
        return;
    if (Text.isEmpty())
        fLog->AddSysInfo();
    else
        fLog->AddLog(Level, LogPrefix() + Text);
}

void TnrBaseIO::WriteLogFmt(TDetailLevel Level, const QString& Format, const TVarRecs& Args) {
    if (fLog)
        fLog->AddLogFmt(Level, LogPrefix() + Format, Args);
}

QString TnrBaseIO::LogPrefix() const {
    return sLogPrefix.isNull() ? QString::fromLatin1(metaObject()->className()) : sLogPrefix;
}
