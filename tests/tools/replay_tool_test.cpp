// The replay tool run as users and scripts run it: the real executable serving real
// pseudo-terminals, read the way the serial library reads a port.
#include "ptypair.h"
#include "replayprocess.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The checksum of an NMEA sentence computed here, independently of the tool.
QByteArray WithChecksum(const QByteArray& body) {
    unsigned char sum = 0;
    for (qsizetype i = 1; i < body.size(); ++i)
        sum ^= static_cast<unsigned char>(body[i]);
    return body + '*' + QByteArray::number(sum, 16).rightJustified(2, '0').toUpper();
}

bool ChecksumValid(const QByteArray& line) {
    const qsizetype star = line.indexOf('*');
    return star > 0 && line.left(star + 3) == WithChecksum(line.left(star));
}

// `count` numbered sentences of about 40 bytes, each followed by `end`.
QByteArray Sentences(int count, const QByteArray& end = "\n", int first = 1) {
    QByteArray text;
    for (int i = first; i < first + count; ++i)
        text += WithChecksum("$GPTST," + QByteArray::number(i).rightJustified(5, '0') + ",ABCDEFGHIJKLMNOP") +
                end;
    return text;
}

// What a recording looks like on the wire: '#' headers and blank lines left out, CR LF
// after every line (the real recordings hold no binary frames).
QByteArray OnTheWire(const QByteArray& file) {
    QByteArray wire;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (!line.isEmpty() && !line.startsWith('#')) wire += line + "\r\n";
    }
    return wire;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Matches the line that names a port's new device.
std::function<bool(const QString&)> NewDevice(const QString& port) {
    return [port](const QString& line) { return line.startsWith(port + '='); };
}

double Seconds(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e9;
}

class ReplayTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fDir.isValid()); }

    QString MapFile() const { return fDir.path() + QStringLiteral("/serialcomm/ports"); }
    QString Recording(const QString& name, const QByteArray& bytes) {
        const QString path = fDir.path() + '/' + name;
        WriteFile(path, bytes);
        return path;
    }
    QStringList Args(const QStringList& extra) const { return QStringList{"--map-file", MapFile()} + extra; }
    // Starts the tool and waits for its "ready" line.
    void Launch(TReplayProcess& tool, const QStringList& extra) {
        ASSERT_TRUE(tool.Start(Args(extra)));
        ASSERT_TRUE(tool.WaitForReady()) << tool.StdErr().toStdString();
    }

    QTemporaryDir fDir;
};

} // namespace

// Faults caught: headers or blank lines on the wire, LF-only lines without CR, CR
// doubled, a binary frame altered, the last line lost, statistics that do not match.
TEST_F(ReplayTool, SendsLinesAsOnTheWire) {
    QByteArray ubx("\xB5\x62\x01\x07\x05\x00\n\r#$\n", 11);
    unsigned char a = 0, b = 0;
    for (qsizetype i = 2; i < ubx.size(); ++i) {
        a += static_cast<unsigned char>(ubx[i]);
        b += a;
    }
    ubx += static_cast<char>(a);
    ubx += static_cast<char>(b);
    const QByteArray s1 = WithChecksum("$GPGGA,1"), s2 = WithChecksum("$GPRMC,2"),
                     s3 = WithChecksum("!AIVDM,3"), s4 = WithChecksum("$GPZDA,4");
    const QByteArray file =
        "# Name: synthetic\n# Date: today\n" + s1 + "\n\n" + s2 + "\r\n" + ubx + s3 + "\n#x\n" + s4;
    const QByteArray expected = s1 + "\r\n" + s2 + "\r\n" + ubx + s3 + "\r\n" + s4 + "\r\n";

    TReplayProcess tool;
    Launch(tool, {"--flood", "--stats", "--port", "COM201:4800:" + Recording("mixed.log", file)});
    TPortReader reader(tool.Device("COM201"));
    ASSERT_TRUE(reader.IsOpen());
    reader.ReadBytes(expected.size());
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(reader.Received(), expected);
    EXPECT_EQ(tool.ExitCode(), 0);
    EXPECT_EQ(tool.Stat("COM201", "bytes"), expected.size());
    EXPECT_EQ(tool.Stat("COM201", "lines"), 4);
    EXPECT_EQ(tool.Stat("COM201", "sentences"), 4);
}

// Fault caught: --raw still editing the bytes.
TEST_F(ReplayTool, RawSendsTheFileUnchanged) {
    const QByteArray file = "# header\n" + Sentences(5) + "\n#mid\r\n" + Sentences(3, "\r\n") + "tail";
    TReplayProcess tool;
    Launch(tool, {"--raw", "--flood", "--stats", "--port", "COM7:9600:" + Recording("raw.log", file)});
    TPortReader reader(tool.Device("COM7"));
    reader.ReadBytes(file.size());
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(reader.Received(), file);
    EXPECT_EQ(tool.Stat("COM7", "bytes"), file.size());
    EXPECT_EQ(tool.Stat("COM7", "lines"), file.count('\n'));
}

// Faults caught: bytes lost or reordered, a channel mixing up its recordings, the end
// of a recording cut off when the tool exits.
TEST_F(ReplayTool, RealRecordingsArriveWholeAndInOrder) {
    const QDir data(NmeaDataFolder());
    const QStringList files = data.entryList({"*.log", "*.aivdm"}, QDir::Files, QDir::Name);
    if (files.isEmpty()) GTEST_SKIP() << "no recordings in " << NmeaDataFolder().toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray gps = ReadFile(data.filePath(name));
        const QByteArray ais = ReadFile(data.filePath(files.front()));
        TReplayProcess tool;
        Launch(tool, {"--flood", "--stats", "--port", "COM201:4800:" + data.filePath(name), "--port",
                      "COM202:38400:" + data.filePath(files.front())});
        TPortReader gpsReader(tool.Device("COM201")), aisReader(tool.Device("COM202"));
        const QByteArray gpsWire = OnTheWire(gps), aisWire = OnTheWire(ais);
        aisReader.ReadBytes(aisWire.size());
        gpsReader.ReadBytes(gpsWire.size());
        ASSERT_TRUE(tool.WaitForExit());
        EXPECT_TRUE(gpsReader.Received() == gpsWire);
        EXPECT_TRUE(aisReader.Received() == aisWire);
        EXPECT_EQ(tool.Stat("COM201", "bytes"), gpsWire.size());
        EXPECT_EQ(tool.Stat("COM201", "lines"), gpsWire.count("\r\n"));
    }
}

// Fault caught: flooding a reader that is not reading yet loses what did not fit into
// the kernel's queue (about 20 KiB for a pseudo-terminal).
TEST_F(ReplayTool, FloodWaitsForASlowReader) {
    const QByteArray file = Sentences(3000);
    TReplayProcess tool;
    Launch(tool, {"--flood", "--port", "COM201:115200:" + Recording("big.log", file)});
    TPortReader reader(tool.Device("COM201"));
    ProcessEventsFor(300ms);
    reader.ReadBytes(OnTheWire(file).size(), 10s);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_TRUE(reader.Received() == OnTheWire(file));
    EXPECT_EQ(tool.ExitCode(), 0);
}

// Faults caught: --loop ignored or playing one time too many.
TEST_F(ReplayTool, LoopPlaysTheRecordingNTimes) {
    const QByteArray file = Sentences(7);
    TReplayProcess tool;
    Launch(tool,
           {"--flood", "--stats", "--loop", "3", "--port", "COM201:4800:" + Recording("loop.log", file)});
    TPortReader reader(tool.Device("COM201"));
    const QByteArray expected = OnTheWire(file).repeated(3);
    reader.ReadBytes(expected.size() + 1, 3s); // one more than expected: nothing else may come
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_TRUE(reader.Received() == expected);
    EXPECT_EQ(tool.Stat("COM201", "lines"), 21);
}

struct TPace {
    int Baud;
    int BitsPerChar;
};

class ReplayPacing : public ReplayTool, public ::testing::WithParamInterface<TPace> {};

// Faults caught: the baud rate or bit time ignored, bytes sent ahead of the line, a
// schedule so coarse or slow that the line crawls. Measured over about 0.5 s.
TEST_P(ReplayPacing, BytesArriveAtTheLineRate) {
    const TPace pace = GetParam();
    const double bytesPerSecond = double(pace.Baud) / pace.BitsPerChar;
    const int count = static_cast<int>(bytesPerSecond * 0.5);
    const double expected = count / bytesPerSecond;
    TReplayProcess tool;
    Launch(tool,
           {"--hold", "--loop", "forever", "--bits-per-char", QString::number(pace.BitsPerChar), "--port",
            "COM201:" + QString::number(pace.Baud) + ":" + Recording("pace.log", Sentences(50))});
    TPortReader reader(tool.Device("COM201"));
    QElapsedTimer timer;
    timer.start();
    tool.Signal(SIGUSR1);
    ASSERT_TRUE(reader.ReadBytes(count, 5s));
    const double elapsed = Seconds(timer);
    EXPECT_GE(elapsed, expected * 0.95) << "faster than the line";
    EXPECT_LE(elapsed, expected * 3) << "far slower than the line";
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, ReplayPacing,
                         ::testing::Values(TPace{4800, 10}, TPace{4800, 20}, TPace{9600, 10},
                                           TPace{38400, 10}),
                         [](const auto& param) {
                             return std::to_string(param.param.Baud) + "baud_" +
                                    std::to_string(param.param.BitsPerChar) + "bits";
                         });

// Faults caught: --duration ignored with --loop forever, or ending far too early.
TEST_F(ReplayTool, DurationEndsAnEndlessLoop) {
    TReplayProcess tool;
    QElapsedTimer timer;
    timer.start();
    Launch(tool, {"--loop", "forever", "--duration", "0.6", "--linger", "0", "--port",
                  "COM201:38400:" + Recording("d.log", Sentences(20))});
    ASSERT_TRUE(tool.WaitForExit(5s));
    const double elapsed = Seconds(timer);
    EXPECT_GE(elapsed, 0.6);
    EXPECT_LE(elapsed, 1.8);
    EXPECT_EQ(tool.ExitCode(), 0);
}

// Faults caught: the wrong sentences corrupted, a corrupted checksum that is still
// right, other bytes damaged, sentences without checksum counted.
TEST_F(ReplayTool, CorruptsEveryNthChecksum) {
    const QByteArray file = Sentences(10) + "$GPTXT,no checksum\n" + Sentences(20, "\n", 11);
    TReplayProcess tool;
    Launch(tool, {"--flood", "--stats", "--corrupt-checksum", "3", "--port",
                  "COM201:4800:" + Recording("c.log", file)});
    TPortReader reader(tool.Device("COM201"));
    const QByteArray original = OnTheWire(file);
    reader.ReadBytes(original.size());
    ASSERT_TRUE(tool.WaitForExit());
    const QList<QByteArray> got = reader.Received().split('\n');
    const QList<QByteArray> want = original.split('\n');
    ASSERT_EQ(got.size(), want.size());
    int checksummed = 0;
    for (qsizetype i = 0; i + 1 < want.size(); ++i) {
        SCOPED_TRACE(want[i].toStdString());
        const qsizetype star = want[i].indexOf('*');
        if (star < 0) {
            EXPECT_EQ(got[i], want[i]);
            continue;
        }
        EXPECT_EQ(got[i].left(star + 1), want[i].left(star + 1));
        EXPECT_EQ(got[i].mid(star + 3), "\r");
        EXPECT_EQ(ChecksumValid(got[i]), ++checksummed % 3 != 0);
    }
    EXPECT_EQ(tool.Stat("COM201", "corrupted"), 10);
}

// Faults caught: no hang-up (the reader would wait for ever), the hang-up late (more
// data than asked for), the map entry of a vanished device left in place.
TEST_F(ReplayTool, HangupIsSeenByTheReader) {
    const QByteArray file = Sentences(40);
    const QByteArray wire = OnTheWire(file);
    for (const QString& after : {QStringLiteral("5"), QStringLiteral("100bytes")}) {
        SCOPED_TRACE(after.toStdString());
        TReplayProcess tool;
        Launch(tool, {"--hold", "--stats", "--hangup", after, "--port",
                      "COM201:38400:" + Recording("h.log", file)});
        TPortReader reader(tool.Device("COM201"));
        tool.Signal(SIGUSR1);
        EXPECT_TRUE(reader.ReadToHangup());
        ASSERT_TRUE(tool.WaitForLine("COM201 hangup"));
        EXPECT_FALSE(ReadFile(MapFile()).contains("COM201"));
        ASSERT_TRUE(tool.WaitForExit());
        const qsizetype limit = after == "5" ? wire.indexOf("$GPTST,00006") : 100;
        EXPECT_LE(reader.Received().size(), limit);
        EXPECT_TRUE(wire.startsWith(reader.Received()));
        EXPECT_EQ(tool.Stat("COM201", "bytes"), limit);
        EXPECT_EQ(tool.Stat("COM201", "hangups"), 1);
        EXPECT_EQ(tool.ExitCode(), 0);
    }
}

// Faults caught: no new device after a hang-up, the map not pointing at it, the other
// channel disturbed, hang-ups beyond --hangups.
TEST_F(ReplayTool, ReopensANewDeviceAfterEachHangup) {
    TReplayProcess tool;
    // At 2400 baud four sentences take about 0.6 s: time enough to open each new device.
    Launch(tool, {"--stats", "--loop", "forever", "--hangup", "COM201:4", "--reopen", "COM201:0.05",
                  "--hangups", "COM201:4", "--port", "COM201:2400:" + Recording("gps.log", Sentences(30)),
                  "--port", "COM202:38400:" + Recording("ais.log", Sentences(30, "\n", 500))});
    TPortReader ais(tool.Device("COM202"));
    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        const QString device = tool.Device("COM201");
        EXPECT_TRUE(ReadFile(MapFile()).contains("COM201 = " + device.toUtf8()));
        TPortReader gps(device);
        ASSERT_TRUE(gps.IsOpen());
        EXPECT_TRUE(gps.ReadToHangup());
        ASSERT_TRUE(tool.WaitForLine("COM201 hangup"));
        ASSERT_TRUE(tool.WaitFor(NewDevice("COM201")));
    }
    // After the last hang-up the device stays and data keeps flowing.
    TPortReader gps(tool.Device("COM201"));
    EXPECT_TRUE(gps.ReadUntil([](const QByteArray& data) { return data.count('\n') >= 8; }));
    EXPECT_FALSE(gps.HungUp());
    EXPECT_TRUE(ais.ReadBytes(4000));
    EXPECT_FALSE(ais.HungUp());
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
    EXPECT_EQ(tool.Stat("COM201", "hangups"), 4);
    EXPECT_EQ(tool.Stat("COM202", "hangups"), 0);
    EXPECT_EQ(tool.Lines().count("COM201 hangup"), 4);
    EXPECT_FALSE(QFile::exists(MapFile()));
}

// Fault caught: the tool itself failing when a device vanishes many times in a row.
TEST_F(ReplayTool, SurvivesAHundredHangups) {
    TReplayProcess tool;
    Launch(tool, {"--flood", "--stats", "--loop", "forever", "--hangup", "2", "--reopen", "0", "--hangups",
                  "100", "--port", "COM201:4800:" + Recording("s.log", Sentences(10))});
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(tool.WaitForLine("COM201 hangup")) << i;
    ASSERT_TRUE(tool.WaitFor(NewDevice("COM201")));
    TPortReader reader(tool.Device("COM201"));
    EXPECT_TRUE(reader.ReadBytes(2000));
    EXPECT_FALSE(reader.HungUp());
    tool.Signal(SIGINT);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.Stat("COM201", "hangups"), 100);
    EXPECT_EQ(tool.ExitCode(), 0);
}

class ReplayMapCleanUp : public ReplayTool, public ::testing::WithParamInterface<int> {};

// Faults caught: foreign map lines altered, a replaced entry not put back, entries left
// behind when the tool ends normally or by SIGINT, SIGTERM or SIGHUP.
TEST_P(ReplayMapCleanUp, RestoresTheMapFileByteForByte) {
    const QByteArray original =
        "# my ports\r\nCOM201 = /dev/ttyUSB7\nCOM5 = /dev/ttyS4\n\n# last, no line end";
    WriteFile(MapFile(), original);
    const int signal = GetParam();
    TReplayProcess tool;
    QStringList args{"--linger", "0",
                     "--port",   "COM201:4800:" + Recording("a.log", Sentences(3)),
                     "--port",   "COM202:4800:" + Recording("b.log", Sentences(3))};
    if (signal != 0)
        args << "--loop"
             << "forever";
    else
        args << "--flood";
    Launch(tool, args);
    if (signal != 0) {
        const QByteArray during = ReadFile(MapFile());
        EXPECT_EQ(during, "# my ports\r\nCOM201 = " + tool.Device("COM201").toUtf8() +
                              "\nCOM5 = /dev/ttyS4\n\n# last, no line end\nCOM202 = " +
                              tool.Device("COM202").toUtf8() + "\n");
        tool.Signal(signal);
    }
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
    EXPECT_EQ(ReadFile(MapFile()), original);
}

INSTANTIATE_TEST_SUITE_P(Endings, ReplayMapCleanUp, ::testing::Values(0, SIGINT, SIGTERM, SIGHUP),
                         [](const auto& param) {
                             return param.param == 0 ? std::string("NormalEnd")
                                                     : "Signal" + std::to_string(param.param);
                         });

// Fault caught: the user's map file (under XDG_CONFIG_HOME) not used by default.
TEST_F(ReplayTool, UsesTheUsersMapFileByDefault) {
    TReplayProcess tool;
    ASSERT_TRUE(
        tool.Start({"--loop", "forever", "--port", "COM209:4800:" + Recording("x.log", Sentences(3))}));
    ASSERT_TRUE(tool.WaitForReady());
    EXPECT_EQ(ReadFile(TTestEnvironment::PortMapFile()), "COM209 = " + tool.Device("COM209").toUtf8() + "\n");
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_FALSE(QFile::exists(TTestEnvironment::PortMapFile()));
}

// Faults caught: a bad command line accepted or reported without naming the problem,
// a failing file reported as success, map entries left behind after a failure.
TEST_F(ReplayTool, BadInputGivesAClearErrorAndExitCode) {
    struct TCase {
        QStringList Args;
        int Code;
        QStringList Fragments;
    };
    const QString log = Recording("ok.log", Sentences(3));
    QFile::copy(log, fDir.path() + "/notafolder");
    WriteFile(MapFile(), "COM1 = /dev/ttyS0\n");
    const QList<TCase> cases = {
        {{}, 2, {"no channel", "--help"}},
        {{"--port", "COM201:48x0:" + log}, 2, {"48x0", "not a whole number"}},
        {{"--port", "COM201:4800:" + log, "--corrupt-checksum", "0"}, 2, {"--corrupt-checksum", "'0'"}},
        {{"--port", "COM201:4800:" + log, "--frobnicate"}, 2, {"unknown option '--frobnicate'"}},
        {{"--port", "COM201:4800:/no/such/gps.log"}, 1, {"/no/such/gps.log", "No such file or directory"}},
        {{"--port", "COM201:4800:" + Recording("empty.log", "# only a header\n\n")},
         1,
         {"empty.log", "nothing to send"}},
        {{"--port", "COM201:4800:" + log, "--port", "COM202:4800:" + log, "--tty", "COM202=/dev/no-such-tty"},
         1,
         {"COM202", "/dev/no-such-tty", "No such file or directory"}},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Args.join(' ').toStdString());
        TReplayProcess tool;
        ASSERT_TRUE(tool.Start(Args(test.Args)));
        ASSERT_TRUE(tool.WaitForExit());
        EXPECT_EQ(tool.ExitCode(), test.Code);
        const QString error = tool.StdErr();
        for (const QString& fragment : test.Fragments)
            EXPECT_TRUE(error.contains(fragment)) << error.toStdString();
        EXPECT_FALSE(tool.Lines().contains("ready"));
        EXPECT_EQ(ReadFile(MapFile()), "COM1 = /dev/ttyS0\n");
    }
    TReplayProcess blocked;
    ASSERT_TRUE(
        blocked.Start({"--map-file", fDir.path() + "/notafolder/ports", "--port", "COM201:4800:" + log}));
    ASSERT_TRUE(blocked.WaitForExit());
    EXPECT_EQ(blocked.ExitCode(), 1);
    EXPECT_TRUE(blocked.StdErr().contains("notafolder")) << blocked.StdErr().toStdString();
    EXPECT_TRUE(blocked.StdErr().contains("Not a directory")) << blocked.StdErr().toStdString();
}

TEST_F(ReplayTool, HelpDocumentsEveryOption) {
    TReplayProcess tool;
    ASSERT_TRUE(tool.Start({"--help"}));
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
    const QString help = tool.Lines().join('\n');
    for (const char* option : {"--port",
                               "--tty",
                               "--format",
                               "--bits-per-char",
                               "--flood",
                               "--raw",
                               "--loop",
                               "--duration",
                               "--hold",
                               "--linger",
                               "--corrupt-checksum",
                               "--burst",
                               "--pause",
                               "--hangup",
                               "--reopen",
                               "--hangups",
                               "--map-file",
                               "--no-map-file",
                               "--settings-file",
                               "--ready-file",
                               "--stats"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
}

// Faults caught: no pause, a pause at the wrong sentence, or one that never ends.
TEST_F(ReplayTool, PausesOnceAfterTheGivenSentence) {
    TReplayProcess tool;
    Launch(tool, {"--hold", "--flood", "--pause", "3:1", "--port",
                  "COM201:4800:" + Recording("p.log", Sentences(8))});
    TPortReader reader(tool.Device("COM201"));
    tool.Signal(SIGUSR1);
    ASSERT_TRUE(reader.ReadUntil([](const QByteArray& data) { return data.count('\n') >= 3; }));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(reader.Received().count('\n'), 3);
    ASSERT_TRUE(reader.ReadUntil([](const QByteArray& data) { return data.count('\n') >= 4; }, 5s));
    const double gap = Seconds(timer);
    EXPECT_GE(gap, 0.5);
    EXPECT_LE(gap, 3.0);
    ASSERT_TRUE(reader.ReadUntil([](const QByteArray& data) { return data.count('\n') >= 8; }, 1s));
    ASSERT_TRUE(tool.WaitForExit());
}

// Faults caught: a burst paced like the rest, pacing not resumed after it.
TEST_F(ReplayTool, BurstSendsABlockAtOnceThenPacesAgain) {
    // 1200 baud: 120 bytes a second; a sentence of 34 bytes takes about 0.28 s.
    const QByteArray file = Sentences(60);
    const double sentenceTime = (OnTheWire(file).indexOf('\n') + 1) / 120.0;
    TReplayProcess tool;
    Launch(tool, {"--hold", "--burst", "2:12", "--port", "COM201:1200:" + Recording("b.log", file)});
    TPortReader reader(tool.Device("COM201"));
    auto lines = [](int n) { return [n](const QByteArray& data) { return data.count('\n') >= n; }; };
    tool.Signal(SIGUSR1);
    ASSERT_TRUE(reader.ReadUntil(lines(2)));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(reader.ReadUntil(lines(14)));
    EXPECT_LE(Seconds(timer), 12 * sentenceTime / 3) << "the burst was paced";
    timer.restart();
    ASSERT_TRUE(reader.ReadUntil(lines(16)));
    EXPECT_GE(Seconds(timer), 2 * sentenceTime * 0.8) << "no pacing after the burst";
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
}

// Faults caught: --tty ignored (a new pseudo-terminal made instead), its bytes altered.
TEST_F(ReplayTool, WritesIntoAnExistingTerminal) {
    TPtyPair pair;
    const QByteArray file = Sentences(20);
    TReplayProcess tool;
    Launch(tool, {"--flood", "--tty", "COM201=" + pair.SlavePath(), "--port",
                  "COM201:4800:" + Recording("t.log", file)});
    EXPECT_EQ(tool.Device("COM201"), pair.SlavePath());
    EXPECT_TRUE(ReadFile(MapFile()).contains("COM201 = " + pair.SlavePath().toUtf8()));
    EXPECT_TRUE(pair.Read(OnTheWire(file).size(), 5s) == OnTheWire(file));
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
}

// Faults caught: the channels' values in the wrong sections, the frame not written,
// other lines of the file lost.
TEST_F(ReplayTool, WritesTheSettingsFileForTheFirstTwoChannels) {
    const QString settings = fDir.path() + "/brisemer.INI";
    WriteFile(settings, "; kept\r\n[ComPort AIS]\r\nComNb=3\r\n");
    const QString log = Recording("s.log", Sentences(2));
    TReplayProcess tool;
    Launch(tool, {"--flood", "--linger", "0", "--format", "7E2", "--settings-file", settings, "--port",
                  "COM211:4800:" + log, "--port", "COM212:38400:" + log, "--port", "COM213:9600:" + log});
    EXPECT_EQ(ReadFile(settings), "; kept\r\n[ComPort AIS]\r\nComNb=212\r\nBaudRate=38400\r\nDataBits=7\r\n"
                                  "StopBits=2\r\nParity=2\r\n[ComPort GPS]\r\nComNb=211\r\nBaudRate=4800\r\n"
                                  "DataBits=7\r\nStopBits=2\r\nParity=2\r\n");
    ASSERT_TRUE(tool.WaitForExit());
}

// Faults caught: the ready file missing, naming the wrong devices or left behind.
TEST_F(ReplayTool, ReadyFileListsTheDevicesWhileRunning) {
    const QString ready = fDir.path() + "/ready";
    TReplayProcess tool;
    Launch(tool, {"--loop", "forever", "--ready-file", ready, "--port",
                  "COM201:4800:" + Recording("r.log", Sentences(2)), "--port",
                  "COM202:4800:" + Recording("r2.log", Sentences(2))});
    EXPECT_EQ(ReadFile(ready), "COM201=" + tool.Device("COM201").toUtf8() +
                                   "\nCOM202=" + tool.Device("COM202").toUtf8() + "\n");
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_FALSE(QFile::exists(ready));
}

// Fault caught: --hold sending before it is told to start.
TEST_F(ReplayTool, HoldWaitsForTheStartSignal) {
    TReplayProcess tool;
    Launch(tool, {"--hold", "--flood", "--port", "COM201:4800:" + Recording("w.log", Sentences(5))});
    TPortReader reader(tool.Device("COM201"));
    EXPECT_FALSE(reader.ReadBytes(1, 300ms));
    tool.Signal(SIGUSR1);
    EXPECT_TRUE(reader.ReadBytes(OnTheWire(Sentences(5)).size()));
    ASSERT_TRUE(tool.WaitForExit());
}

// Faults caught: the device torn down or data dropped when its reader closes and opens
// it again (the map entry must stay usable for the whole run).
TEST_F(ReplayTool, ReaderCanCloseAndReopenThePort) {
    const QByteArray file = Sentences(20);
    TReplayProcess tool;
    Launch(tool, {"--loop", "forever", "--port", "COM201:38400:" + Recording("o.log", file)});
    QByteArray received;
    for (int round = 0; round < 3; ++round) {
        TPortReader reader(tool.Device("COM201"));
        ASSERT_TRUE(reader.IsOpen()) << round;
        ASSERT_TRUE(reader.ReadBytes(300));
        received += reader.Received();
        EXPECT_FALSE(reader.HungUp());
        ProcessEventsFor(100ms); // the line keeps running while nobody has the port open
    }
    // What arrived across the reopenings is one unbroken stretch of the looped recording.
    EXPECT_TRUE(OnTheWire(file).repeated(10).startsWith(received));
    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForExit());
    EXPECT_EQ(tool.ExitCode(), 0);
}

// Faults caught: a replay looping forever after the process that started it crashed, its
// map entry left behind.
TEST_F(ReplayTool, WithParentEndsWhenTheStartingProcessEnds) {
    // A shell starts the tool in the background, says its process number, waits until the
    // tool is ready and ends.
    const QString readyFile = fDir.path() + QStringLiteral("/ready");
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("READY"), readyFile);
    shell.setProcessEnvironment(environment);
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("\"$0\" \"$@\" >/dev/null 2>&1 & echo $!; i=0; "
                                "while [ ! -e \"$READY\" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; "
                                "[ -e \"$READY\" ] && echo ready"),
                 ReplayExecutable(), QStringLiteral("--with-parent"), QStringLiteral("--map-file"), MapFile(),
                 QStringLiteral("--ready-file"), readyFile, QStringLiteral("--loop"), QStringLiteral("forever"),
                 QStringLiteral("--port"), QStringLiteral("COM201:38400:") + Recording("p.log", Sentences(20))});
    ASSERT_TRUE(shell.waitForFinished(15000));
    const QList<QByteArray> said = shell.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(said.size(), 2) << "the tool never got ready";
    EXPECT_EQ(said[1], "ready");
    const pid_t tool = static_cast<pid_t>(said[0].toLong());
    ASSERT_GT(tool, 0);
    // Gone (or only waiting to be reaped), and its map entry and ready file removed.
    auto running = [tool] {
        QFile status(QStringLiteral("/proc/%1/status").arg(tool));
        if (!status.open(QIODevice::ReadOnly)) return false;
        const QByteArray text = status.readAll();
        return !text.contains("State:\tZ");
    };
    EXPECT_TRUE(WaitUntil([&] { return !running(); }, 5s));
    EXPECT_TRUE(WaitUntil([&] { return !QFileInfo::exists(readyFile); }, 5s));
    EXPECT_FALSE(ReadFile(MapFile()).contains("COM201"));
}
