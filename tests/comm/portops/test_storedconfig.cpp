// The stored configuration of a port: the registry store's files and names, the 49-byte
// value's layout, save and load on closed and open ports, and every way the store can be
// damaged or unusable.

#include "commtestutil.h"
#include "nrcomm.h"
#include "ptylinestate.h"
#include "ptypair.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>

namespace {

const QString kKey = QStringLiteral("Software\\Brisemer\\Ports");

QString RootFolder(HKEY root) {
    return TnrRegistry::StoreFolder() + (root == HKEY_CURRENT_USER ? QStringLiteral("/HKEY_CURRENT_USER")
                                                                   : QStringLiteral("/HKEY_LOCAL_MACHINE"));
}

QString ValuePath(const QString& key, const QString& name, HKEY root = HKEY_CURRENT_USER) {
    return RootFolder(root) + QLatin1Char('/') + TnrRegistry::KeyFileName(key) + QLatin1Char('/') +
           TnrRegistry::ValueFileName(name);
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteValue(const QString& key, const QString& name, const QByteArray& bytes) {
    TnrRegistry registry;
    ASSERT_TRUE(registry.OpenKey(key, true));
    registry.WriteBinaryData(name, bytes);
}

// Every file below the configuration home, relative to it.
QStringList FilesUnderConfigHome() {
    QStringList files;
    const QString home = TTestEnvironment::ConfigHome();
    QDirIterator it(home, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(home.size() + 1);
    files.sort();
    return files;
}

QStringList WithoutStamps(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines)
        out << line.section(QLatin1Char(' '), 2);
    return out;
}

bool SameDcb(const TDCB& a, const TDCB& b) {
    return std::memcmp(&a, &b, sizeof(TDCB)) == 0;
}

class StoredConfig : public testing::Test {
protected:
    void SetUp() override { QDir(TnrRegistry::StoreFolder()).removeRecursively(); }
    void TearDown() override { QDir(TnrRegistry::StoreFolder()).removeRecursively(); }
};

// A component whose every stored field differs from a new component's.
void GiveDistinctSettings(TnrComm& com) {
    com.SetComPortNo(300); // stored as 300 mod 256 = 44
    com.SetBaudRate(57600);
    com.SetByteSize(7);
    com.SetParity(pEven);
    com.SetStopBits(sbTwo);
    com.SetEventChar(u'\n');
    com.SetStreamProtocol(spNone);
    TCommTimeouts t;
    t.ReadIntervalTimeout = 11;
    t.ReadTotalTimeoutMultiplier = 0x01020304;
    t.ReadTotalTimeoutConstant = 33;
    t.WriteTotalTimeoutMultiplier = 44;
    t.WriteTotalTimeoutConstant = 0xA0B0C0D0;
    com.SetTimeouts(t);
}

} // namespace

TEST_F(StoredConfig, RegistryNamesStayInsideTheStoreAndIgnoreCase) {
    EXPECT_EQ(TnrRegistry::KeyFileName(QStringLiteral("Software\\App")),
              TnrRegistry::KeyFileName(QStringLiteral("\\SOFTWARE\\\\app\\")));
    EXPECT_NE(TnrRegistry::KeyFileName(QStringLiteral("Software\\App")),
              TnrRegistry::KeyFileName(QStringLiteral("Software\\App2")));
    EXPECT_EQ(TnrRegistry::KeyFileName(QString()), QStringLiteral("@"));
    EXPECT_EQ(TnrRegistry::ValueFileName(QString()), QStringLiteral("@"));
    EXPECT_NE(TnrRegistry::ValueFileName(QStringLiteral("@")), QStringLiteral("@"));
    for (const QString& hostile :
         {QStringLiteral(".."), QStringLiteral("."), QStringLiteral("../../etc/passwd"),
          QStringLiteral("..\\..\\etc"), QStringLiteral("a/b")}) {
        for (const QString& name : {TnrRegistry::KeyFileName(hostile), TnrRegistry::ValueFileName(hostile)}) {
            EXPECT_FALSE(name.contains(QLatin1Char('/'))) << name.toStdString();
            EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << name.toStdString();
        }
    }
    // Long names become shorter file names that still tell them apart.
    const QString longA = QString(300, QLatin1Char('a')), longB = longA + QLatin1Char('b');
    EXPECT_LE(TnrRegistry::ValueFileName(longA).toUtf8().size(), 200);
    EXPECT_NE(TnrRegistry::ValueFileName(longA), TnrRegistry::ValueFileName(longB));
    EXPECT_NE(TnrRegistry::KeyFileName(QString(100, QChar(0x00e9))),
              TnrRegistry::KeyFileName(QString(101, QChar(0x00e9))));

    // Written through hostile names, the values land inside the store and read back.
    WriteValue(QStringLiteral("..\\..\\etc"), QStringLiteral("../../passwd"), "x");
    WriteValue(QString(300, QLatin1Char('k')), longA, "long");
    for (const QString& file : FilesUnderConfigHome()) {
        if (file == QStringLiteral("serialcomm/ports")) continue; // the tests' own port map
        EXPECT_TRUE(file.startsWith(QStringLiteral("serialcomm/registry/HKEY_CURRENT_USER/")))
            << file.toStdString();
    }
    TnrRegistry registry;
    ASSERT_TRUE(registry.OpenKey(QStringLiteral("..\\..\\ETC"), false));
    EXPECT_EQ(registry.ReadBinaryData(QStringLiteral("../../PASSWD")), QByteArray("x"));
    ASSERT_TRUE(registry.OpenKey(QString(300, QLatin1Char('K')), false));
    EXPECT_EQ(registry.ReadBinaryData(longA), QByteArray("long"));
}

TEST_F(StoredConfig, RegistryKeysValuesAndRoots) {
    TnrRegistry user(HKEY_CURRENT_USER), machine(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(user.OpenKey(kKey, false)); // missing and not created
    EXPECT_FALSE(user.HasCurrentKey());
    EXPECT_THROW(user.WriteBinaryData(QStringLiteral("v"), "x"), ERegistryException);
    EXPECT_THROW(user.ReadBinaryData(QStringLiteral("v")), ERegistryException);

    ASSERT_TRUE(user.OpenKey(kKey, true));
    ASSERT_TRUE(machine.OpenKey(kKey, true));
    EXPECT_FALSE(user.ValueExists(QStringLiteral("v")));
    EXPECT_EQ(user.GetDataSize(QStringLiteral("v")), -1);
    user.WriteBinaryData(QStringLiteral("v"), QByteArray("user\0value", 10));
    machine.WriteBinaryData(QStringLiteral("v"), "machine");
    EXPECT_TRUE(user.ValueExists(QStringLiteral("V")));
    EXPECT_EQ(user.GetDataSize(QStringLiteral("v")), 10);
    EXPECT_EQ(user.ReadBinaryData(QStringLiteral("v")), QByteArray("user\0value", 10));
    EXPECT_EQ(machine.ReadBinaryData(QStringLiteral("v")), QByteArray("machine"));

    // Rewriting replaces the whole value and leaves no temporary file behind.
    user.WriteBinaryData(QStringLiteral("v"), "2");
    user.WriteBinaryData(QString(), "default");
    EXPECT_EQ(user.ReadBinaryData(QStringLiteral("v")), QByteArray("2"));
    EXPECT_EQ(QDir(user.CurrentKeyFolder()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    TnrRegistry unknown(static_cast<HKEY>(0x80000005u));
    EXPECT_THROW(unknown.OpenKey(kKey, true), ERegistryException);
}

TEST_F(StoredConfig, SaveThenLoadRestoresPortLineSettingsAndTimeouts) {
    TnrLogFile log;
    TnrComm saved;
    GiveDistinctSettings(saved);
    saved.SetLog(&log);
    saved.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("GPS"));

    // The value: 49 bytes, port number, the device control block, five timeouts, all
    // little-endian.
    const QByteArray value = FileBytes(ValuePath(kKey, QStringLiteral("GPS")));
    ASSERT_EQ(value.size(), 49);
    const auto* bytes = reinterpret_cast<const uchar*>(value.constData());
    EXPECT_EQ(bytes[0], 44);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 1), 28u);    // DCBlength
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 5), 57600u); // BaudRate
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 9), std::uint32_t(saved.LineSettings().Flags));
    EXPECT_EQ(bytes[1 + 18], 7); // ByteSize
    EXPECT_EQ(bytes[1 + 19], EVENPARITY);
    EXPECT_EQ(bytes[1 + 20], TWOSTOPBITS);
    EXPECT_EQ(bytes[1 + 25], '\n'); // EvtChar
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 29), 11u);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 33), 0x01020304u);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 37), 33u);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 41), 44u);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes + 45), 0xA0B0C0D0u);

    TnrComm loaded;
    loaded.SetStreamProtocol(spNone);
    loaded.SetLog(&log);
    loaded.LoadConfig(HKEY_CURRENT_USER, QStringLiteral("software\\BRISEMER\\ports"), QStringLiteral("gps"));
    EXPECT_EQ(loaded.ComPortNo(), 44);
    EXPECT_TRUE(SameDcb(loaded.LineSettings(), saved.LineSettings()));
    EXPECT_EQ(loaded.BaudRate(), 57600u);
    EXPECT_EQ(loaded.ByteSize(), 7);
    EXPECT_EQ(loaded.Parity(), pEven);
    EXPECT_EQ(loaded.StopBits(), sbTwo);
    EXPECT_EQ(loaded.EventChar(), u'\n');
    EXPECT_EQ(loaded.TimeoutRead(), 11u);
    EXPECT_EQ(loaded.TimeoutWrite(), 0xA0B0C0D0u);
    EXPECT_EQ(loaded.CommTimeouts().ReadTotalTimeoutMultiplier, 0x01020304u);
    EXPECT_EQ(loaded.CommTimeouts().ReadTotalTimeoutConstant, 33u);
    EXPECT_EQ(loaded.CommTimeouts().WriteTotalTimeoutMultiplier, 44u);
    EXPECT_EQ(WithoutStamps(log.Lines()), (QStringList{QStringLiteral("nrComm: Configuration was saved"),
                                                       QStringLiteral("nrComm: Configuration was loaded")}));
}

TEST_F(StoredConfig, AValueOfAnotherSizeOrNoValueChangesNothing) {
    TnrComm source;
    GiveDistinctSettings(source);
    source.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Full"));
    const QByteArray full = FileBytes(ValuePath(kKey, QStringLiteral("Full")));
    ASSERT_EQ(full.size(), 49);
    WriteValue(kKey, QStringLiteral("Short"), full.left(48));
    WriteValue(kKey, QStringLiteral("Long"), full + '\0');

    for (const QString& name : {QStringLiteral("Short"), QStringLiteral("Long"), QStringLiteral("Missing")}) {
        TnrLogFile log;
        TnrComm com;
        com.SetLog(&log);
        const TDCB before = com.LineSettings();
        const std::uint16_t port = com.ComPortNo();
        com.LoadConfig(HKEY_CURRENT_USER, kKey, name);
        EXPECT_TRUE(SameDcb(com.LineSettings(), before)) << name.toStdString();
        EXPECT_EQ(com.ComPortNo(), port);
        EXPECT_EQ(com.TimeoutRead(), 0u);
        EXPECT_EQ(WithoutStamps(log.Lines()),
                  QStringList{QStringLiteral("nrComm: Configuration was loaded")});
    }
    // A missing key is created by loading, as by saving.
    TnrComm com;
    com.LoadConfig(HKEY_CURRENT_USER, QStringLiteral("Software\\New"), QStringLiteral("x"));
    EXPECT_TRUE(TnrRegistry().OpenKey(QStringLiteral("Software\\New"), false));
}

TEST_F(StoredConfig, StoredFlowControlGivesWayToTheCurrentProtocol) {
    TnrComm xonxoff;
    xonxoff.SetStreamProtocol(spXonXoff);
    xonxoff.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Flow"));
    ASSERT_EQ(xonxoff.LineSettings().Flags & (DCB_fOutX | DCB_fInX), DCB_fOutX | DCB_fInX);

    TnrComm plain;
    plain.SetStreamProtocol(spNone);
    plain.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Flow"));
    EXPECT_EQ(plain.StreamProtocol(), spNone);
    EXPECT_EQ(plain.LineSettings().Flags & (DCB_fOutX | DCB_fInX), 0u);
    EXPECT_EQ(plain.LineSettings().Flags & DCB_fRtsControlMask, DCB_fRtsControlEnable);

    TnrComm rs485;
    rs485.SetRS485Mode(true);
    rs485.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Flow"));
    EXPECT_EQ(rs485.LineSettings().Flags & DCB_fRtsControlMask, DCB_fRtsControlToggle);
}

TEST_F(StoredConfig, LoadingOnAnOpenPortReopensOnTheStoredNumberWithTheStoredSettings) {
    TPtyPair first, second;
    TTestEnvironment::WritePortMap(
        {QStringLiteral("COM231 = ") + first.SlavePath(), QStringLiteral("COM232 = ") + second.SlavePath()});
    {
        TnrComm stored;
        stored.SetComPortNo(232);
        stored.SetBaudRate(4800);
        stored.SetStopBits(sbTwo);
        stored.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("AIS"));
    }
    TnrComm com;
    int closes = 0;
    QStringList notices;
    com.OnClose = [&](QObject*) { ++closes; };
    com.NotifyAdd([&](QObject*, int code) { notices << QString::number(code); });
    com.SetComPortNo(231);
    com.SetBaudRate(38400);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    notices.clear();

    com.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("AIS"));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(notices, (QStringList{"1", "2", "3"})); // closed, opened, port changed
    ASSERT_TRUE(com.Active());
    EXPECT_EQ(com.ComPortNo(), 232);
    TPtyLineState line;
    ASSERT_TRUE(ReadPtyLineState(second.MasterFd(), line));
    EXPECT_EQ(line.BaudRate, 4800u);
    EXPECT_TRUE(line.TwoStopBits);
    com.SetActive(false);
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST_F(StoredConfig, AFailedReopenRaisesTheOpensOwnErrorAndTheRestIsStillLoaded) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("COM233 = ") + pty.SlavePath()});
    {
        TnrComm stored;
        stored.SetComPortNo(240); // not mapped: opening it fails
        stored.SetBaudRate(2400);
        stored.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Gone"));
    }
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    com.SetComPortNo(233);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    try {
        com.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Gone"));
        ADD_FAILURE() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Device \"COM240\" Open Error !!!"))) << e.what();
    }
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(com.ComPortNo(), 240);

    // With the open's error cleared by the handler, loading goes on to the end.
    com.SetComPortNo(233);
    com.SetActive(true);
    log.Clear();
    com.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) {
        raise = false;
    };
    EXPECT_NO_THROW(com.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Gone")));
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(com.BaudRate(), 2400u);
    EXPECT_TRUE(log.Lines().last().endsWith(QStringLiteral("nrComm: Configuration was loaded")));
    EXPECT_TRUE(AllPortThreadsEnded());
}

TEST_F(StoredConfig, AnUnusableStoreIsTheFatalErrorOfSaveOrLoad) {
    TnrLogFile log;
    TnrComm com;
    com.SetLog(&log);
    struct TFatal {
        std::uint32_t Code, Detail;
        QString Msg;
    };
    std::vector<TFatal> fatal;
    bool raise = true;
    com.OnFatalError = [&](QObject*, std::uint32_t code, std::uint32_t detail, const QString& msg, bool& r) {
        fatal.push_back({code, detail, msg});
        r = raise;
    };

    // A file where the key's folder should be: nothing can be stored below it.
    const QString blocked = QStringLiteral("Software\\Blocked");
    QDir().mkpath(RootFolder(HKEY_CURRENT_USER));
    {
        QFile f(RootFolder(HKEY_CURRENT_USER) + QLatin1Char('/') + TnrRegistry::KeyFileName(blocked));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    try {
        com.SaveConfig(HKEY_CURRENT_USER, blocked, QStringLiteral("v"));
        ADD_FAILURE() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Error on save config information from registry"));
    }
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].Code, 1u);
    EXPECT_EQ(fatal[0].Detail, 0u);
    const QStringList lines = WithoutStamps(log.Lines());
    ASSERT_EQ(lines.size(), 2);
    // The store's reason, naming the key and the system's text, then the fatal error.
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Software\\Blocked"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Not a directory"))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Fatal Error: 1, 0, Error on save config information from registry"));

    // A folder where the value should be: it can't be read.
    ASSERT_TRUE(QDir().mkpath(ValuePath(kKey, QStringLiteral("Dir"))));
    raise = false; // the handler declines: the operation returns normally
    const TDCB before = com.LineSettings();
    EXPECT_NO_THROW(com.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Dir")));
    ASSERT_EQ(fatal.size(), 2u);
    EXPECT_EQ(fatal[1].Msg, QStringLiteral("Error on load config information from registry"));
    EXPECT_TRUE(SameDcb(com.LineSettings(), before));
    EXPECT_FALSE(log.Lines().last().endsWith(QStringLiteral("Configuration was loaded")));

    // Saving onto that folder fails as well; the value beside it is still fine.
    log.Clear();
    EXPECT_NO_THROW(com.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Dir")));
    EXPECT_EQ(fatal.size(), 3u);
    com.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("Fine"));
    EXPECT_EQ(fatal.size(), 3u);
    EXPECT_EQ(FileBytes(ValuePath(kKey, QStringLiteral("Fine"))).size(), 49);
}

TEST_F(StoredConfig, ADamagedValueLosesOnlyItself) {
    TnrComm a, b;
    a.SetBaudRate(1200);
    b.SetBaudRate(115200);
    a.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("A"));
    b.SaveConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("B"));

    // A truncated file is a value of the wrong size: ignored.
    {
        QFile f(ValuePath(kKey, QStringLiteral("A")));
        ASSERT_TRUE(f.resize(20));
    }
    TnrComm reader;
    reader.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("A"));
    EXPECT_EQ(reader.BaudRate(), 19200u);
    reader.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("B"));
    EXPECT_EQ(reader.BaudRate(), 115200u);

    // A value of the right size holding line settings no port can have is refused as a
    // whole: nothing of it reaches the component.
    QByteArray bad = FileBytes(ValuePath(kKey, QStringLiteral("B")));
    bad[0] = 7;
    bad[1 + 18] = 9; // nine data bits
    WriteValue(kKey, QStringLiteral("B"), bad);
    TnrComm other;
    std::vector<QString> fatal;
    other.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString& msg, bool& raise) {
        fatal.push_back(msg);
        raise = false;
    };
    const TDCB before = other.LineSettings();
    other.LoadConfig(HKEY_CURRENT_USER, kKey, QStringLiteral("B"));
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0], QStringLiteral("Error on load config information from registry"));
    EXPECT_TRUE(SameDcb(other.LineSettings(), before));
    EXPECT_EQ(other.ComPortNo(), 1);
}
