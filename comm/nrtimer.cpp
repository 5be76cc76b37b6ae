#include "nrtimer.h"

#include <QTimerEvent>

TnrUtilWindow::TnrUtilWindow(TWndMethod method) : fMethod(std::move(method)) {}

void TnrUtilWindow::SetTimer(std::uint32_t interval) {
    KillTimer();
    fTimerId = startTimer(static_cast<int>(std::min<std::uint32_t>(interval, INT32_MAX)), Qt::PreciseTimer);
}

void TnrUtilWindow::KillTimer() {
    if (fTimerId != 0) {
        killTimer(fTimerId);
        fTimerId = 0;
    }
}

void TnrUtilWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != fTimerId) {
        QObject::timerEvent(event);
        return;
    }
    TMessage message{WM_TIMER, 1, 0, 0};
    if (fMethod)
        fMethod(message);
}

TnrUtilWindow* CreateUtilWindow(TnrUtilWindow::TWndMethod method) { return new TnrUtilWindow(std::move(method)); }

void DestroyUtilWindow(TnrUtilWindow* window) { delete window; }

TnrTimer::TnrTimer() { FWindowHandle = CreateUtilWindow(TnrUtilWindow::TWndMethod(this, &TnrTimer::HandleMessage)); }

TnrTimer::~TnrTimer() {
    FEnabled = false;
    FWindowHandle->KillTimer();
    DestroyUtilWindow(FWindowHandle);
    FWindowHandle = nullptr;
}

void TnrTimer::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    ApplyTimerState();
}

void TnrTimer::SetInterval(std::uint32_t Value) {
    if (Value == FInterval)
        return;
    FInterval = Value;
    ApplyTimerState();
}

void TnrTimer::SetOnTimer(const TNotifyEvent& Value) {
    FOnTimer = Value;
    ApplyTimerState();
}

void TnrTimer::ApplyTimerState() {
    FWindowHandle->KillTimer();
    if (FInterval != 0 && FEnabled && FOnTimer)
        FWindowHandle->SetTimer(FInterval);
}

void TnrTimer::HandleMessage(TMessage& Message) {
    if (Message.Msg != WM_TIMER) {
        Message.Result = 0;
        return;
    }
    try {
        FireTimer();
    } catch (...) {
        // A failing handler must not stop the timer.
    }
}

void TnrTimer::FireTimer() {
    if (FEnabled && FOnTimer)
        FOnTimer(this);
}
