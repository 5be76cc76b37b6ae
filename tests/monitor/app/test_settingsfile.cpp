// The INI profile: names beside the executable or in the user's configuration folder, integer reading, reading with the profile
// rules, writing in place with every other line kept byte for byte, writing where no
// temporary file can be made, and failures that must leave the file on disk untouched.
#include "nrcomponent.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    f.write(data);
}

} // namespace

TEST(SettingsFileName, ReplacesOnlyTheExtensionOfTheFileName) {
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/opt/tools/monitor.exe")),
              QStringLiteral("/opt/tools/monitor.INI"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/work/build/monitor/brisemer")),
              QStringLiteral("/work/build/monitor/brisemer.INI"));
    // A dot in a folder name is not an extension.
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/home/a.b/brisemer")),
              QStringLiteral("/home/a.b/brisemer.INI"));
    EXPECT_EQ(SettingsFileNameFor(QStringLiteral("/x/archive.tar.gz")), QStringLiteral("/x/archive.tar.INI"));
}

// Beside the executable where it can be; an installed program in a folder its user
// cannot write keeps it in the user's configuration folder. The unwritable cases run in a
// child process; as root, which may write anywhere, the child runs as nobody.
TEST(SettingsFileName, AnInstalledProgramKeepsItInTheUserConfigFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString exe = bin + QStringLiteral("/brisemer");
    const QString beside = bin + QStringLiteral("/brisemer.INI");
    EXPECT_EQ(SettingsFileLocationFor(exe), beside);
    EXPECT_EQ(SaveFolderFor(exe), bin);
    // A program the package manager installed, run by root, who could write there.
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    EXPECT_EQ(SettingsFileLocationFor(QStringLiteral("/usr/bin/brisemer")),
              dir.filePath(QStringLiteral("config/brisemer/brisemer.INI")));
    EXPECT_EQ(SaveFolderFor(QStringLiteral("/usr/bin/brisemer")), QDir::homePath());
    qputenv("XDG_CONFIG_HOME", config);

    const auto readAndEnter = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner |
                              QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), readAndEnter | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(bin, readAndEnter));
    // Returns which check failed, 0 when all passed.
    const auto asNobody = [&](bool fileBeside) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        setenv("HOME", "/nonexistent/home", 1);
        setenv("XDG_CONFIG_HOME", "/nonexistent/config", 1);
        if (fileBeside) return SettingsFileLocationFor(exe) == beside ? 0 : 3;
        if (SettingsFileLocationFor(exe) != QStringLiteral("/nonexistent/config/brisemer/brisemer.INI")) return 4;
        // A relative XDG_CONFIG_HOME is not a configuration folder.
        setenv("XDG_CONFIG_HOME", "config", 1);
        if (SettingsFileLocationFor(exe) != QStringLiteral("/nonexistent/home/.config/brisemer/brisemer.INI"))
            return 5;
        return SaveFolderFor(exe) == QStringLiteral("/nonexistent/home") ? 0 : 6;
    };
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(std::_Exit(asNobody(false)), ::testing::ExitedWithCode(0), "");
    // A settings file already beside the executable stays the program's file.
    ASSERT_TRUE(QFile::setPermissions(bin, readAndEnter | QFile::WriteOwner));
    WriteAll(beside, "[ComPort GPS]\r\n");
    ASSERT_TRUE(QFile::setPermissions(bin, readAndEnter));
    EXPECT_EXIT(std::_Exit(asNobody(true)), ::testing::ExitedWithCode(0), "");
    ASSERT_TRUE(QFile::setPermissions(bin, readAndEnter | QFile::WriteOwner));
}

TEST(SettingsInteger, DecimalAndHexadecimalForms) {
    struct TCase {
        const char* text;
        std::optional<std::int32_t> expected;
    };
    const TCase cases[] = {
        {"9600", 9600},
        {"  42", 42},
        {"+7", 7},
        {"-7", -7},
        {"$2580", 9600},
        {"x2580", 9600},
        {"X1f", 31},
        {"0x2580", 9600},
        {"0XFF", 255},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1}, // all 32 bits, as a bit pattern
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$100000000", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"96OO", std::nullopt},
        {"12 ", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"1.5", std::nullopt},
        {"$G0", std::nullopt},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TryStrToInt(QString::fromLatin1(c.text)), c.expected) << c.text;
        EXPECT_EQ(StrToIntDef(QString::fromLatin1(c.text), -99), c.expected.value_or(-99)) << c.text;
    }
}

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("brisemer.INI"));
    }
};

TEST_F(IniFileTest, ReadsWithTheProfileRules) {
    WriteAll(path, "; a comment line\r\n"
                   "comnb=99\r\n" // before any section: belongs to none
                   "[other]\n"
                   "BaudRate=1\n"
                   "  [ comport gps ]  ; trailing remark\r\n"
                   ";ComNb=5\r\n"
                   "# ComNb=6\r\n"
                   "  comnb  =  3  \r\n"
                   "BaudRate=0x2580\r\n"
                   "DataBits=$7\r\n"
                   "StopBits=\r\n"
                   "Parity=96OO\r\n"
                   "ComNb=4\r\n" // a second key of the same name: the first wins
                   "[ComPort GPS]\r\n"
                   "Extra=1\r\n" // a second section of the same name is not read
                   "[ComPort AIS]\r\n"
                   "BaudRate=-0x10\r\n");
    TIniFile ini(path);
    EXPECT_TRUE(ini.SectionExists(QStringLiteral("ComPort GPS")));
    EXPECT_FALSE(ini.SectionExists(QStringLiteral("ComPort")));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 0), 3);
    EXPECT_EQ(ini.ReadString(QStringLiteral("COMPORT GPS"), QStringLiteral("COMNB"), QString()),
              QStringLiteral("3"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("BaudRate"), 4800), 9600);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("DataBits"), 8), 7);
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("ComPort GPS"), QStringLiteral("StopBits")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("ComPort GPS"), QStringLiteral("StopBits"), QStringLiteral("d")),
              QString());
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("StopBits"), 1), 1);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("Parity"), 0), 0);
    EXPECT_FALSE(ini.ValueExists(QStringLiteral("ComPort GPS"), QStringLiteral("Extra")));
    // "-0x10" does not start with 0x, so the sign comes first and 0x still means hexadecimal.
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort AIS"), QStringLiteral("BaudRate"), 38400), -16);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("ComPort AIS"), QStringLiteral("ComNb"), 0), 0);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Missing"), QStringLiteral("ComNb"), 12), 12);
}

TEST_F(IniFileTest, LongValuesAreCutAndEightBitTextIsWindows1252) {
    WriteAll(path, "[s]\r\nlong=" + QByteArray(5000, '7') + "\r\nname=caf\xE9\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString(QStringLiteral("s"), QStringLiteral("long"), QString()).size(), 2047);
    // Too long for 32 bits: the default.
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("s"), QStringLiteral("long"), 5), 5);
    EXPECT_EQ(ini.ReadString(QStringLiteral("s"), QStringLiteral("name"), QString()), QStringLiteral("café"));
}

TEST_F(IniFileTest, MissingDirectoryAndUnreadableFilesReadAsEmpty) {
    TIniFile missing(path);
    EXPECT_FALSE(missing.SectionExists(QStringLiteral("ComPort GPS")));
    EXPECT_TRUE(missing.Contents().isEmpty());

    ASSERT_TRUE(QDir().mkpath(path));
    TIniFile directory(path);
    EXPECT_EQ(directory.ReadInteger(QStringLiteral("ComPort GPS"), QStringLiteral("BaudRate"), 4800), 4800);
}

TEST_F(IniFileTest, WritingFromNothingGivesSectionsAndKeysInOrderWithCrLf) {
    TIniFile ini(path);
    ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 0);
    ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("BaudRate"), 4800);
    ini.WriteUnsigned(QStringLiteral("ComPort AIS"), QStringLiteral("ComNb"), 2);
    ini.WriteInteger(QStringLiteral("ComPort GPS"), QStringLiteral("Parity"), -1);
    ini.WriteUnsigned(QStringLiteral("ComPort AIS"), QStringLiteral("BaudRate"), 4294967295u);
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(path), QByteArray("[ComPort GPS]\r\nComNb=0\r\nBaudRate=4800\r\nParity=-1\r\n"
                                        "[ComPort AIS]\r\nComNb=2\r\nBaudRate=4294967295\r\n"));
}

TEST_F(IniFileTest, WritingKeepsEveryOtherLineAndPutsNewKeysInTheirSection) {
    WriteAll(path, "; Brisemer settings\n"
                   "[Display]\n"
                   "Font = Courier New\n"
                   "\n"
                   "[comport gps]\n"
                   "  comnb = 3 \n"
                   "; speed of the receiver\n"
                   "BaudRate=4800\n"
                   "\n"
                   "[Notes]\n"
                   "text=caf\xE9 \xC3\xA9"); // Windows-1252 and a stray UTF-8 pair, no final line end
    TIniFile ini(path);
    ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 7);
    ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("DataBits"), 8);
    ini.WriteUnsigned(QStringLiteral("ComPort AIS"), QStringLiteral("ComNb"), 0);
    ini.UpdateFile();
    // The lines it did not write keep their LF; the last one gets a line end because a
    // section follows it now.
    EXPECT_EQ(ReadAll(path), QByteArray("; Brisemer settings\n"
                                        "[Display]\n"
                                        "Font = Courier New\n"
                                        "\n"
                                        "[comport gps]\n"
                                        "comnb=7\r\n"
                                        "; speed of the receiver\n"
                                        "BaudRate=4800\n"
                                        "DataBits=8\r\n"
                                        "\n"
                                        "[Notes]\n"
                                        "text=caf\xE9 \xC3\xA9\r\n"
                                        "[ComPort AIS]\r\n"
                                        "ComNb=0\r\n"));
    // Written again, nothing moves.
    const QByteArray once = ReadAll(path);
    TIniFile again(path);
    again.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 7);
    again.UpdateFile();
    EXPECT_EQ(ReadAll(path), once);

    // A last line without a line end that nothing follows keeps having none.
    WriteAll(path, "[ComPort GPS]\nComNb=3\n; hand-written, no line end");
    TIniFile unended(path);
    unended.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 4);
    unended.UpdateFile();
    EXPECT_EQ(ReadAll(path), QByteArray("[ComPort GPS]\nComNb=4\r\n; hand-written, no line end"));
}

TEST_F(IniFileTest, ReadOnlyFileIsRefusedAndLeftAlone) {
    const QByteArray before("[ComPort GPS]\r\nComNb=1\r\n");
    WriteAll(path, before);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    TIniFile ini(path);
    ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 5);
    try {
        ini.UpdateFile();
        FAIL() << "a read-only file was written";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Impossible d'écrire dans ") + QFileInfo(path).absoluteFilePath());
    }
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(IniFileTest, UnwritablePlacesFailWithTheirFullName) {
    // A folder where the file should be, and a file where a folder should be.
    ASSERT_TRUE(QDir().mkpath(path));
    TIniFile onDirectory(path);
    onDirectory.WriteUnsigned(QStringLiteral("s"), QStringLiteral("k"), 1);
    EXPECT_THROW(onDirectory.UpdateFile(), ENrException);
    EXPECT_TRUE(QFileInfo(path).isDir());

    const QString plainFile = dir.filePath(QStringLiteral("plain"));
    WriteAll(plainFile, "x");
    const QString underFile = plainFile + QStringLiteral("/brisemer.INI");
    TIniFile underAFile(underFile);
    underAFile.WriteUnsigned(QStringLiteral("s"), QStringLiteral("k"), 1);
    try {
        underAFile.UpdateFile();
        FAIL() << "wrote below a plain file";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Impossible d'écrire dans ") + underFile);
    }
    EXPECT_EQ(ReadAll(plainFile), QByteArray("x"));
}

// The file may be written but no file can be made beside it. The write runs in a child
// process; as root, which may make files anywhere, the child runs as nobody.
TEST_F(IniFileTest, AFileInAFolderWhereNothingCanBeMadeIsWrittenInPlace) {
    WriteAll(path, "; kept\n[ComPort GPS]\r\nComNb=1\r\n");
    const QString missing = dir.filePath(QStringLiteral("missing.INI"));
    const auto all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(path, all | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), all | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
    // Forked, so the child writes the files this test made.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
                std::fputs("cannot become nobody\n", stderr);
                std::_Exit(2);
            }
            TIniFile ini(path);
            ini.WriteUnsigned(QStringLiteral("ComPort GPS"), QStringLiteral("ComNb"), 5);
            try {
                ini.UpdateFile();
            } catch (const ENrException& e) {
                std::fputs(qPrintable(e.Message()), stderr);
                std::_Exit(3);
            }
            // A file that does not exist yet cannot be made there: refused with its name.
            TIniFile fresh(missing);
            fresh.WriteUnsigned(QStringLiteral("s"), QStringLiteral("k"), 1);
            try {
                fresh.UpdateFile();
            } catch (const ENrException& e) {
                std::_Exit(e.Message() == QStringLiteral("Impossible d'écrire dans ") + missing ? 0 : 4);
            }
            std::_Exit(5);
        },
        ::testing::ExitedWithCode(0), "");
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    EXPECT_EQ(ReadAll(path), QByteArray("; kept\n[ComPort GPS]\r\nComNb=5\r\n"));
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
}

TEST_F(IniFileTest, ReplacingKeepsPermissionsAndWritesThroughALink) {
    WriteAll(path, "[s]\r\nk=1\r\n");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    const QString link = dir.filePath(QStringLiteral("link.INI"));
    ASSERT_TRUE(QFile::link(path, link));

    TIniFile ini(link);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("s"), QStringLiteral("k"), 0), 1);
    ini.WriteUnsigned(QStringLiteral("s"), QStringLiteral("k"), 2);
    ini.UpdateFile();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(path), QByteArray("[s]\r\nk=2\r\n"));
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther),
              QFile::ReadOwner | QFile::WriteOwner);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}
