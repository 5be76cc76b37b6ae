// The one guard of the user-interface handlers: an exception that a handler lets through
// ends in the standard error box showing its message (ShowException, nrapplication.h),
// never in std::terminate, and the program goes on.
//
//   RunGuarded(call)            runs call(); shows whatever it throws; true when it did not throw
//   ShowCurrentException()      shows the exception being handled (inside a catch block)
//   TGuardedApplication         a QApplication whose event delivery runs guarded, for
//                               exceptions of library widgets no handler of ours wraps
//
// Threads: user-interface thread only.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <utility>

// The message of an exception: ENrException and std::exception carry theirs.
QString ExceptionMessage(const std::exception_ptr& error);

// Call only inside a catch block.
void ShowCurrentException();

template <class F> bool RunGuarded(F&& call) noexcept {
    try {
        std::forward<F>(call)();
        return true;
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

class TGuardedApplication : public QApplication {
    Q_OBJECT
public:
    TGuardedApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
