// TnrTimer: a periodic timer driven by the message loop of the thread that creates it,
// and the hidden utility window that receives its timer messages.
//
// The timer runs exactly while Interval is not 0, Enabled is true and OnTimer is
// assigned. Every change of those restarts the period from the moment of the change;
// setting a property to the value it already has changes nothing. An exception thrown by
// OnTimer is dropped and the timer keeps running. A destroyed timer never fires.
//
// Threads: create, change and destroy a timer on one thread that runs a Qt event loop;
// OnTimer runs on that thread.
#pragma once

#include "nrbaseio.h"
#include "nrmessages.h"
#include "nrmethod.h"

#include <QObject>
#include <cstdint>

// A hidden object standing for a utility window: its timer messages go to the bound
// routine as a TMessage (WM_TIMER, timer number 1).
class TnrUtilWindow : public QObject {
    Q_OBJECT
public:
    using TWndMethod = TMethod<void(TMessage& Message)>;
    explicit TnrUtilWindow(TWndMethod method);

    // Starts or stops the window's timer number 1.
    void SetTimer(std::uint32_t interval);
    void KillTimer();
    bool TimerRunning() const { return fTimerId != 0; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    TWndMethod fMethod;
    int fTimerId = 0;
};

TnrUtilWindow* CreateUtilWindow(TnrUtilWindow::TWndMethod method);
void DestroyUtilWindow(TnrUtilWindow* window);

// A plain QObject (not a component), so it can be the Sender of its OnTimer.
class TnrTimer : public QObject {
    Q_OBJECT
public:
    TnrTimer();
    ~TnrTimer() override;
    TnrTimer(const TnrTimer&) = delete;
    TnrTimer& operator=(const TnrTimer&) = delete;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(const TNotifyEvent& Value);

    // True while the underlying system timer runs.
    bool Running() const { return FWindowHandle && FWindowHandle->TimerRunning(); }

protected:
    virtual void FireTimer();

private:
    void ApplyTimerState();
    void HandleMessage(TMessage& Message);

    std::uint32_t FInterval = 1000;
    TnrUtilWindow* FWindowHandle = nullptr;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};
