// Data processors attached to a real port: received chunks pass the chain before the
// terminal and OnAfterReceive, blocks go out through the port, the end of a send comes
// from the port's transmit-empty event.

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrdataprocessor.h"
#include "ptypair.h"
#include "testenv.h"

#include <QPlainTextEdit>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

class TJournalProcessor : public TnrCustomDataProcessor {
public:
    TJournalProcessor(QStringList* journal, QString name, bool hideFromTerminal = false)
        : fJournal(journal), fName(std::move(name)), fHide(hideFromTerminal) {}
    void DoProcessing(const std::uint8_t* Data, std::uint32_t Len, TIgnoreTypes& R) override {
        fJournal->append(fName + QLatin1Char(':') +
                         QString::fromLatin1(reinterpret_cast<const char*>(Data), Len));
        if (!IsMainThread()) fJournal->append(QStringLiteral("off the user-interface thread"));
        if (fHide) R.Include(itTerminal);
        TnrCustomDataProcessor::DoProcessing(Data, Len, R);
    }
    void DoAfterSendComplete(bool& flIgnore) override {
        ++Completions;
        flIgnore = IgnoreAfterSend;
    }
    int Completions = 0;
    bool IgnoreAfterSend = false;

private:
    QStringList* fJournal;
    QString fName;
    bool fHide;
};

class ProcessorOnPty : public testing::Test {
protected:
    void SetUp() override {
        TTestEnvironment::WritePortMap({QStringLiteral("COM251 = ") + Pty.SlavePath()});
        Com.SetComPortNo(251);
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
    }

    TPtyPair Pty;
    QStringList Journal;
    TnrComm Com;
};

} // namespace

TEST_F(ProcessorOnPty, ReceivedChunksPassTheChainThenTheTerminalThenOnAfterReceive) {
    TJournalProcessor first(&Journal, QStringLiteral("first"), /*hideFromTerminal=*/true);
    TJournalProcessor second(&Journal, QStringLiteral("second"));
    QPlainTextEdit terminal;
    Com.SetTerminal(&terminal);
    Com.SetTerminalUsage(tuReceive);
    Com.OnAfterReceive = [&](QObject*, const std::uint8_t* data, std::uint32_t n) {
        Journal << QStringLiteral("receive:") + QString::fromLatin1(reinterpret_cast<const char*>(data), n);
    };
    Com.SetDataProcessor(&first);
    first.SetNextProcessor(&second);
    Com.SetActive(true);
    ASSERT_TRUE(Com.Active());

    Pty.Write("$GPGLL,1*00\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Journal.size() >= 3; }));
    EXPECT_EQ(Journal,
              (QStringList{"first:$GPGLL,1*00\r\n", "second:$GPGLL,1*00\r\n", "receive:$GPGLL,1*00\r\n"}));
    EXPECT_EQ(terminal.toPlainText(), QString()); // itTerminal keeps it from the terminal only

    TJournalProcessor shows(&Journal, QStringLiteral("shows"));
    Com.SetDataProcessor(&shows);
    Journal.clear();
    Pty.Write("$GPGLL,2*00\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Journal.size() >= 2; }));
    EXPECT_EQ(Journal, (QStringList{"shows:$GPGLL,2*00\r\n", "receive:$GPGLL,2*00\r\n"}));
    EXPECT_EQ(terminal.toPlainText(), QStringLiteral("$GPGLL,2*00\n"));
}

TEST_F(ProcessorOnPty, BlocksAndTextGoOutThroughThePortUnlessAHandlerTakesThem) {
    TJournalProcessor processor(&Journal, QStringLiteral("p"));
    Com.SetDataProcessor(&processor);
    Com.SetActive(true);
    ASSERT_TRUE(Com.Active());

    // A block larger than the pseudo-terminal's buffer: SendBlock returns once the port
    // has flushed it, so nothing is left queued in the component by then.
    QByteArray block(200 * 1024, '\0');
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7);
    std::atomic<bool> drained{false};
    QByteArray got;
    std::thread reader([&] {
        got = Pty.Read(static_cast<int>(block.size()) + 4, std::chrono::seconds(20));
        drained = true;
    });
    processor.SendBlock(reinterpret_cast<const std::uint8_t*>(block.constData()),
                        static_cast<std::uint32_t>(block.size()));
    const std::uint32_t leftAfterSendBlock = Com.NotYetSend();
    processor.SendText("text");
    reader.join();
    EXPECT_EQ(leftAfterSendBlock, 0u);
    EXPECT_TRUE(got == block + "text");
    EXPECT_EQ(Com.TotalSent(), block.size() + 4);

    int offered = 0;
    processor.OnDataSend = [&](QObject* sender, const std::uint8_t*, std::uint32_t, bool, bool& handled) {
        EXPECT_EQ(sender, &processor);
        ++offered;
        handled = true;
    };
    processor.SendText("taken");
    processor.SendBlock(reinterpret_cast<const std::uint8_t*>("taken"), 5);
    processor.StartSendTimer(0); // no completion for the handled block in this test
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(Pty.Read(1, std::chrono::milliseconds(100)), QByteArray());
    EXPECT_EQ(Com.TotalSent(), block.size() + 4);
}

TEST(ProcessorOnFake, TheEndOfASendReachesTheProcessorWhichMayHideItFromTheOwner) {
    TFakePort port;
    QStringList journal;
    TJournalProcessor processor(&journal, QStringLiteral("p"));
    TnrComm com;
    int afterSend = 0;
    com.OnAfterSend = [&](QObject*) { ++afterSend; };
    com.SetTraceStates({tsTxEmpty});
    com.SetDataProcessor(&processor);
    com.SetExtHandle(port.Handle);
    ASSERT_TRUE(com.Active());

    processor.IgnoreAfterSend = true;
    com.SendChar(u'1');
    ASSERT_TRUE(WaitUntil([&] { return processor.Completions == 1; }));
    ProcessEventsFor(std::chrono::milliseconds(20));
    EXPECT_EQ(afterSend, 0);

    processor.IgnoreAfterSend = false;
    com.SendChar(u'2');
    ASSERT_TRUE(WaitUntil([&] { return afterSend == 1; }));
    EXPECT_EQ(processor.Completions, 2);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}
