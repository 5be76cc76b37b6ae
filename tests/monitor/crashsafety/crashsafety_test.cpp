// Crash safety of the settings file: a program killed while it writes the settings file or
// saves a pane never leaves a torn settings file, and a write that fails keeps the old one.
//
// A child process (settingswriter) saves a large settings file in a loop as the main window
// does on quit; the test kills it with SIGKILL at random moments inside the writes and then
// requires the file to be one whole version, byte for byte: the last one the child
// reported or the one it was writing. The same kills against a writer that overwrites the
// file in place must see torn files, which shows that the kills land inside the writes.
#include "monitorsettings.h"
#include "settingsfile.h"

#include <QByteArrayList>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <thread>

namespace {

constexpr int kKillRounds = 30;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    ASSERT_EQ(f.write(data), data.size());
}

// A settings file of about two megabytes: the ten values among a user's own notes, as the
// program keeps every line it does not write.
QByteArray LargeSettingsFile() {
    QByteArray data = "; Brisemer settings of the bridge console\r\n"
                      "[ComPort GPS]\r\nComNb=1\r\nBaudRate=4800\r\nDataBits=8\r\nStopBits=1\r\nParity=0\r\n"
                      "[Log]\r\n";
    const QByteArray padding(440, 'x');
    for (int i = 0; i < 4000; ++i)
        data += "; sentence " + QByteArray::number(i) + " $GPGGA,123519,4807.038,N,01131.000,E " + padding +
                "\r\n";
    data += "[ComPort AIS]\r\nComNb=2\r\nBaudRate=38400\r\nDataBits=8\r\nStopBits=2\r\nParity=2\r\n";
    return data;
}

class SettingsCrashSafety : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString ini;
    QByteArray original;
    std::mt19937 random{std::random_device{}()};

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ini = dir.filePath(QStringLiteral("brisemer.INI"));
        original = LargeSettingsFile();
        WriteAll(ini, original);
    }

    // The whole file as the child writes it with GPS port `port`.
    QByteArray Version(int port) {
        const QString scratch = dir.filePath(QStringLiteral("version-source"));
        WriteAll(scratch, original);
        TIniFile file(scratch);
        TnrComm gps, ais;
        ReadPortSettings(file, kSectionGPS, kDefaultBaudGPS, &gps);
        ReadPortSettings(file, kSectionAIS, kDefaultBaudAIS, &ais);
        gps.SetComPortNo(static_cast<std::uint16_t>(port));
        WritePortSettings(file, kSectionGPS, &gps);
        WritePortSettings(file, kSectionAIS, &ais);
        QFile::remove(scratch);
        return file.Contents();
    }

    // The GPS port of the file on disk when it is one whole version, otherwise nothing.
    std::optional<int> WholeVersion() {
        const QByteArray bytes = ReadAll(ini);
        const int port = TIniFile(ini).ReadInteger(kSectionGPS, QStringLiteral("ComNb"), -1);
        if (port < 0 || bytes != Version(port)) return std::nullopt;
        return port;
    }

    struct TChild {
        QProcess process;
        QByteArray output;

        QByteArrayList Lines() const {
            QByteArrayList lines = output.split('\n');
            lines.removeLast(); // the unfinished line, or the empty piece after the last one
            return lines;
        }
        // Waits until the newest line the child printed starts with `prefix`, which tells
        // that the child is in that step now; returns the rest of the line.
        std::optional<QByteArray> AwaitCurrent(const QByteArray& prefix) {
            QElapsedTimer timer;
            timer.start();
            for (;;) {
                const QByteArrayList lines = Lines();
                if (!lines.isEmpty() && lines.last().startsWith(prefix))
                    return lines.last().mid(prefix.size());
                if (timer.elapsed() > 60000 || process.state() != QProcess::Running) return std::nullopt;
                process.waitForReadyRead(100);
                output += process.readAllStandardOutput();
            }
        }
        // The port of the last write the child finished, from all it printed.
        int LastWritten() {
            output += process.readAllStandardOutput();
            const QByteArrayList lines = Lines();
            for (qsizetype i = lines.size() - 1; i >= 0; --i)
                if (lines[i].startsWith("wrote ")) return lines[i].mid(6).toInt();
            return -1;
        }
    };

    void Start(TChild& child, const QStringList& args) {
        child.process.setProgram(QStringLiteral(CRASHSAFETY_WRITER));
        child.process.setArguments(args);
        child.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.process.start();
        ASSERT_TRUE(child.process.waitForStarted()) << qPrintable(child.process.errorString());
    }

    // Kills the child with SIGKILL after a random part of `window`.
    void KillAfter(TChild& child, std::chrono::microseconds window) {
        std::uniform_int_distribution<long> pick(0, std::max<long>(1, window.count()));
        std::this_thread::sleep_for(std::chrono::microseconds(pick(random)));
        child.process.kill();
        ASSERT_TRUE(child.process.waitForFinished(10000));
        EXPECT_EQ(child.process.exitStatus(), QProcess::CrashExit);
    }

    // One round against a settings writer: measures how long one write takes, then kills
    // the child somewhere inside a later write. Returns the port of the last write the
    // child finished.
    std::optional<int> KillRoundDuringSettingsWrite(const QString& mode) {
        TChild child;
        Start(child, {mode, ini});
        if (!child.AwaitCurrent("writing ")) return std::nullopt;
        QElapsedTimer writing;
        writing.start();
        if (!child.AwaitCurrent("wrote ")) return std::nullopt;
        const auto duration = std::chrono::microseconds(writing.nsecsElapsed() / 1000);
        if (!child.AwaitCurrent("writing ")) return std::nullopt;
        KillAfter(child, duration);
        return child.LastWritten();
    }
};

TEST_F(SettingsCrashSafety, KilledWhileWritingLeavesTheOldOrTheNewFileNeverATornOne) {
    // A temporary file an earlier killed run might have left: it must not disturb anything.
    const QString leftover = ini + QStringLiteral(".Xq3Lm0");
    WriteAll(leftover, original.left(original.size() / 2));

    int lastPort = 1;
    for (int round = 0; round < kKillRounds; ++round) {
        SCOPED_TRACE(round);
        const std::optional<int> reported = KillRoundDuringSettingsWrite(QStringLiteral("save"));
        ASSERT_TRUE(reported && *reported > 0) << "the writer stopped before it was killed";
        const std::optional<int> onDisk = WholeVersion();
        ASSERT_TRUE(onDisk) << "a torn settings file of " << ReadAll(ini).size() << " bytes";
        // Nothing written is lost: the version on disk is the last one the child finished
        // or the one it was writing.
        EXPECT_TRUE(*onDisk == *reported || *onDisk == *reported + 1) << *onDisk << " after " << *reported;
        lastPort = *onDisk;
    }

    // Whatever temporary files the kills left, the next start reads the real file and the
    // next quit writes it.
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
        EXPECT_TRUE(name == QStringLiteral("brisemer.INI") ||
                    name.startsWith(QStringLiteral("brisemer.INI.")))
            << qPrintable(name);
    TIniFile next(ini);
    EXPECT_EQ(next.ReadInteger(kSectionGPS, QStringLiteral("ComNb"), -1), lastPort);
    next.WriteUnsigned(kSectionGPS, QStringLiteral("ComNb"), 7);
    next.UpdateFile();
    EXPECT_EQ(ReadAll(ini), Version(7));
    EXPECT_EQ(ReadAll(leftover), original.left(original.size() / 2));
}

TEST_F(SettingsCrashSafety, TheSameKillsTearAFileWrittenInPlace) {
    // The control: without the temporary file and the rename the kills do leave torn
    // files, so the rounds above really hit the writes.
    int torn = 0;
    for (int round = 0; round < kKillRounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(KillRoundDuringSettingsWrite(QStringLiteral("inplace")));
        if (!WholeVersion()) ++torn;
    }
    RecordProperty("torn", torn);
    EXPECT_GT(torn, 0) << "no kill landed inside an in-place write";
}

TEST_F(SettingsCrashSafety, KilledWhileSavingAPaneLeavesTheSettingsFileWhole) {
    const QString txt = dir.filePath(QStringLiteral("gps.txt"));
    for (int round = 0; round < kKillRounds / 3; ++round) {
        SCOPED_TRACE(round);
        TChild child;
        Start(child, {QStringLiteral("pane"), ini, txt, QStringLiteral("200000")});
        ASSERT_TRUE(child.AwaitCurrent("saving pane"));
        QElapsedTimer saving;
        saving.start();
        ASSERT_TRUE(child.AwaitCurrent("saved pane"));
        const auto duration = std::chrono::microseconds(saving.nsecsElapsed() / 1000);
        ASSERT_TRUE(child.AwaitCurrent("saving pane"));
        KillAfter(child, duration);
        const int written = child.LastWritten();
        ASSERT_GT(written, 0);
        const std::optional<int> onDisk = WholeVersion();
        ASSERT_TRUE(onDisk) << "a torn settings file of " << ReadAll(ini).size() << " bytes";
        // A kill during the pane's save finds the settings file as the last save left it
        // (or, when the pane's save had ended, a settings save under way).
        EXPECT_TRUE(*onDisk == written || *onDisk == written + 1) << *onDisk << " after " << written;
    }
}

TEST_F(SettingsCrashSafety, AFailedWriteKeepsTheExistingFileAndLeavesNoTemporaryFile) {
    // Files limited to 64 KiB: the kernel refuses the temporary file's bytes past the limit
    // (EFBIG), as a full disk would refuse them.
    QProcess child;
    child.start(QStringLiteral(CRASHSAFETY_WRITER),
                {QStringLiteral("limited"), ini, QStringLiteral("65536")});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 3);
    EXPECT_TRUE(child.readAllStandardOutput().endsWith("\nfailed: Impossible d'écrire dans " +
                                                       QFileInfo(ini).absoluteFilePath().toUtf8() + '\n'));
    EXPECT_EQ(ReadAll(ini), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("brisemer.INI")});

    // With room enough the same save goes through: the limit was the only obstacle.
    child.start(QStringLiteral(CRASHSAFETY_WRITER),
                {QStringLiteral("limited"), ini, QStringLiteral("67108864")});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_EQ(ReadAll(ini), Version(2));
}

} // namespace
