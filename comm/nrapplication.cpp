#include "nrapplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <exception>

bool IsMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {
// Qt's event queue orders a post with the call it queues, but inside Qt, where a race
// checker can't see it; holding this across the post, and taking it before the call runs,
// makes that order visible.
std::mutex gHandOff;
} // namespace

void PostToMainThread(QCoreApplication* app, std::function<void()> call) {
    std::unique_lock handOff(gHandOff);
    QMetaObject::invokeMethod(
        app,
        [call = std::move(call)] {
            { std::lock_guard visible(gHandOff); }
            call();
        },
        Qt::QueuedConnection);
}

struct TnrMainThreadGate::TCall {
    bool started = false;
    bool done = false;
    bool abandoned = false;
    std::exception_ptr error;
};

bool TnrMainThreadGate::Run(const std::function<void()>& call) {
    if (IsMainThread()) {
        if (IsClosed())
            return false;
        call();
        return true;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || IsClosed())
        return false;

    auto shared = fShared;
    auto state = std::make_shared<TCall>();
    // The call captures the caller's stack by reference: it either runs while the caller
    // waits below, or is abandoned before it starts and never runs.
    PostToMainThread(app, [shared, state, &call] {
        {
            std::lock_guard g(shared->lock);
            if (state->abandoned || shared->closed) {
                state->abandoned = true;
                shared->changed.notify_all();
                return;
            }
            state->started = true;
        }
        try {
            call();
        } catch (...) {
            state->error = std::current_exception();
        }
        std::lock_guard g(shared->lock);
        state->done = true;
        shared->changed.notify_all();
    });

    std::unique_lock lk(shared->lock);
    shared->changed.wait(lk, [&] { return state->done || state->abandoned || (shared->closed && !state->started); });
    if (!state->done) {
        state->abandoned = true;
        return false;
    }
    lk.unlock();
    if (state->error)
        std::rethrow_exception(state->error);
    return true;
}

void TnrMainThreadGate::Close() {
    std::lock_guard g(fShared->lock);
    fShared->closed = true;
    fShared->changed.notify_all();
}

bool TnrMainThreadGate::IsClosed() const {
    std::lock_guard g(fShared->lock);
    return fShared->closed;
}

namespace {

std::mutex gHandlerLock;
TUserMessageHandler gHandler;

void DefaultDisplay(TUserMessageKind, const QString& text, const QString& caption) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return;
    }
    // Both kinds are error boxes; the kind only tells a replacement handler which it is.
    auto show = [text, caption] { QMessageBox::critical(QApplication::activeWindow(), caption, text); };
    if (IsMainThread())
        show();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::QueuedConnection);
}

void DisplayUserMessage(TUserMessageKind kind, const QString& text, const QString& caption) {
    TUserMessageHandler handler;
    {
        std::lock_guard g(gHandlerLock);
        handler = gHandler;
    }
    if (handler)
        handler(kind, text, caption);
    else
        DefaultDisplay(kind, text, caption);
}

} // namespace

TUserMessageHandler SetUserMessageHandler(TUserMessageHandler handler) {
    std::lock_guard g(gHandlerLock);
    std::swap(gHandler, handler);
    return handler;
}

void ShowException(const QString& message) {
    const QString caption =
        QCoreApplication::instance() ? QCoreApplication::applicationName() : QStringLiteral("Error");
    DisplayUserMessage(TUserMessageKind::umException, message, caption);
}

void ShowErrorMessage(const QString& text, const QString& caption) {
    DisplayUserMessage(TUserMessageKind::umError, text, caption);
}
