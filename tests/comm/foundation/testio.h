// A minimal I/O component for tests of the base: its device is a handle object that
// only records that it was closed; it counts the device operations the base calls.
#pragma once

#include "nrbaseio.h"
#include "platform/nrhandle.h"

#include <atomic>
#include <functional>
#include <memory>

class TRecordingHandle : public TnrHandleObject {
public:
    void Close() override { closed = true; }
    std::atomic<bool> closed{false};
};

class TTestIO : public TnrBaseIO {
    Q_OBJECT
public:
    using TnrBaseIO::TnrBaseIO;

    // Whether OpenDevice succeeds.
    bool openSucceeds = true;
    int openDeviceCalls = 0, doOpenCalls = 0, doCloseCalls = 0;
    std::shared_ptr<TRecordingHandle> lastDevice;
    std::function<void(TnrThreadIO*)> threadBody;

    THandle OpenDevice() override {
        ++openDeviceCalls;
        if (!openSucceeds)
            return INVALID_HANDLE_VALUE;
        lastDevice = std::make_shared<TRecordingHandle>();
        return RegisterHandle(lastDevice);
    }
    void DoOpen() override {
        ++doOpenCalls;
        TnrBaseIO::DoOpen();
    }
    void DoClose() override {
        ++doCloseCalls;
        TnrBaseIO::DoClose();
    }
    void ExecuteThreadIO(TnrThreadIO* thread) override {
        if (threadBody)
            threadBody(thread);
    }

    int GetDeviceIndex() const override { return -1; }
    void DeviceListLoad() override { ++deviceListLoads; }
    void SendChar(char16_t) override {}
    void SendString(const QByteArray&) override {}
    void SendData(const std::uint8_t* Buff, std::uint32_t N) override { sent.append(reinterpret_cast<const char*>(Buff), N); }
    void ClearDeviceInput() override {}
    void ClearDeviceOutput() override {}
    void ClearDeviceBuffers() override {}

    int deviceListLoads = 0;
    QByteArray sent;

    // Test access to protected members.
    using TnrBaseIO::DoFatalError;
    using TnrBaseIO::WriteLog;
    using TnrBaseIO::WriteLogFmt;
    using TnrBaseIO::isThreaded;
    using TnrBaseIO::sLogPrefix;
    using TnrBaseIO::flClearDeviceListWithFree;
    using TnrBaseIO::SetHandleValue;
};
