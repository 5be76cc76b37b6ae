// A port linked to a terminal edit: real QLineEdit / QPlainTextEdit / QTextEdit and a real
// port on a pseudo-terminal. Typed characters go out through the port, received chunks
// come into the edit (one byte as a key press, longer chunks inserted at the caret in the
// code page, split at zero bytes) and nothing received ever goes back out.

#include "commtestutil.h"
#include "nrapplication.h"
#include "nrcomm.h"
#include "ptypair.h"
#include "testenv.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

class Terminal : public testing::Test {
protected:
    void SetUp() override {
        TTestEnvironment::WritePortMap({QStringLiteral("COM221 = ") + Pty.SlavePath()});
        Com = std::make_unique<TnrComm>();
        Com->SetComPortNo(221);
        Com->OnAfterReceive = [this](QObject*, const std::uint8_t*, std::uint32_t n) { Received += n; };
        Com->SetActive(true);
        ASSERT_TRUE(Com->Active());
    }
    void TearDown() override {
        Com.reset();
        EXPECT_TRUE(AllPortThreadsEnded());
    }

    // Sends bytes from the far end and waits until the port has handed them over.
    void Arrive(const QByteArray& bytes) {
        const std::uint32_t target = Received + static_cast<std::uint32_t>(bytes.size());
        Pty.Write(bytes);
        ASSERT_TRUE(WaitUntil([&] { return Received >= target; })) << bytes.toHex().constData();
    }
    // What reached the far end so far (waits for `count` bytes at most 2 s).
    QByteArray Sent(int count) { return Pty.Read(count); }

    TPtyPair Pty;
    std::unique_ptr<TnrComm> Com;
    std::uint32_t Received = 0;
};

} // namespace

TEST_F(Terminal, TypedCharactersAreSentAndReachTheEditOnlyWithEcho) {
    QLineEdit edit;
    Com->SetTerminal(&edit);
    Com->SetTerminalUsage(tuSend);

    QTest::keyClicks(&edit, QStringLiteral("AB"));
    EXPECT_EQ(Sent(2), QByteArray("AB"));
    EXPECT_EQ(edit.text(), QString()); // without echo the edit never sees them
    EXPECT_EQ(Com->TotalSent(), 2u);

    Com->SetTerminalEcho(true);
    QTest::keyClick(&edit, 'x');
    // é goes out as its code-page byte.
    QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_Eacute, QStringLiteral("\u00e9"), Qt::NoModifier);
    EXPECT_EQ(Sent(2), QByteArray("x\xe9"));
    EXPECT_EQ(edit.text(), QStringLiteral("x\u00e9"));

    // Keys that produce no character edit the text without being sent; the marker that
    // follows is the next byte on the line.
    QTest::keyClick(&edit, Qt::Key_Left);
    // Some platforms give Delete the text DEL.
    QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_Delete, QString(QChar(0x7f)), Qt::NoModifier);
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClick(&edit, 'M');
    EXPECT_EQ(Sent(1), QByteArray("M"));
    EXPECT_EQ(edit.text(), QStringLiteral("Mx"));

    // Backspace and Return are characters: BS and CR.
    QTest::keyClick(&edit, Qt::Key_End);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(Sent(2), QByteArray("\b\r"));
    EXPECT_EQ(edit.text(), QStringLiteral("M"));
}

TEST_F(Terminal, ReceiveOnlyUsageLeavesTypingToTheEdit) {
    for (TTerminalUsage usage : {tuReceive, tuNone}) {
        QLineEdit edit;
        Com->SetTerminal(&edit);
        Com->SetTerminalUsage(usage);
        QTest::keyClicks(&edit, QStringLiteral("typed"));
        EXPECT_EQ(edit.text(), QStringLiteral("typed"));
        Com->SetTerminal(nullptr);
    }
    EXPECT_EQ(Com->TotalSent(), 0u);
    EXPECT_EQ(Pty.Read(1, std::chrono::milliseconds(100)), QByteArray());
}

TEST_F(Terminal, OneByteChunksActAsKeyPresses) {
    QPlainTextEdit edit;
    Com->SetTerminal(&edit);
    Com->SetTerminalUsage(tuReceive);

    for (char c : QByteArray("ABC"))
        Arrive(QByteArray(1, c));
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("ABC"));
    Arrive("\b"); // deletes the character before the caret
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("AB"));
    Arrive("\r"); // a new line in a multi-line edit
    Arrive("\xe9");
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("AB\n\u00e9"));

    QLineEdit line;
    Com->SetTerminal(&line);
    for (char c : QByteArray("xy\b\rz"))
        Arrive(QByteArray(1, c));
    EXPECT_EQ(line.text(), QStringLiteral("xz")); // a single-line edit has no line break
}

TEST_F(Terminal, LongerChunksAreInsertedAtTheCaretSplitAtZeroBytes) {
    QLineEdit line;
    line.setText(QStringLiteral("[]"));
    line.setCursorPosition(1);
    Com->SetTerminal(&line);
    Com->SetTerminalUsage(tuBoth);
    Arrive(QByteArray("AB\0\0CD", 6));
    EXPECT_EQ(line.text(), QStringLiteral("[ABCD]"));
    Arrive(QByteArray("\0XY", 3));
    Arrive(QByteArray("Q\bR", 3)); // a backspace inside a chunk is a character
    EXPECT_EQ(line.text(), QStringLiteral("[ABCDXYQ\bR]"));

    QPlainTextEdit plain;
    Com->SetTerminal(&plain);
    Arrive("$GPGGA,1*5A\r\n$GPRMC,2*0B\r\n");
    Arrive("caf\xe9!");
    EXPECT_EQ(plain.toPlainText(), QStringLiteral("$GPGGA,1*5A\n$GPRMC,2*0B\ncaf\u00e9!"));

    // A CR LF pair split between two chunks (or by a zero byte) is still one line break.
    plain.clear();
    Arrive("one\r");
    Arrive("\ntwo\r");
    Arrive(QByteArray("\0\nthree", 7));
    Arrive("\r");
    Arrive("\n");
    Arrive("four\n\n");
    EXPECT_EQ(plain.toPlainText(), QStringLiteral("one\ntwo\nthree\nfour\n\n"));

    QTextEdit rich;
    Com->SetTerminal(&rich);
    Arrive("<b>not bold</b>\r\nnext");
    EXPECT_EQ(rich.toPlainText(), QStringLiteral("<b>not bold</b>\nnext"));
}

TEST_F(Terminal, SendOnlyUsageShowsNothingReceived) {
    QLineEdit edit;
    Com->SetTerminal(&edit);
    Com->SetTerminalUsage(tuSend);
    Arrive("hidden");
    Arrive("h");
    EXPECT_EQ(edit.text(), QString());

    Com->SetTerminalUsage(tuReceive); // the usage decides at each chunk
    Arrive("shown");
    EXPECT_EQ(edit.text(), QStringLiteral("shown"));
}

TEST_F(Terminal, ReceivedTextNeverGoesBackOut) {
    QPlainTextEdit edit;
    Com->SetTerminal(&edit);
    Com->SetTerminalUsage(tuBoth);
    Com->SetTerminalEcho(true);
    Arrive("K");                 // a key press for the edit, not for the port
    Arrive(QByteArray("LM", 2)); // inserted text
    QTest::keyClick(&edit, 'T');
    // Had K, L or M been sent back, they would be on the line before T.
    EXPECT_EQ(Sent(1), QByteArray("T"));
    EXPECT_EQ(Com->TotalSent(), 1u);
    EXPECT_EQ(edit.toPlainText(), QStringLiteral("KLMT"));
}

TEST_F(Terminal, LinkingAnotherEditGivesTheFirstOneItsKeysBack) {
    QLineEdit first, second;
    Com->SetTerminal(&first);
    Com->SetTerminalUsage(tuSend);
    Com->SetTerminal(&second);
    EXPECT_EQ(Com->TerminalUsage(), tuSend);

    QTest::keyClicks(&first, QStringLiteral("own"));
    EXPECT_EQ(first.text(), QStringLiteral("own"));
    QTest::keyClick(&second, 'S');
    EXPECT_EQ(Sent(1), QByteArray("S"));
    EXPECT_EQ(second.text(), QString());

    Com->SetTerminal(nullptr);
    QTest::keyClick(&second, 'n');
    EXPECT_EQ(second.text(), QStringLiteral("n"));
    EXPECT_EQ(Com->TotalSent(), 1u);
}

TEST_F(Terminal, AnEditDestroyedFirstIsUnlinkedAndReceivingGoesOn) {
    auto* edit = new QPlainTextEdit;
    Com->SetTerminal(edit);
    Com->SetTerminalUsage(tuReceive);
    Arrive("before");
    delete edit;
    EXPECT_EQ(Com->Terminal(), nullptr);
    Arrive("after");
    EXPECT_EQ(Received, 11u);
}

TEST_F(Terminal, DestroyingThePortGivesTheEditItsKeysBack) {
    QLineEdit edit;
    Com->SetTerminal(&edit);
    Com->SetTerminalUsage(tuSend);
    Com.reset();
    QTest::keyClicks(&edit, QStringLiteral("mine"));
    EXPECT_EQ(edit.text(), QStringLiteral("mine"));
}

// With UseMainThread false the port delivers on its message thread; the edit must still
// be written on the user-interface thread, every byte in order.
TEST(TerminalThreads, ChunksDeliveredOnTheMessageThreadReachTheEditInOrder) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("COM222 = ") + pty.SlavePath()});
    QPlainTextEdit edit;
    auto com = std::make_unique<TnrComm>();
    com->SetComPortNo(222);
    com->SetUseMainThread(false);
    com->SetTerminal(&edit);
    com->SetTerminalUsage(tuReceive);
    com->SetActive(true);
    ASSERT_TRUE(com->Active());
    std::atomic<int> changesOffThread{0};
    QObject::connect(edit.document(), &QTextDocument::contentsChanged, [&] {
        if (!IsMainThread()) ++changesOffThread;
    });

    QString expected;
    for (int i = 0; i < 300; ++i) {
        const QByteArray line = "$GPGSV," + QByteArray::number(i) + ",0*00\r\n";
        pty.Write(line);
        expected += QString::fromLatin1(line.chopped(2)) + QLatin1Char('\n');
    }
    ASSERT_TRUE(WaitUntil([&] { return edit.toPlainText() == expected; }, std::chrono::seconds(10)))
        << edit.toPlainText().size() << " of " << expected.size() << " characters";
    EXPECT_EQ(changesOffThread.load(), 0);

    com.reset();
    EXPECT_TRUE(AllPortThreadsEnded());
}

// Destroying the open component while its message thread writes chunks to the terminal
// never lets the thread reach the unlinked terminal (the race checker run watches this).
TEST(TerminalThreads, DestroyingThePortWhileChunksFloodInIsClean) {
    for (int round = 0; round < 10; ++round) {
        TPtyPair pty;
        TTestEnvironment::WritePortMap({QStringLiteral("COM223 = ") + pty.SlavePath()});
        QPlainTextEdit edit;
        auto com = std::make_unique<TnrComm>();
        com->SetComPortNo(223);
        com->SetUseMainThread(false);
        com->SetTerminal(&edit);
        com->SetTerminalUsage(tuReceive);
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        // Non-blocking: once the port is gone nobody reads what the flood writes.
        ASSERT_EQ(fcntl(pty.MasterFd(), F_SETFL, O_NONBLOCK), 0);
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            static const char line[] = "$GPGLL,flood*00\r\n";
            while (!stop)
                if (::write(pty.MasterFd(), line, sizeof line - 1) < 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
        ASSERT_TRUE(WaitUntil([&] { return !edit.toPlainText().isEmpty(); }));
        com.reset();
        stop = true;
        flood.join();
        ProcessEventsFor(std::chrono::milliseconds(5)); // chunks still queued for the edit
    }
    EXPECT_TRUE(AllPortThreadsEnded());
}
