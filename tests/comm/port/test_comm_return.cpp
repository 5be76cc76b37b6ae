// A port whose device vanished comes back when the device returns: pseudo-terminals
// behind a link named in the map file play the USB adapter; removing the link and closing
// the master pulls it out, a new pseudo-terminal behind a link made again plugs it back.

#include "commtestutil.h"
#include "nrcomm.h"
#include "ptylinestate.h"
#include "ptypair.h"
#include "testenv.h"

#include "platform/nrportmap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

class CommReturn : public testing::Test {
protected:
    void SetUp() override {
        MapOnlyTestPorts();
        fSaved = SerialPortMapSources();
        TnrPortMapSources sources = fSaved;
        sources.DevRoot = fDev.path(); // where the by-id links are looked for
        SetSerialPortMapSources(sources);
        QDir().mkpath(fDev.filePath(QStringLiteral("serial/by-id")));
        QDir().mkpath(fDev.filePath(QStringLiteral("serial/by-path")));
        TTestEnvironment::WritePortMap({QStringLiteral("COM221 = ") + Link()});
        Plug();
        Com.SetComPortNo(221);
        Com.SetBaudRate(4800);
        Com.SetReopenOnReturn(true);
        Com.OnAfterReceive = [this](QObject*, const std::uint8_t* d, std::uint32_t n) {
            std::lock_guard g(fLock);
            fBytes.append(reinterpret_cast<const char*>(d), static_cast<qsizetype>(n));
        };
        Com.OnDeviceReturn = [this](QObject*, TDeviceReturn r, std::uint32_t error) {
            Results.push_back(r);
            Errors.push_back(error);
        };
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
        SetSerialPortMapSources(fSaved);
    }

    // The map's path: a by-path link, as for an adapter named by its USB socket.
    QString Link() const { return fDev.filePath(QStringLiteral("serial/by-path/pci-usb-0:2:1.0-port0")); }
    QString ById(const QString& name) const { return fDev.filePath(QStringLiteral("serial/by-id/") + name); }

    // A new adapter behind the link, with these by-id names.
    void Plug(const QStringList& byId = {}) {
        Pty = std::make_unique<TPtyPair>();
        ASSERT_TRUE(QFile::link(Pty->SlavePath(), Link()));
        for (const QString& name : byId)
            ASSERT_TRUE(QFile::link(Pty->SlavePath(), ById(name)));
    }
    // The adapter pulled out: its links go, the port sees its device fail.
    void Pull() {
        QFile::remove(Link());
        const QDir byId(fDev.filePath(QStringLiteral("serial/by-id")));
        for (const QString& name : byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            QFile::remove(ById(name));
        Pty->CloseMaster();
        ASSERT_TRUE(WaitUntil([&] { return !Com.Active(); }));
        ASSERT_TRUE(WaitUntil([&] { return !Com.ReopenOnReturn() || Com.WaitingForReturn(); }));
    }
    // True when bytes written now arrive.
    bool Receives(const QByteArray& bytes) {
        {
            std::lock_guard g(fLock);
            fBytes.clear();
        }
        Pty->Write(bytes);
        return WaitUntil([&] {
            std::lock_guard g(fLock);
            return fBytes == bytes;
        });
    }

    TnrPortMapSources fSaved;
    QTemporaryDir fDev;
    std::mutex fLock;
    QByteArray fBytes;
    std::unique_ptr<TPtyPair> Pty;
    std::vector<TDeviceReturn> Results;
    std::vector<std::uint32_t> Errors;
    TnrComm Com;
};

} // namespace

TEST_F(CommReturn, AVanishedDeviceIsReopenedWithItsSettingsWhenItReturns) {
    EXPECT_FALSE(TnrComm().ReopenOnReturn()); // off unless a host asks for it
    for (const bool useMainThread : {true, false}) {
        Com.SetUseMainThread(useMainThread);
        Com.SetActive(true);
        ASSERT_TRUE(Receives("$GPGGA,1*00\r"));
        Pull();
        EXPECT_TRUE(Com.WaitingForReturn());
        Plug();
        ASSERT_TRUE(WaitUntil([&] { return Com.Active(); }, std::chrono::seconds(2)));
        EXPECT_EQ(Results.back(), drReopened);
        EXPECT_FALSE(Com.WaitingForReturn());
        TPtyLineState line;
        ASSERT_TRUE(ReadPtyLineState(Pty->MasterFd(), line));
        EXPECT_EQ(line.BaudRate, 4800u);
        EXPECT_TRUE(Receives("$GPGGA,2*00\r"));
        Com.SetActive(false);
    }
    EXPECT_EQ(Results.size(), 2u);

    // Switched off: a vanished port stays closed.
    Com.SetActive(true);
    Com.SetReopenOnReturn(false);
    Pull();
    Plug();
    ProcessEventsFor(std::chrono::milliseconds(700));
    EXPECT_FALSE(Com.Active());
    EXPECT_EQ(Results.size(), 2u);
}

TEST_F(CommReturn, APortTheHostClosedIsNotReopened) {
    // Closed by the host before the device went.
    Com.SetActive(true);
    Com.SetActive(false);
    QFile::remove(Link());
    Pty->CloseMaster();
    Plug();
    ProcessEventsFor(std::chrono::milliseconds(700));
    EXPECT_FALSE(Com.Active());

    // Closed by the host (the channel's Close button) while it waited for the device.
    Com.SetActive(true);
    Pull();
    ASSERT_TRUE(Com.WaitingForReturn());
    Com.SetActive(false);
    EXPECT_FALSE(Com.WaitingForReturn());
    Plug();
    ProcessEventsFor(std::chrono::milliseconds(700));
    EXPECT_FALSE(Com.Active());
    EXPECT_TRUE(Results.empty());
}

TEST_F(CommReturn, AReturnThatCannotBeOpenedIsToldOnceAndTriedAgainAtTheNextReturn) {
    TMessageCapture boxes;
    int fatal = 0;
    Com.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString&, bool&) { ++fatal; };
    Com.SetActive(true);
    Pull();
    Plug();
    // Another program holds the returned device.
    const int holder = ::open(QFile::encodeName(Pty->SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(WaitUntil([&] { return !Results.empty(); }, std::chrono::seconds(2)));
    ProcessEventsFor(std::chrono::milliseconds(700)); // several looks at the path
    EXPECT_EQ(Results, std::vector<TDeviceReturn>({drOpenFailed}));
    EXPECT_NE(Errors.back(), 0u);
    EXPECT_FALSE(Com.Active());
    EXPECT_EQ(Com.ComPortNo(), 221); // no setting changed
    EXPECT_EQ(fatal, 0);
    EXPECT_EQ(boxes.Count(), 0);

    ::close(holder);
    Pull();
    Plug();
    ASSERT_TRUE(WaitUntil([&] { return Com.Active(); }, std::chrono::seconds(2)));
    EXPECT_EQ(Results, std::vector<TDeviceReturn>({drOpenFailed, drReopened}));
    EXPECT_TRUE(Receives("!AIVDM,1*00\r"));
}

TEST_F(CommReturn, AnotherAdapterBehindTheSamePathIsNotOpened) {
    QFile::remove(Link());
    Plug({QStringLiteral("usb-GPS_A10K3X4R-if00-port0")});
    Com.SetActive(true);
    Pull();
    // Another adapter in the same socket.
    Plug({QStringLiteral("usb-AIS_B77Q2-if00-port0")});
    ASSERT_TRUE(WaitUntil([&] { return !Results.empty(); }, std::chrono::seconds(2)));
    ProcessEventsFor(std::chrono::milliseconds(400));
    EXPECT_EQ(Results, std::vector<TDeviceReturn>({drOtherDevice}));
    EXPECT_FALSE(Com.Active());

    // The adapter itself, back in its socket.
    Pty->CloseMaster();
    QFile::remove(Link());
    QFile::remove(ById(QStringLiteral("usb-AIS_B77Q2-if00-port0")));
    Plug({QStringLiteral("usb-GPS_A10K3X4R-if00-port0")});
    ASSERT_TRUE(WaitUntil([&] { return Com.Active(); }, std::chrono::seconds(2)));
    EXPECT_EQ(Results.back(), drReopened);
}
