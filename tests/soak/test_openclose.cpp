// Soak: the GPS port closed and opened again over and over while both channels receive.
//
// Each cycle goes the way a user or the program does it: mostly a close and an open as
// the close button and the start-up do them, every tenth cycle the settings dialog's OK,
// which closes and reopens an open channel. Afterwards the process must have exactly the
// threads and descriptors it had before the cycles. The AIS channel, never closed, must
// show every byte sent to it. The GPS channel must show what it was sent in order and
// unaltered; only bytes waiting in the terminal when its port closed may be missing
// (a pseudo-terminal, like many serial drivers, drops its input queue when the last
// reader closes it), so the copy may have one gap per close and no more.
#include "VrLeds.h"
#include "glyphbutton.h"
#include "monitortestkit.h"
#include "nrcommthreads.h"
#include "soakkit.h"

#include <QTest>
#include <QToolButton>
#include <cstdio>

namespace {

// Both channels' bytes per second: enough for lines to arrive in every cycle, little
// enough that a long soak keeps its panes small.
constexpr std::uint64_t kFeedRate = 300'000;

class SoakOpenClose : public MonitorWindowTest {
protected:
    void SetUp() override {
        MonitorWindowTest::SetUp();
        KeepToolkitWorkerThreads();
    }
};

} // namespace

// The verdict of the soak below rests on this: drops are told from damage.
TEST(SoakKit, GapsInCopyToleratesDropsButNotDamage) {
    const QByteArray sent = NumberedSentences(200);
    EXPECT_EQ(GapsInCopy(sent, sent), 0);
    EXPECT_EQ(GapsInCopy(sent.left(1000), sent), 0);
    const QByteArray twoDrops = sent.left(500) + sent.mid(530, 1000) + sent.mid(1700);
    EXPECT_EQ(GapsInCopy(twoDrops, sent), 2);
    // A drop may join the two ends of different sentence numbers.
    const qsizetype inNumber = sent.indexOf("SOAK 0000010") + 8;
    EXPECT_EQ(GapsInCopy(sent.left(inNumber) + sent.mid(inNumber + 40), sent), 1);
    QByteArray altered = sent;
    altered[900] = 'x';
    EXPECT_EQ(GapsInCopy(altered, sent), -1);
    EXPECT_EQ(GapsInCopy(sent.left(1200) + sent.mid(1000, 400) + sent.mid(1200), sent), -1);      // repeated
    EXPECT_EQ(GapsInCopy(sent.left(1000) + sent.mid(1500, 300) + sent.mid(1000, 500), sent), -1); // moved
}

TEST_F(SoakOpenClose, CyclesWhileDataFlowsLoseNothingAndLeaveThreadsAndDescriptorsAsBefore) {
    const int cycles = SoakSize("BRISEMER_SOAK_CYCLES", 40);
    // Numbered sentences, so that the received copy can be placed in what was sent.
    const QByteArray gpsStream = NumberedSentences(1'000'000);
    const QByteArray aisWire = RecordingOnTheWire(QStringLiteral("sample.aivdm"));
    ASSERT_FALSE(aisWire.isEmpty());

    StartWithBothPorts();
    TForm1& f = *form1;
    ASSERT_EQ(f.Memo1->LineCount(), 0); // emptied at start-up: the settings file exists
    TPtyFeeder gpsFeed(gps, gpsStream, kFeedRate);
    TPtyFeeder aisFeed(ais, aisWire, kFeedRate);
    TModalScript script;

    int closes = 0;
    int dialogCycles = 0;
    auto cycle = [&](int i) {
        ++closes;
        if (i % 10 == 9) {
            // OK on an open channel closes its port and opens it again.
            ++dialogCycles;
            script.Then<TForm3>([](TForm3* d) { QTest::mouseClick(d->BtnOK, Qt::LeftButton); });
            QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
            ASSERT_TRUE(script.Done()) << "cycle " << i << ": the settings dialog did not come";
            // Closed and opened again: the lamps show it open.
            ASSERT_TRUE(f.VrLedOnGPS->Active() && !f.VrLedOffGPS->Active()) << "cycle " << i;
        } else {
            f.nrComm1->SetActive(false);
            ASSERT_FALSE(f.nrComm1->Active()) << "cycle " << i;
            ASSERT_TRUE(f.VrLedOffGPS->Active()) << "cycle " << i;
            ASSERT_FALSE(f.VrLedOnGPS->Active()) << "cycle " << i;
            f.nrComm1->SetActive(true);
            f.nrComm1PortOpen(&f);
            ASSERT_TRUE(f.VrLedOnGPS->Active()) << "cycle " << i;
        }
        ASSERT_TRUE(f.nrComm1->Active()) << "cycle " << i << ": " << f.nrComm1->LastError().toStdString();
        // Bytes flow on the reopened port (the count starts again at every open).
        ASSERT_TRUE(WaitUntil([&] { return f.nrComm1->TotalReceived() > 0; }))
            << "cycle " << i << ": nothing received after reopening";
    };

    // Warm-up: whatever the toolkit and the dialog make once exists before counting.
    for (int i = 0; i < 10; ++i) {
        cycle(i);
        if (HasFatalFailure()) return;
    }
    const TProcessResources before = CountWithGpsPortClosed(f);
    ++closes;
    ASSERT_TRUE(f.nrComm1->Active());
    dialogCycles = 0;

    for (int i = 0; i < cycles; ++i) {
        cycle(i);
        if (HasFatalFailure()) return;
    }

    const TProcessResources after = CountWithGpsPortClosed(f);
    ++closes;
    // Bytes written while the port was closed may be dropped: let some come after it.
    const std::uint64_t writtenAtReopen = gpsFeed.Written();
    ASSERT_TRUE(WaitUntil(
        [&] { return gpsFeed.Written() > writtenAtReopen + 4096 && f.nrComm1->TotalReceived() > 0; }));
    EXPECT_EQ(after.Threads, before.Threads) << ThreadDifference(before, after).toStdString();
    EXPECT_EQ(after.Descriptors, before.Descriptors)
        << "left open: " << DescriptorDifference(before, after).toStdString();
    EXPECT_GT(dialogCycles, 0);

    gpsFeed.Stop();
    aisFeed.Stop();
    EXPECT_EQ(gpsFeed.Error(), 0);
    EXPECT_EQ(aisFeed.Error(), 0);
    ExpectEverythingShown("AIS", f.Memo2, f.PendingAIS(), aisFeed.Sent());

    const QByteArray gpsSent = gpsFeed.Sent();
    ASSERT_LT(gpsSent.size(), gpsStream.size()) << "the numbered sentences ran out: make the stream longer";
    // Bytes sent after the last reopening all arrive.
    const QByteArray tail = gpsSent.right(64);
    ASSERT_TRUE(WaitUntil(
        [&] { return ReceivedBytes(f.Memo1->SaveBytes(), f.PendingGPS().PendingBytes()).endsWith(tail); },
        std::chrono::seconds(60)))
        << "the last GPS bytes did not arrive: \"" << tail.toStdString() << "\"";
    const QByteArray gpsReceived = ReceivedBytes(f.Memo1->SaveBytes(), f.PendingGPS().PendingBytes());
    QString damage;
    const int gaps = GapsInCopy(gpsReceived, gpsSent, &damage);
    EXPECT_GE(gaps, 0) << "GPS bytes were altered, repeated or moved: " << damage.toStdString();
    EXPECT_LE(gaps, closes) << "GPS bytes went missing while the port was open";
    EXPECT_TRUE(f.nrComm2->Active());
    EXPECT_TRUE(errors.texts.isEmpty()) << errors.texts.join('\n').toStdString();

    std::printf(
        "[soak] open/close: %d cycles (%d through the settings dialog); threads %d before, %d after; "
        "descriptors %d before, %d after; AIS bytes compared %llu; GPS %lld bytes received of %lld sent, "
        "in order, with %d gaps in %d closes\n",
        cycles, dialogCycles, before.Threads, after.Threads, before.Descriptors, after.Descriptors,
        static_cast<unsigned long long>(aisFeed.Written()), static_cast<long long>(gpsReceived.size()),
        static_cast<long long>(gpsSent.size()), gaps, closes);
}
