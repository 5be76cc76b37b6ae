// Formatting of log lines, the Windows-1252 code page, registered messages and the
// library's process-wide objects.
#include "nrcodepage.h"
#include "nrformat.h"
#include "nrmessages.h"
#include "nrmodules.h"
#include "nrsysutils.h"

#include <gtest/gtest.h>
#include <thread>

TEST(Format, LibraryLogFormats) {
    EXPECT_EQ(Format(QStringLiteral("Try to send char %2Xh ..."), {0x0Au}), QStringLiteral("Try to send char  Ah ..."));
    EXPECT_EQ(Format(QStringLiteral("Try to send char %2Xh ..."), {0xE9u}), QStringLiteral("Try to send char E9h ..."));
    EXPECT_EQ(Format(QStringLiteral("Fatal Error: %u, %u, %s"), {1u, 0u, QStringLiteral("x")}),
              QStringLiteral("Fatal Error: 1, 0, x"));
    EXPECT_EQ(Format(QStringLiteral("Communication Error %d:%d %X"), {0, 5, 0xABu}),
              QStringLiteral("Communication Error 0:5 AB"));
    EXPECT_EQ(Format(QStringLiteral("The port %s is opened succesfully"), {QStringLiteral("COM3")}),
              QStringLiteral("The port COM3 is opened succesfully"));
    EXPECT_EQ(Format(QStringLiteral("100%% %-4s|%.3d|%c"), {"ab", 7, 'z'}), QStringLiteral("100% ab  |007|z"));
}

TEST(Format, ThirtyTwoBitValuesAndBadArguments) {
    EXPECT_EQ(Format(QStringLiteral("%u"), {-1}), QStringLiteral("4294967295"));
    EXPECT_EQ(Format(QStringLiteral("%X"), {-2}), QStringLiteral("FFFFFFFE"));
    EXPECT_EQ(Format(QStringLiteral("%d"), {0xFFFFFFFFu}), QStringLiteral("-1"));
    EXPECT_THROW(Format(QStringLiteral("%d %d"), {1}), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%d"), {"text"}), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("%s"), {3}), EConvertError);
    EXPECT_THROW(Format(QStringLiteral("ends with %"), {}), EConvertError);
}

TEST(CodePage, EveryByteSurvivesARoundTrip) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = AnsiToUnicode(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text.at(0xE9), QChar(0x00E9)); // é
    EXPECT_EQ(text.at(0x80), QChar(0x20AC)); // euro sign
    EXPECT_EQ(text.at(0x9F), QChar(0x0178));
    EXPECT_EQ(UnicodeToAnsi(text), all);
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(UnicodeToAnsi(QStringLiteral("caf\u00e9 \u20ac")), QByteArray("caf\xe9 \x80"));
    EXPECT_EQ(UnicodeToAnsi(QStringLiteral("\u03c9=1")), QByteArray("?=1"));
    // A character beyond the basic plane is one character: one '?'.
    EXPECT_EQ(UnicodeToAnsi(QString::fromUtf8("a\xF0\x9F\x9A\xA2z")), QByteArray("a?z"));
}

TEST(RegisteredMessages, SameNameSameIdentifierAcrossThreads) {
    const auto id = RegisterWindowMessage(QStringLiteral("brisemerTestMessage"));
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
    std::uint32_t fromThread = 0;
    std::thread t([&] { fromThread = RegisterWindowMessage(QStringLiteral("BRISEMERTESTMESSAGE")); });
    t.join();
    EXPECT_EQ(fromThread, id);
    EXPECT_NE(RegisterWindowMessage(QStringLiteral("brisemerOtherMessage")), id);
}

TEST(LibraryModules, InitialiseInOrderAndFinaliseInReverse) {
    static QStringList journal;
    journal.clear();
    const TLibraryModule first{"first", [] { journal.append("init first"); }, [] { journal.append("done first"); }};
    const TLibraryModule second{"second", [] { journal.append("init second"); }, [] { journal.append("done second"); }};
    {
        TLibraryModules modules{first, nrsysutilsModule, second};
        ASSERT_NE(GlobalCriticalSection(), nullptr);
        // Recursive for the owning thread, as the lock must be.
        GlobalCriticalSection()->Enter();
        GlobalCriticalSection()->Enter();
        GlobalCriticalSection()->Leave();
        bool otherGotIt = true;
        std::thread t([&] { otherGotIt = GlobalCriticalSection()->TryEnter(); });
        t.join();
        EXPECT_FALSE(otherGotIt);
        GlobalCriticalSection()->Leave();
    }
    EXPECT_EQ(GlobalCriticalSection(), nullptr);
    EXPECT_EQ(journal, (QStringList{"init first", "init second", "done second", "done first"}));
}
