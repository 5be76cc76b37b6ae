// The one guard of the handlers: whatever a handler throws ends in the error box with
// its message, and the program goes on.
#include "handlerguard.h"
#include "nrapplication.h"
#include "nrcomponent.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct TShownMessages {
    QStringList texts;
    TUserMessageHandler previous;
    TShownMessages() {
        previous = SetUserMessageHandler([this](TUserMessageKind kind, const QString& text, const QString&) {
            EXPECT_EQ(kind, TUserMessageKind::umException);
            texts.append(text);
        });
    }
    ~TShownMessages() { SetUserMessageHandler(previous); }
};

} // namespace

TEST(HandlerGuard, ShowsTheMessageOfWhateverAHandlerThrows) {
    TShownMessages shown;
    EXPECT_FALSE(RunGuarded([] { throw ENrException(QStringLiteral("Le port COM7 n'existe pas")); }));
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("plain failure"); }));
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    EXPECT_EQ(shown.texts,
              (QStringList{QStringLiteral("Le port COM7 n'existe pas"), QStringLiteral("plain failure"),
                           QStringLiteral("Exception inconnue")}));
}

TEST(HandlerGuard, AHandlerThatReturnsShowsNothing) {
    TShownMessages shown;
    int runs = 0;
    EXPECT_TRUE(RunGuarded([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(shown.texts.isEmpty());
}

TEST(HandlerGuard, AFailingDisplayDoesNotEndTheProgram) {
    TUserMessageHandler previous = SetUserMessageHandler(
        [](TUserMessageKind, const QString&, const QString&) { throw std::bad_alloc(); });
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("x"); }));
    SetUserMessageHandler(previous);
}
