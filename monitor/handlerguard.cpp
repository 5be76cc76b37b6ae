#include "handlerguard.h"

#include "nrapplication.h"
#include "nrcomponent.h"

#include <new>

QString ExceptionMessage(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const ENrException& e) {
        return e.Message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Mémoire insuffisante");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Exception inconnue");
    }
}

void ShowCurrentException() {
    // Showing the box may itself fail (out of memory); the program must still go on.
    try {
        ShowException(ExceptionMessage(std::current_exception()));
    } catch (...) {
    }
}

TGuardedApplication::TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}
