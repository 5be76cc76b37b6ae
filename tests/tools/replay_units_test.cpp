// The replay tool's parts without a device: cutting recordings, NMEA checksums, the
// byte schedule, the map-file and settings-file editors and the command line.
#include "lineformat.h"
#include "nmeachecksum.h"
#include "pacer.h"
#include "portmapfile.h"
#include "recording.h"
#include "replayerror.h"
#include "replayoptions.h"
#include "settingsfile.h"
#include "textfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::string Joined(const TRecording& recording) {
    std::string all;
    for (const auto& record : recording.Records())
        all += record.Bytes;
    return all;
}

// A UBX frame (class 0x01, id 0x07) whose payload holds LF, CR, '#' and '$' bytes.
std::string UbxFrame() {
    std::string frame = "\xB5\x62\x01\x07";
    const std::string payload = std::string("\n\r#$\n", 5) + std::string("\x00\xff", 2);
    frame += static_cast<char>(payload.size());
    frame += '\0';
    frame += payload;
    std::uint8_t a = 0, b = 0;
    for (size_t i = 2; i < frame.size(); ++i) {
        a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(frame[i]));
        b = static_cast<std::uint8_t>(b + a);
    }
    frame += static_cast<char>(a);
    frame += static_cast<char>(b);
    return frame;
}

} // namespace

// Faults caught: headers or blank lines sent, LF-only lines left without CR, CR doubled
// on CR LF lines, a last line without line end dropped, binary frames cut at their LF.
TEST(ReplayRecording, PreparesLinesForTheWire) {
    const std::string frame = UbxFrame();
    const std::string file =
        "# Name: test\n#\n$GPGGA,1*00\n\n$GPRMC,2*00\r\n" + frame + "!AIVDM,3*00\nplain\n#late\n$LAST*11";
    const TRecording recording = TRecording::Parse(file, false, "t");
    EXPECT_EQ(Joined(recording),
              "$GPGGA,1*00\r\n$GPRMC,2*00\r\n" + frame + "!AIVDM,3*00\r\nplain\r\n$LAST*11\r\n");
    ASSERT_EQ(recording.Records().size(), 6u);
    EXPECT_EQ(recording.Records()[0].Kind, TRecordKind::rkSentence);
    EXPECT_EQ(recording.Records()[2].Kind, TRecordKind::rkBinary);
    EXPECT_FALSE(recording.Records()[2].EndsLine);
    EXPECT_EQ(recording.Records()[3].Kind, TRecordKind::rkSentence);
    EXPECT_EQ(recording.Records()[4].Kind, TRecordKind::rkText);
    EXPECT_EQ(recording.ByteCount(), Joined(recording).size());
}

// Fault caught: a frame with a wrong checksum taken for binary and passed whole.
TEST(ReplayRecording, BrokenUbxFrameIsTreatedAsText) {
    std::string frame = UbxFrame();
    frame.back() = static_cast<char>(frame.back() ^ 1);
    EXPECT_EQ(UbxFrameLength(frame, 0), 0u);
    EXPECT_EQ(UbxFrameLength(UbxFrame(), 0), UbxFrame().size());
    const TRecording recording = TRecording::Parse(frame, false, "t");
    EXPECT_NE(Joined(recording), frame);
    EXPECT_EQ(recording.Records().front().Kind, TRecordKind::rkText);
}

// Fault caught: raw mode changing a single byte or dropping headers.
TEST(ReplayRecording, RawKeepsEveryByte) {
    const std::string file = "# header\n$A*00\n\n$B*00\r\n" + UbxFrame() + "tail";
    const TRecording recording = TRecording::Parse(file, true, "t");
    EXPECT_EQ(Joined(recording), file);
    EXPECT_TRUE(recording.Records().front().EndsLine);
    EXPECT_FALSE(recording.Records().back().EndsLine);
}

TEST(ReplayRecording, MissingFileNamesItAndTheReason) {
    try {
        TRecording::Load("/nonexistent/gps.log", false);
        FAIL() << "no error";
    } catch (const TReplayError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/gps.log"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos);
    }
}

// Faults caught: a checksum over the wrong bytes, corruption that leaves it valid or
// touches other bytes, a sentence without checksum changed.
TEST(ReplayChecksum, ComputesAndCorruptsOnlyTheDigits) {
    for (std::string sentence :
         {std::string("$GPZDA,193913.00,07,09,2018,00,00*63\r\n"),
          std::string("!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A"), std::string("$GPHDT,,T*1b")}) {
        ASSERT_TRUE(NmeaChecksumValid(sentence)) << sentence;
        const std::string original = sentence;
        ASSERT_TRUE(CorruptNmeaChecksum(sentence));
        EXPECT_FALSE(NmeaChecksumValid(sentence)) << sentence;
        ASSERT_EQ(sentence.size(), original.size());
        const size_t star = original.find('*');
        EXPECT_EQ(sentence.substr(0, star + 1), original.substr(0, star + 1));
        EXPECT_EQ(sentence.substr(star + 3), original.substr(star + 3));
        EXPECT_NE(sentence.substr(star + 1, 2), original.substr(star + 1, 2));
        // The hex digits keep the letter case of the original.
        const bool lower = original.substr(star + 1, 2) == "1b";
        for (char c : sentence.substr(star + 1, 2))
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) ||
                        (lower ? std::islower(c) : std::isupper(c)));
    }
    std::string noChecksum = "$GPTXT,hello\r\n";
    EXPECT_FALSE(CorruptNmeaChecksum(noChecksum));
    EXPECT_EQ(noChecksum, "$GPTXT,hello\r\n");
    std::string notSentence = "plain*41\r\n";
    EXPECT_FALSE(CorruptNmeaChecksum(notSentence));
}

// Faults caught: bytes allowed early, drift after a late wake-up, a restart that keeps
// the old debt, wake-ups per byte.
TEST(ReplayPacer, FollowsTheLineScheduleWithoutDrift) {
    using namespace std::chrono;
    TPacer pacer(4800, 10); // 480 bytes a second
    const auto base = TReplayClock::time_point(seconds(100));
    pacer.Restart(base);
    EXPECT_EQ(pacer.Allowed(base), 0u);
    EXPECT_EQ(pacer.Allowed(base + microseconds(2083)), 0u); // one byte takes 2083.3 us
    EXPECT_EQ(pacer.Allowed(base + microseconds(2084)), 1u);
    EXPECT_EQ(pacer.Allowed(base + seconds(1)), 480u);
    pacer.Sent(100);
    // Waking late sends what fell due meanwhile, no more.
    EXPECT_EQ(pacer.Allowed(base + seconds(1)), 380u);
    pacer.Sent(380);
    EXPECT_EQ(pacer.Allowed(base + milliseconds(1500)), 240u);
    // Slices of about 5 ms of line time: 2 bytes at 4800 baud.
    EXPECT_EQ(pacer.SliceBytes(), 2u);
    const auto next = pacer.NextSlice();
    EXPECT_GE(pacer.Allowed(next), 2u);
    EXPECT_LT(pacer.Allowed(next - microseconds(10)), 2u);
    pacer.Restart(base + seconds(5));
    EXPECT_EQ(pacer.Allowed(base + seconds(5) + milliseconds(100)), 48u);

    TPacer slow(4800, 20);
    slow.Restart(base);
    EXPECT_EQ(slow.Allowed(base + seconds(1)), 240u);
    TPacer fast(115200, 10);
    EXPECT_EQ(fast.SliceBytes(), 57u);
}

TEST(ReplayLineFormat, ParsesFramesAndTheirBitTimes) {
    EXPECT_DOUBLE_EQ(TLineFormat::Parse("8N1").BitsPerChar(), 10);
    EXPECT_DOUBLE_EQ(TLineFormat::Parse("7E1").BitsPerChar(), 10);
    EXPECT_DOUBLE_EQ(TLineFormat::Parse("8O2").BitsPerChar(), 12);
    EXPECT_DOUBLE_EQ(TLineFormat::Parse("5N1.5").BitsPerChar(), 7.5);
    EXPECT_EQ(TLineFormat::Parse("8s1").Parity(), TLineFormat::pSpace);
    for (const char* bad : {"", "8N", "9N1", "4N1", "8X1", "8N3", "8N1x"})
        EXPECT_THROW(TLineFormat::Parse(bad), TUsageError) << bad;
}

class ReplayMapFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fDir.isValid());
        fPath = (fDir.path() + QStringLiteral("/serialcomm/ports")).toStdString();
    }
    void Write(const std::string& text) {
        MakeFolders(FolderOf(fPath));
        ReplaceFile(fPath, text);
    }
    std::string Read() const { return ReadWholeFile(fPath).value_or("<missing>"); }

    QTemporaryDir fDir;
    std::string fPath;
};

// Faults caught: foreign lines changed (line ends, comments, a last line without LF),
// a replaced entry lost at the end, entries left behind.
TEST_F(ReplayMapFile, KeepsForeignLinesByteForByte) {
    const std::string original =
        "# my ports\r\nCOM3 = /dev/ttyUSB0\r\n\ncom201=/dev/ttyS7 # old\nCOM9 = /dev/x";
    Write(original);
    TPortMapFile map(fPath);
    map.Set("COM201", "/dev/pts/5");
    map.Set("COM202", "/dev/pts/6");
    EXPECT_EQ(
        Read(),
        "# my ports\r\nCOM3 = /dev/ttyUSB0\r\n\nCOM201 = /dev/pts/5\nCOM9 = /dev/x\nCOM202 = /dev/pts/6\n");
    map.Set("COM201", "/dev/pts/9"); // a new device after a hang-up: rewritten in place
    EXPECT_EQ(
        Read(),
        "# my ports\r\nCOM3 = /dev/ttyUSB0\r\n\nCOM201 = /dev/pts/9\nCOM9 = /dev/x\nCOM202 = /dev/pts/6\n");
    map.Remove("COM202");
    EXPECT_EQ(Read(), "# my ports\r\nCOM3 = /dev/ttyUSB0\r\n\nCOM201 = /dev/pts/9\nCOM9 = /dev/x");
    map.RemoveAll();
    EXPECT_EQ(Read(), original);
}

// Fault caught: a map file created by the tool left behind (or an existing empty one removed).
TEST_F(ReplayMapFile, FileCreatedByTheToolGoesAwayAgain) {
    {
        TPortMapFile map(fPath);
        map.Set("COM201", "/dev/pts/5");
        EXPECT_EQ(Read(), "COM201 = /dev/pts/5\n");
        map.RemoveAll();
        EXPECT_FALSE(ReadWholeFile(fPath).has_value());
    }
    Write("");
    TPortMapFile map(fPath);
    map.Set("COM1", "/dev/pts/1");
    map.RemoveAll();
    EXPECT_EQ(Read(), "");
}

// Fault caught: two tools sharing the map file overwriting each other's entries.
TEST_F(ReplayMapFile, TwoEditorsKeepEachOthersEntries) {
    Write("# shared\n");
    TPortMapFile gps(fPath), ais(fPath);
    gps.Set("COM201", "/dev/pts/1");
    ais.Set("COM202", "/dev/pts/2");
    EXPECT_EQ(Read(), "# shared\nCOM201 = /dev/pts/1\nCOM202 = /dev/pts/2\n");
    gps.RemoveAll();
    EXPECT_EQ(Read(), "# shared\nCOM202 = /dev/pts/2\n");
    ais.RemoveAll();
    EXPECT_EQ(Read(), "# shared\n");
}

TEST_F(ReplayMapFile, DefaultPathFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/cfg/here");
    EXPECT_EQ(TPortMapFile::DefaultPath(), "/cfg/here/serialcomm/ports");
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(TPortMapFile::DefaultPath(), qgetenv("HOME").toStdString() + "/.config/serialcomm/ports");
    qputenv("XDG_CONFIG_HOME", saved);
}

// Faults caught: LF line ends, blanks around '=', a key appended after a blank line or
// into the wrong section, foreign lines lost, names matched with their letter case.
TEST(ReplaySettingsFile, WritesTheProgramsSectionsInPlace) {
    TIniText fresh;
    fresh.WriteValue("ComPort GPS", "ComNb", "201");
    fresh.WriteValue("ComPort GPS", "BaudRate", "4800");
    fresh.WriteValue("ComPort AIS", "ComNb", "202");
    EXPECT_EQ(fresh.Text(), "[ComPort GPS]\r\nComNb=201\r\nBaudRate=4800\r\n[ComPort AIS]\r\nComNb=202\r\n");

    TIniText existing("; my notes\n[ comport gps ]\n  comnb = 3 \nParity=0\n\n[Other]\nComNb=77\n");
    existing.WriteValue("ComPort GPS", "ComNb", "201");
    existing.WriteValue("ComPort GPS", "BaudRate", "4800");
    existing.WriteValue("ComPort AIS", "ComNb", "202");
    EXPECT_EQ(existing.Text(),
              "; my notes\r\n[ comport gps ]\r\nComNb=201\r\nParity=0\r\nBaudRate=4800\r\n\r\n"
              "[Other]\r\nComNb=77\r\n[ComPort AIS]\r\nComNb=202\r\n");
}

// Faults caught: the channels' order, the stop-bit and parity encodings.
TEST(ReplaySettingsFile, PortSettingsOfBothChannels) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + QStringLiteral("/brisemer.INI")).toStdString();
    ReplaceFile(path, "[Window]\r\nLeft=4\r\n");
    WritePortSettingsFile(path, {TPortSettings{201, 4800, 8, 1, 0}, TPortSettings{202, 38400, 7, 2, 2}});
    EXPECT_EQ(*ReadWholeFile(path),
              "[Window]\r\nLeft=4\r\n"
              "[ComPort GPS]\r\nComNb=201\r\nBaudRate=4800\r\nDataBits=8\r\nStopBits=1\r\nParity=0\r\n"
              "[ComPort AIS]\r\nComNb=202\r\nBaudRate=38400\r\nDataBits=7\r\nStopBits=2\r\nParity=2\r\n");
}

// Faults caught: a fault aimed at one channel landing on another or overriding the
// wrong way round, the frame not setting the bit time.
TEST(ReplayOptions, ChannelsAndAimedFaults) {
    const TReplayOptions options = ParseReplayOptions(
        {"--port", "COM201:4800:/a.log", "--port=com202:38400:/b:c.aivdm", "--hangup", "COM202:40bytes",
         "--corrupt-checksum", "5", "--corrupt-checksum", "COM201:2", "--reopen", "COM202:0.5", "--format",
         "7E2", "--tty", "COM201=/dev/pts/77", "--loop", "forever", "--pause", "COM201:3:1.5"});
    ASSERT_EQ(options.Channels.size(), 2u);
    const TChannelOptions& gps = options.Channels[0];
    const TChannelOptions& ais = options.Channels[1];
    EXPECT_EQ(gps.PortName, "COM201");
    EXPECT_EQ(gps.Baud, 4800u);
    EXPECT_EQ(gps.TtyPath, "/dev/pts/77");
    EXPECT_EQ(gps.Faults.CorruptEvery, 2u);
    EXPECT_EQ(gps.Faults.HangupAfter, 0u);
    EXPECT_EQ(gps.Faults.PauseAfter, 3u);
    EXPECT_DOUBLE_EQ(gps.Faults.PauseSeconds, 1.5);
    EXPECT_EQ(ais.PortName, "COM202");
    EXPECT_EQ(ais.PortNumber, 202u);
    EXPECT_EQ(ais.RecordingPath, "/b:c.aivdm");
    EXPECT_TRUE(ais.TtyPath.empty());
    EXPECT_EQ(ais.Faults.CorruptEvery, 5u);
    EXPECT_EQ(ais.Faults.HangupAfter, 40u);
    EXPECT_TRUE(ais.Faults.HangupInBytes);
    EXPECT_EQ(ais.Faults.ReopenSeconds.value_or(-1), 0.5);
    EXPECT_EQ(ais.Faults.PauseAfter, 0u);
    EXPECT_TRUE(options.LoopForever);
    EXPECT_DOUBLE_EQ(options.BitsPerChar, 11); // start, 7 data, parity, 2 stop
    EXPECT_DOUBLE_EQ(ParseReplayOptions({"--bits-per-char", "11", "--port", "COM1:9600:x"}).BitsPerChar, 11);
}

TEST(ReplayOptions, BadCommandLinesSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no channel"},
        {{"--port", "COM1:4800"}, "COMn:BAUD:FILE"},
        {{"--port", "PORT1:4800:x"}, "'PORT1' is not a port name"},
        {{"--port", "COM0:4800:x"}, "'COM0' is not a port name"},
        {{"--port", "COM1:fast:x"}, "'fast' is not a whole number"},
        {{"--port", "COM1:0:x"}, "'0' is not a whole number"},
        {{"--port", "COM1:4800:x", "--port", "com1:9600:y"}, "COM1 is given twice"},
        {{"--port", "COM1:4800:x", "--loop", "0"}, "--loop"},
        {{"--port", "COM1:4800:x", "--loop"}, "--loop needs a value"},
        {{"--port", "COM1:4800:x", "--duration", "-1"}, "--duration"},
        {{"--port", "COM1:4800:x", "--pause", "5"}, "AFTER:SECONDS"},
        {{"--port", "COM1:4800:x", "--hangup", "COM2:5"}, "COM2 is not one of the --port channels"},
        {{"--port", "COM1:4800:x", "--reopen", "1"}, "need --hangup"},
        {{"--port", "COM1:4800:x", "--port", "COM2:4800:y", "--tty", "/dev/pts/3"}, "say which one"},
        {{"--port", "COM1:4800:x", "--flood=yes"}, "--flood takes no value"},
        {{"--port", "COM1:4800:x", "--speed", "3"}, "unknown option '--speed'"},
        {{"--port", "COM1:4800:x", "extra"}, "unexpected argument 'extra'"},
        {{"--port", "COM1:4800:x", "--bits-per-char", "0"}, "--bits-per-char"},
        {{"--port", "COM1:4800:x", "--map-file", "m", "--no-map-file"}, "exclude each other"},
    };
    for (const auto& [args, fragment] : cases) {
        try {
            ParseReplayOptions(args);
            ADD_FAILURE() << "accepted: " << ::testing::PrintToString(args);
        } catch (const TUsageError& error) {
            EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos)
                << error.what() << " lacks " << fragment;
        }
    }
    EXPECT_TRUE(ParseReplayOptions({"--port", "bad", "--help"}).Help);
}
