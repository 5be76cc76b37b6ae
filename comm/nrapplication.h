// The library's ties to the application object: the user-interface thread and the
// error displays.
//
//   IsMainThread()        true on the thread that runs the QCoreApplication.
//   PostToMainThread(app, call)  queues a call on the user-interface thread and returns.
//   TnrMainThreadGate     runs a call on the user-interface thread and waits for it;
//                         Close() makes a pending or later call return without running,
//                         so a thread being stopped is never stuck in a hand-off.
//   ShowException(msg)    the standard error box for an exception a component reports
//                         with ShowOnly, or one that a handler let through.
//   ShowErrorMessage(text, caption)  a plain message box with the error icon.
//
// Both displays go through one replaceable handler (SetUserMessageHandler), so a test
// or a console host can collect them. Without a handler: a modal QMessageBox on the
// user-interface thread (queued there when called from another thread), or standard
// error when the process has no QApplication.
#pragma once

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

bool IsMainThread();

class QCoreApplication;
// Queues call on app's thread and returns at once. What the posting thread wrote before
// is visible to the call, to a race checker too.
void PostToMainThread(QCoreApplication* app, std::function<void()> call);

class TnrMainThreadGate {
public:
    TnrMainThreadGate() = default;
    ~TnrMainThreadGate() { Close(); }
    TnrMainThreadGate(const TnrMainThreadGate&) = delete;
    TnrMainThreadGate& operator=(const TnrMainThreadGate&) = delete;

    // Runs call on the user-interface thread and waits until it has run; on that thread
    // itself, calls it directly. Returns false, without running it, when the gate is or
    // gets closed before the call started, or when there is no application object. An
    // exception thrown by the call is rethrown here.
    bool Run(const std::function<void()>& call);

    // From any thread. A call already running on the user-interface thread still
    // completes and Run then returns true.
    void Close();
    bool IsClosed() const;

private:
    struct TCall;
    // Shared with the calls queued on the user-interface thread, which may run after
    // the gate is gone (they then find it closed and do nothing).
    struct TShared {
        std::mutex lock;
        std::condition_variable changed;
        bool closed = false;
    };
    std::shared_ptr<TShared> fShared = std::make_shared<TShared>();
};

enum class TUserMessageKind { umException, umError };

using TUserMessageHandler = std::function<void(TUserMessageKind kind, const QString& text, const QString& caption)>;

// Installs a handler for both displays; an empty handler restores the default.
// Returns the previous handler.
TUserMessageHandler SetUserMessageHandler(TUserMessageHandler handler);

void ShowException(const QString& message);
void ShowErrorMessage(const QString& text, const QString& caption);
