// The data processor: attaching to a port, the chain for received data, itTerminal, the
// send path with its completion timer, the open/close notices and its fatal-error path.
#include "nrdataprocessor.h"
#include "testenv.h"
#include "testio.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

namespace {

class TRecordingProcessor : public TnrCustomDataProcessor {
public:
    TRecordingProcessor(QStringList* journal, QString name, bool hideFromTerminal = false)
        : fJournal(journal), fName(std::move(name)), fHide(hideFromTerminal) {}
    void DoProcessing(const std::uint8_t* Data, std::uint32_t Len, TIgnoreTypes& R) override {
        fJournal->append(fName + QLatin1Char(':') + QString::fromLatin1(reinterpret_cast<const char*>(Data), Len));
        if (fHide)
            R.Include(itTerminal);
        TnrCustomDataProcessor::DoProcessing(Data, Len, R);
    }
    void DoAfterSendComplete(bool& flIgnore) override {
        ++completions;
        flIgnore = ignoreAfterSend;
    }
    using TnrCustomDataProcessor::AttachLog;
    int completions = 0;
    bool ignoreAfterSend = false;

private:
    QStringList* fJournal;
    QString fName;
    bool fHide;
};

} // namespace

TEST(DataProcessor, ReceivedBlocksPassTheChainBeforeTerminalAndReceiveEvent) {
    QStringList journal;
    TTestIO io;
    TRecordingProcessor first(&journal, "first", /*hideFromTerminal=*/true), second(&journal, "second");
    QPlainTextEdit terminal;
    io.SetTerminal(&terminal);
    io.SetTerminalUsage(tuReceive);
    io.OnAfterReceive = [&](QObject*, const std::uint8_t* data, std::uint32_t n) {
        journal.append(QStringLiteral("receive:") + QString::fromLatin1(reinterpret_cast<const char*>(data), n));
    };
    io.SetDataProcessor(&first);
    first.SetNextProcessor(&second);
    first.SetNextProcessor(&first); // linking to itself is ignored
    EXPECT_EQ(first.NextProcessor(), &second);
    EXPECT_EQ(second.Device(), &io); // the linked processor is attached to the same port

    const QByteArray block = "$GPGGA";
    io.DoReceived(reinterpret_cast<const std::uint8_t*>(block.constData()), block.size());
    EXPECT_EQ(journal, (QStringList{"first:$GPGGA", "second:$GPGGA", "receive:$GPGGA"}));
    EXPECT_TRUE(terminal.toPlainText().isEmpty()); // itTerminal keeps it from the terminal only

    first.SetNextProcessor(nullptr);
    TRecordingProcessor shows(&journal, "shows");
    io.SetDataProcessor(&shows);
    io.DoReceived(reinterpret_cast<const std::uint8_t*>(block.constData()), block.size());
    EXPECT_EQ(terminal.toPlainText(), QStringLiteral("$GPGGA"));
}

TEST(DataProcessor, OpenAndCloseNoticesReachEveryAttachedProcessorOnce) {
    QStringList journal;
    TTestIO io;
    TnrLogFile log;
    TRecordingProcessor a(&journal, "a"), b(&journal, "b");
    a.AttachLog(&log);
    b.AttachLog(&log);
    a.AttachDevice(&io);
    a.AttachDevice(&io); // registering twice has no effect
    b.AttachDevice(&io);
    io.DoNotify(NOTIFY_OPENED);
    io.DoNotify(NOTIFY_CLOSED);
    io.DoNotify(NOTIFY_DEVICE_CHANGED); // ignored
    QStringList texts;
    for (const QString& line : log.Lines())
        texts.append(line.section(QLatin1Char(' '), 2));
    EXPECT_EQ(texts, (QStringList{"Medium Opened", "Medium Opened", "Medium Closed", "Medium Closed"}));

    a.AttachDevice(nullptr);
    io.DoNotify(NOTIFY_OPENED);
    EXPECT_EQ(log.Lines().size(), 5); // only b hears it now
}

TEST(DataProcessor, DestroyingEitherSideClearsTheLinks) {
    QStringList journal;
    auto* io = new TTestIO;
    auto* processor = new TRecordingProcessor(&journal, "p");
    io->SetDataProcessor(processor);
    delete processor;
    EXPECT_EQ(io->DataProcessor(), nullptr);
    const std::uint8_t byte = 'x';
    io->DoReceived(&byte, 1);
    EXPECT_TRUE(journal.isEmpty());

    TRecordingProcessor survivor(&journal, "s");
    io->SetDataProcessor(&survivor);
    delete io;
    EXPECT_EQ(survivor.Device(), nullptr);
}

TEST(DataProcessor, SendBlockGoesToThePortUnlessAHandlerTakesIt) {
    QStringList journal;
    TTestIO io;
    TnrLogFile log;
    TRecordingProcessor p(&journal, "p");
    p.AttachLog(&log);
    int handlerCalls = 0;
    p.OnDataSend = [&](QObject*, const std::uint8_t*, std::uint32_t, bool synchro, bool& handled) {
        ++handlerCalls;
        EXPECT_FALSE(synchro);
        handled = false;
    };
    const QByteArray block = "ABC";
    p.SendBlock(nullptr, 3);
    p.SendBlock(reinterpret_cast<const std::uint8_t*>(block.constData()), 0);
    EXPECT_EQ(handlerCalls, 0);
    p.SendBlock(reinterpret_cast<const std::uint8_t*>(block.constData()), 3); // no port: not sent, not logged
    EXPECT_TRUE(log.Lines().isEmpty());

    io.SetDataProcessor(&p);
    p.SendBlock(reinterpret_cast<const std::uint8_t*>(block.constData()), 3);
    EXPECT_EQ(io.sent, QByteArray("ABC"));
    ASSERT_EQ(log.Lines().size(), 1);
    EXPECT_TRUE(log.Lines()[0].endsWith(QStringLiteral("DoDataSend: 3 bytes")));

    p.OnDataSend = [](QObject*, const std::uint8_t*, std::uint32_t, bool, bool&) { throw std::runtime_error("x"); };
    EXPECT_NO_THROW(p.SendBlock(reinterpret_cast<const std::uint8_t*>(block.constData()), 3));
    EXPECT_NO_THROW(p.SendText("hello"));
}

TEST(DataProcessor, HandledSendsRestartTheCompletionTimer) {
    QStringList journal;
    TRecordingProcessor p(&journal, "p");
    p.StartSendTimer(150);
    p.StartSendTimer(0); // stops a pending completion without completing
    ProcessEventsFor(std::chrono::milliseconds(300));
    EXPECT_EQ(p.completions, 0);

    p.OnDataSend = [](QObject*, const std::uint8_t*, std::uint32_t, bool, bool& handled) { handled = true; };
    p.StartSendTimer(150);
    p.StartSendTimer(0);
    // StartSendTimer(150) left the interval at 150 ms for the send path.
    const std::uint8_t b = 1;
    QElapsedTimer clock;
    clock.start();
    p.SendBlock(&b, 1);
    ProcessEventsFor(std::chrono::milliseconds(80));
    p.SendBlock(&b, 1); // restarts: one completion, one interval after this block
    const qint64 second = clock.elapsed();
    ASSERT_TRUE(WaitUntil([&] { return p.completions > 0; }, std::chrono::seconds(2)));
    EXPECT_GE(clock.elapsed() - second, 140);
    ProcessEventsFor(std::chrono::milliseconds(350));
    EXPECT_EQ(p.completions, 1); // the timer fires once per restart
}

TEST(DataProcessor, FatalErrorsLogWithoutPrefixAndRaiseUnlessCleared) {
    QStringList journal;
    TRecordingProcessor p(&journal, "p");
    TnrLogFile log;
    p.AttachLog(&log);
    EXPECT_THROW(p.DoFatalErrors(4, 2, QStringLiteral("framing lost")), ENrException);
    ASSERT_EQ(log.Lines().size(), 1);
    EXPECT_TRUE(log.Lines()[0].endsWith(QStringLiteral(" Fatal Error: 4, 2, framing lost")));
    p.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) { raise = false; };
    EXPECT_NO_THROW(p.DoFatalErrors(4, 2, QStringLiteral("again")));
}
