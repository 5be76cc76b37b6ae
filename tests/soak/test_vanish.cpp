// Soak: the GPS device vanishes over and over while data flows, the way a USB adapter is
// pulled or a device server drops the line: the pseudo-terminal's master side closes under
// the open port, or the replay tool hangs its device up and makes a new one.
//
// Every time, the channel's "Off" LED must light (the port closed itself, on the
// user-interface thread), no error box may appear, and the port must be offered again in
// the settings dialog and open again once its device is back, picked by the user or, for
// a device behind a link named in the map, by itself when the link is made again. The
// AIS channel runs on throughout and must show every byte sent to it.
#include "VrLeds.h"
#include "glyphbutton.h"
#include "monitortestkit.h"
#include "nrcommbox.h"
#include "nrcommthreads.h"
#include "replayprocess.h"
#include "soakkit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <cstdio>

namespace {

constexpr std::uint64_t kFeedRate = 300'000;
const QString kGpsRecording = QStringLiteral("telit-he910.log");
const QString kAisRecording = QStringLiteral("sample.aivdm");

// Answers any message box that opens (none should) and keeps its text.
class TMessageBoxCatcher : public QObject {
public:
    TMessageBoxCatcher() {
        fTimer.setInterval(20);
        QObject::connect(&fTimer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Texts << box->text();
                box->reject();
            }
        });
        fTimer.start();
    }
    QStringList Texts;

private:
    QTimer fTimer;
};

class SoakVanish : public MonitorWindowTest {
protected:
    TModalScript script;
    TMessageBoxCatcher boxes;

    void SetUp() override {
        MonitorWindowTest::SetUp();
        KeepToolkitWorkerThreads();
    }

    // Picks the port in the GPS settings dialog and confirms, as the user does once the
    // device is back; then opens it the way the start-up opens a channel's port.
    void SelectAndOpenAgain(int cycle) {
        TForm1& f = *form1;
        QStringList offered;
        script.Then<TForm3>([&](TForm3* d) {
            for (int i = 0; i < d->nrDeviceBox1->count(); ++i)
                offered << d->nrDeviceBox1->itemText(i);
            const int entry = d->nrDeviceBox1->findText(QStringLiteral("COM201"));
            if (entry >= 0) {
                d->nrDeviceBox1->setCurrentIndex(entry);
                emit d->nrDeviceBox1->activated(entry);
            }
            QTest::mouseClick(d->BtnOK, Qt::LeftButton);
        });
        QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
        ASSERT_TRUE(script.Done()) << "cycle " << cycle << ": the settings dialog did not come";
        ASSERT_TRUE(offered.contains(QStringLiteral("COM201")))
            << "cycle " << cycle << ": offered " << offered.join(' ').toStdString();
        ASSERT_EQ(f.nrComm1->ComPortNo(), 201) << "cycle " << cycle;
        ASSERT_EQ(f.Com1Rec.RComNumber, 201) << "cycle " << cycle;
        ASSERT_TRUE(boxes.Texts.isEmpty())
            << "cycle " << cycle << ": " << boxes.Texts.join('\n').toStdString();

        f.nrComm1->SetActive(f.nrComm1->ComPortNo() != 0);
        f.nrComm1PortOpen(&f);
        ASSERT_TRUE(f.nrComm1->Active())
            << "cycle " << cycle << ": reopening failed: " << f.nrComm1->LastError().toStdString();
        ASSERT_TRUE(f.VrLedOnGPS->Active() && !f.VrLedOffGPS->Active()) << "cycle " << cycle;
    }

    // The GPS port closed itself and its "Off" LED lit, without a word to the user.
    void ExpectClosedByVanishing(int cycle) {
        TForm1& f = *form1;
        ASSERT_TRUE(WaitUntil([&] { return !f.nrComm1->Active() && f.VrLedOffGPS->Active(); },
                              std::chrono::seconds(10)))
            << "cycle " << cycle << ": the port did not close when its device vanished";
        EXPECT_FALSE(f.VrLedOnGPS->Active()) << "cycle " << cycle;
        // The number stays: the device may come back under the same name.
        EXPECT_EQ(f.nrComm1->ComPortNo(), 201) << "cycle " << cycle;
        EXPECT_TRUE(errors.texts.isEmpty())
            << "cycle " << cycle << ": " << errors.texts.join('\n').toStdString();
        EXPECT_TRUE(boxes.Texts.isEmpty())
            << "cycle " << cycle << ": " << boxes.Texts.join('\n').toStdString();
    }

    void ExpectAisUntouched(TPtyFeeder& aisFeed) {
        TForm1& f = *form1;
        EXPECT_TRUE(f.nrComm2->Active());
        EXPECT_FALSE(f.VrLedOffAIS->Active());
        aisFeed.Stop();
        ExpectEverythingShown("AIS", f.Memo2, f.PendingAIS(), aisFeed.Sent());
    }

    void MapPorts(const TPtyPair& gpsDevice) {
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + gpsDevice.SlavePath(),
                                        QStringLiteral("COM202 = ") + ais.SlavePath()});
    }
};

int CountLines(TReplayProcess& replay, const QString& prefix) {
    // Takes the lines the event loop has read so far, without waiting.
    replay.WaitFor([](const QString&) { return false; }, std::chrono::milliseconds(0));
    int count = 0;
    for (const QString& line : replay.Lines())
        if (line.startsWith(prefix)) ++count;
    return count;
}

} // namespace

TEST_F(SoakVanish, MasterSideClosedWhileDataFlows) {
    const int vanishings = SoakSize("BRISEMER_SOAK_VANISHINGS", 5);
    const QByteArray gpsWire = RecordingOnTheWire(kGpsRecording);
    ASSERT_FALSE(gpsWire.isEmpty());
    auto device = std::make_unique<TPtyPair>();
    MapPorts(*device);
    StartWithBothPorts();
    TForm1& f = *form1;
    TPtyFeeder aisFeed(ais, RecordingOnTheWire(kAisRecording), kFeedRate);
    // Counted after the first cycles: what the toolkit makes once for the dialog exists by then.
    const int warmUp = std::min(2, vanishings - 1);
    TProcessResources before;

    std::uint64_t gpsBytes = 0;
    for (int i = 0; i < vanishings; ++i) {
        if (i == warmUp) before = CountWithGpsPortClosed(f);
        const qsizetype linesBefore = f.Memo1->LineCount();
        {
            // Closed in the middle of a line, at a different place each time.
            TPtyFeeder feed(*device, gpsWire, kFeedRate, 20'000 + 1'237 * static_cast<std::uint64_t>(i % 40));
            ASSERT_TRUE(WaitUntil([&] { return feed.Vanished(); }, std::chrono::seconds(30)))
                << "cycle " << i << ": the feeder wrote only " << feed.Written() << " bytes";
            gpsBytes += feed.Written();
            ExpectClosedByVanishing(i);
            if (HasFatalFailure()) return;
        }
        EXPECT_GT(f.Memo1->LineCount(), linesBefore)
            << "cycle " << i << ": no line arrived before the device went";

        device = std::make_unique<TPtyPair>();
        MapPorts(*device);
        SelectAndOpenAgain(i);
        if (HasFatalFailure()) return;
    }

    // After the last return the port works as on the first day.
    f.Timer1Timer(f.Timer1);
    EXPECT_TRUE(f.VrLedOnGPS->Active());
    device->Write("$GPTXT,back*00\r");
    ASSERT_TRUE(
        WaitUntil([&] { return f.Memo1->Line(f.Memo1->LineCount() - 1).endsWith("$GPTXT,back*00"); }));

    const TProcessResources after = CountWithGpsPortClosed(f);
    EXPECT_EQ(after.Threads, before.Threads) << ThreadDifference(before, after).toStdString();
    EXPECT_EQ(after.Descriptors, before.Descriptors)
        << "left open: " << DescriptorDifference(before, after).toStdString();
    ExpectAisUntouched(aisFeed);

    std::printf("[soak] vanishing (master side closed): %d times; GPS bytes sent %llu; threads %d before, %d "
                "after; descriptors %d before, %d after; AIS bytes compared %lld\n",
                vanishings, static_cast<unsigned long long>(gpsBytes), before.Threads, after.Threads,
                before.Descriptors, after.Descriptors, static_cast<long long>(aisFeed.Written()));
}

TEST_F(SoakVanish, ReplayToolHangsUpWhileDataFlows) {
    const int vanishings = SoakSize("BRISEMER_SOAK_VANISHINGS", 5);
    // Far more than a pseudo-terminal holds unread: a hang-up comes only after the port
    // has been reading from the new device.
    const int hangupAfter = 128 * 1024;
    TReplayProcess replay;
    ASSERT_TRUE(replay.Start(
        {QStringLiteral("--port"), QStringLiteral("COM201:4000000:") + NmeaDataFolder() + '/' + kGpsRecording,
         QStringLiteral("--port"), QStringLiteral("COM202:384000:") + NmeaDataFolder() + '/' + kAisRecording,
         QStringLiteral("--loop"), QStringLiteral("forever"), QStringLiteral("--hangup"),
         QStringLiteral("COM201:%1bytes").arg(hangupAfter), QStringLiteral("--reopen"),
         QStringLiteral("COM201:0.05"), QStringLiteral("--hangups"),
         QStringLiteral("COM201:%1").arg(vanishings), QStringLiteral("--map-file"),
         TTestEnvironment::PortMapFile(), QStringLiteral("--stats")}));
    ASSERT_TRUE(replay.WaitForReady()) << replay.StdErr().toStdString();
    StartWithBothPorts();
    TForm1& f = *form1;

    for (int i = 0; i < vanishings; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return CountLines(replay, QStringLiteral("COM201 hangup")) > i; },
                              std::chrono::seconds(30)))
            << "cycle " << i << ": no hang-up; received " << f.nrComm1->TotalReceived();
        ExpectClosedByVanishing(i);
        if (HasFatalFailure()) return;
        // The first device and one more after each hang-up.
        ASSERT_TRUE(WaitUntil([&] { return CountLines(replay, QStringLiteral("COM201=")) > i + 1; },
                              std::chrono::seconds(10)))
            << "cycle " << i << ": the device did not come back";
        SelectAndOpenAgain(i);
        if (HasFatalFailure()) return;
    }

    // No more hang-ups: the channel receives on.
    const std::uint32_t received = f.nrComm1->TotalReceived();
    EXPECT_TRUE(WaitUntil([&] { return f.nrComm1->TotalReceived() > received + 2 * hangupAfter; },
                          std::chrono::seconds(30)));
    EXPECT_TRUE(f.nrComm1->Active());
    EXPECT_TRUE(f.nrComm2->Active());
    EXPECT_FALSE(f.VrLedOffAIS->Active());

    replay.Signal(SIGTERM);
    ASSERT_TRUE(replay.WaitForExit());
    EXPECT_EQ(replay.ExitCode(), 0) << replay.StdErr().toStdString();
    EXPECT_EQ(replay.Stat(QStringLiteral("COM201"), QStringLiteral("hangups")), vanishings);
    EXPECT_EQ(replay.Stat(QStringLiteral("COM202"), QStringLiteral("hangups")), 0);
    ASSERT_TRUE(WaitUntil([&] { return !f.nrComm1->Active() && !f.nrComm2->Active(); }));
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join('\n').toStdString();

    std::printf("[soak] vanishing (replay tool hang-up): %d times; GPS bytes sent %lld, AIS %lld\n",
                vanishings, replay.Stat(QStringLiteral("COM201"), QStringLiteral("bytes")),
                replay.Stat(QStringLiteral("COM202"), QStringLiteral("bytes")));
}

TEST_F(SoakVanish, DeviceBehindItsLinkReturnsAndTheChannelComesBackByItself) {
    const int returns = SoakSize("BRISEMER_SOAK_VANISHINGS", 5);
    const QByteArray gpsWire = RecordingOnTheWire(kGpsRecording);
    ASSERT_FALSE(gpsWire.isEmpty());
    QTemporaryDir links;
    const QString link = links.filePath(QStringLiteral("usb-gps-if00-port0"));
    auto device = std::make_unique<TPtyPair>();
    ASSERT_TRUE(QFile::link(device->SlavePath(), link));
    TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + link, QStringLiteral("COM202 = ") + ais.SlavePath()});
    StartWithBothPorts();
    TForm1& f = *form1;
    ASSERT_TRUE(f.nrComm1->ReopenOnReturn());
    TPtyFeeder aisFeed(ais, RecordingOnTheWire(kAisRecording), kFeedRate);
    const int warmUp = std::min(2, returns - 1);
    TProcessResources before;
    qint64 slowest = 0;

    for (int i = 0; i < returns; ++i) {
        if (i == warmUp) before = CountWithGpsPortClosed(f);
        {
            TPtyFeeder feed(*device, gpsWire, kFeedRate, 20'000 + 1'237 * static_cast<std::uint64_t>(i % 40));
            ASSERT_TRUE(WaitUntil([&] { return feed.Vanished(); }, std::chrono::seconds(30))) << "cycle " << i;
            QFile::remove(link); // the adapter is pulled: its link goes with it
            ExpectClosedByVanishing(i);
            if (HasFatalFailure()) return;
        }
        // Plugged back at once, or after a while away.
        if (i % 2) ProcessEventsFor(std::chrono::milliseconds(600));
        const qsizetype linesBefore = f.Memo1->LineCount();
        device = std::make_unique<TPtyPair>();
        ASSERT_TRUE(QFile::link(device->SlavePath(), link));
        QElapsedTimer back;
        back.start();
        ASSERT_TRUE(WaitUntil([&] { return f.nrComm1->Active() && f.VrLedOnGPS->Active() && !f.VrLedOffGPS->Active(); },
                              std::chrono::seconds(2)))
            << "cycle " << i << ": not back within 2 s (open " << f.nrComm1->Active() << ", waiting "
            << f.nrComm1->WaitingForReturn() << ")";
        slowest = std::max(slowest, back.elapsed());
        EXPECT_EQ(f.Memo1->LineCount(), linesBefore) << "cycle " << i << ": something was written in the pane";
        const QString line = QStringLiteral("$GPTXT,back %1*00").arg(i);
        device->Write(line.toLatin1() + '\r');
        ASSERT_TRUE(WaitUntil([&] { return f.Memo1->Line(f.Memo1->LineCount() - 1).endsWith(line); }))
            << "cycle " << i << ": the channel does not receive after the return";
        ASSERT_TRUE(boxes.Texts.isEmpty()) << "cycle " << i << ": " << boxes.Texts.join('\n').toStdString();
    }

    const TProcessResources after = CountWithGpsPortClosed(f);
    EXPECT_EQ(after.Threads, before.Threads) << ThreadDifference(before, after).toStdString();
    EXPECT_EQ(after.Descriptors, before.Descriptors)
        << "left open: " << DescriptorDifference(before, after).toStdString();
    EXPECT_TRUE(errors.texts.isEmpty()) << errors.texts.join('\n').toStdString();
    ExpectAisUntouched(aisFeed);

    std::printf("[soak] returns (link made again to a new device): %d times; slowest return %lld ms; threads %d "
                "before, %d after; descriptors %d before, %d after; AIS bytes compared %lld\n",
                returns, static_cast<long long>(slowest), before.Threads, after.Threads, before.Descriptors,
                after.Descriptors, static_cast<long long>(aisFeed.Written()));
}
