// The application object's own guard: an exception that escapes an event handler no
// handler of ours wraps (a library widget, a queued call) ends in the error box, and the
// event loop goes on. This program runs its own main, as the guard is the application.
#include "handlerguard.h"
#include "nrapplication.h"
#include "nrcomponent.h"

#include <QEvent>
#include <QStringList>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

class TThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw ENrException(QStringLiteral("Le port COM9 a disparu"));
        return QObject::event(e);
    }
};

struct TShown {
    QStringList texts;
    TUserMessageHandler previous;
    TShown() {
        previous = SetUserMessageHandler(
            [this](TUserMessageKind, const QString& text, const QString&) { texts.append(text); });
    }
    ~TShown() { SetUserMessageHandler(previous); }
};

} // namespace

TEST(GuardedApplication, AnExceptionFromAnEventHandlerIsShownAndTheLoopGoesOn) {
    TShown shown;
    TThrowingObject target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QMetaObject::invokeMethod(
        &target, [] { throw std::runtime_error("queued call failed"); }, Qt::QueuedConnection);
    bool later = false;
    QTimer::singleShot(20, [&] {
        later = true;
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(later);
    EXPECT_EQ(shown.texts,
              (QStringList{QStringLiteral("Le port COM9 a disparu"), QStringLiteral("queued call failed")}));
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TGuardedApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
