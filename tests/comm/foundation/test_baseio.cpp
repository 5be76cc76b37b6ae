// The I/O component base: Active and the open/close operations, the fatal-error path,
// the loading state, links with free notification, the log writers and the base part of
// the device list.
#include "nrapplication.h"
#include "nrdataprocessor.h"
#include "testio.h"

#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

// Collects what would have been shown in error boxes.
struct TShownMessages {
    QStringList texts;
    QStringList captions;
    TUserMessageHandler previous;
    TShownMessages() {
        previous = SetUserMessageHandler([this](TUserMessageKind, const QString& text, const QString& caption) {
            texts.append(text);
            captions.append(caption);
        });
    }
    ~TShownMessages() { SetUserMessageHandler(previous); }
};

} // namespace

TEST(BaseIO, ActiveOpensAndClosesOnlyOnAChange) {
    TTestIO io;
    int closes = 0;
    io.OnClose = [&](QObject* sender) {
        EXPECT_EQ(sender, &io);
        EXPECT_FALSE(io.IsOpen()); // the device is already closed when OnClose runs
        ++closes;
    };
    EXPECT_FALSE(io.Active());
    io.SetActive(false); // closed -> closed: nothing
    EXPECT_EQ(io.doCloseCalls, 0);

    io.SetActive(true);
    EXPECT_TRUE(io.Active());
    EXPECT_EQ(io.doOpenCalls, 1);
    EXPECT_NE(io.Handle(), INVALID_HANDLE_VALUE);
    io.SetActive(true); // open -> open: nothing
    EXPECT_EQ(io.doOpenCalls, 1);
    EXPECT_EQ(io.openDeviceCalls, 1);

    auto device = io.lastDevice;
    io.SetActive(false);
    EXPECT_FALSE(io.Active());
    EXPECT_EQ(io.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device->closed);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(io.doCloseCalls, 1);
}

TEST(BaseIO, FailedOpenLeavesTheDeviceClosedWithoutOnClose) {
    TTestIO io;
    io.openSucceeds = false;
    int closes = 0;
    io.OnClose = [&](QObject*) { ++closes; };
    io.SetActive(true);
    EXPECT_FALSE(io.Active());
    EXPECT_EQ(io.openDeviceCalls, 1);
    io.SetActive(false);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(io.doCloseCalls, 0);
}

TEST(BaseIO, ExceptionFromOnCloseIsDroppedAfterTheDeviceClosed) {
    TTestIO io;
    io.OnClose = [](QObject*) { throw std::runtime_error("handler failed"); };
    io.SetActive(true);
    auto device = io.lastDevice;
    EXPECT_NO_THROW(io.SetActive(false));
    EXPECT_FALSE(io.Active());
    EXPECT_TRUE(device->closed);
}

TEST(BaseIO, FatalErrorRaisesUnlessTheHandlerClearsIt) {
    TTestIO io;
    TnrLogFile log;
    io.SetLog(&log);
    io.sLogPrefix = QStringLiteral("nrComm: ");
    QStringList order;
    io.OnFatalError = [&](QObject* sender, std::uint32_t code, std::uint32_t detail, const QString& msg, bool& raise) {
        EXPECT_EQ(sender, &io);
        EXPECT_TRUE(raise);
        EXPECT_TRUE(log.Lines().isEmpty()); // the handler runs before the log line
        order.append(QStringLiteral("%1/%2/%3").arg(code).arg(detail).arg(msg));
    };
    try {
        io.DoFatalError(1, 7, QStringLiteral("Device lost"));
        FAIL() << "no exception";
    } catch (const ENrException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Device lost"));
    }
    EXPECT_EQ(order, QStringList{"1/7/Device lost"});
    ASSERT_EQ(log.Lines().size(), 1);
    // The fatal-error line carries no prefix.
    EXPECT_TRUE(log.Lines()[0].endsWith(QStringLiteral(" Fatal Error: 1, 7, Device lost"))) << log.Lines()[0].toStdString();

    io.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) { raise = false; };
    EXPECT_NO_THROW(io.DoFatalError(2, 0, QStringLiteral("quiet")));
    EXPECT_EQ(log.Lines().size(), 2); // still logged
}

TEST(BaseIO, FatalErrorShowOnlyShowsTheBoxInsteadOfRaising) {
    TShownMessages shown;
    TTestIO io;
    EXPECT_NO_THROW(io.DoFatalError(1, 5, QStringLiteral("Port event failed"), true));
    EXPECT_EQ(shown.texts, QStringList{"Port event failed"});

    io.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) { raise = false; };
    io.DoFatalError(1, 5, QStringLiteral("handled"), true);
    EXPECT_EQ(shown.texts.size(), 1); // a handler that cleared it suppresses the box
}

TEST(BaseIO, LoadingRecordsActiveAndSilencesFatalErrors) {
    TShownMessages shown;
    TTestIO io;
    int handlerCalls = 0;
    io.OnFatalError = [&](QObject*, std::uint32_t, std::uint32_t, const QString&, bool&) { ++handlerCalls; };
    io.BeginLoading();
    io.SetActive(true);
    EXPECT_TRUE(io.Active()); // the recorded value
    EXPECT_EQ(io.doOpenCalls, 0);
    EXPECT_NO_THROW(io.DoFatalError(1, 0, QStringLiteral("while loading")));
    EXPECT_NO_THROW(io.DoFatalError(1, 0, QStringLiteral("while loading"), true));
    EXPECT_EQ(handlerCalls, 2);
    EXPECT_TRUE(shown.texts.isEmpty());

    io.Loaded();
    EXPECT_EQ(io.doOpenCalls, 1);
    EXPECT_TRUE(io.IsOpen());
}

TEST(BaseIO, LoadedShowsAnErrorBoxWhenApplyingActiveFails) {
    TShownMessages shown;
    // The failing open raises through the fatal-error path once loading has ended.
    struct TFailingOpen : TTestIO {
        void DoOpen() override {
            TTestIO::DoOpen();
            if (!IsOpen())
                DoFatalError(1, 0, QStringLiteral("cannot open"));
        }
    } failing;
    failing.openSucceeds = false;
    failing.BeginLoading();
    failing.SetActive(true);
    EXPECT_NO_THROW(failing.Loaded()); // loading goes on
    EXPECT_EQ(shown.texts, QStringList{"error"});
    EXPECT_EQ(shown.captions, QStringList{"Error"});
    EXPECT_FALSE(failing.Active());
}

TEST(BaseIO, LogWritersUsePrefixAndEmptyTextAddsSystemInformation) {
    TTestIO io;
    TnrLogFile log;
    io.WriteLog(dlSimple, QStringLiteral("nothing attached")); // no log: no call, no error
    io.SetLog(&log);
    io.sLogPrefix = QStringLiteral("nrComm: ");
    io.WriteLog(dlSimple, QStringLiteral("The port is closed succesfully"));
    io.WriteLogFmt(dlDetail, QStringLiteral("Communication Error %d:%d %X"), {8, 0, 0x1Fu});
    ASSERT_EQ(log.Lines().size(), 2);
    EXPECT_TRUE(log.Lines()[0].endsWith(QStringLiteral(" nrComm: The port is closed succesfully")));
    EXPECT_TRUE(log.Lines()[1].endsWith(QStringLiteral(" nrComm: Communication Error 8:0 1F")));
    io.WriteLog(dlSimple, QString());
    EXPECT_GT(log.Lines().size(), 2);
    EXPECT_TRUE(log.Lines()[2].contains(QStringLiteral("System:")));

    log.SetDetailLevel(dlSimple); // the sink filters by level
    const auto before = log.Lines().size();
    io.WriteLog(dlDebug, QStringLiteral("dropped"));
    EXPECT_EQ(log.Lines().size(), before);
}

TEST(BaseIO, DestroyedLinksAreCleared) {
    TTestIO io;
    auto* log = new TnrLogFile;
    io.SetLog(log);
    io.sLogPrefix = QStringLiteral("nrComm: ");
    delete log;
    EXPECT_EQ(io.Log(), nullptr);
    EXPECT_NO_THROW(io.WriteLog(dlSimple, QStringLiteral("after the sink is gone")));

    auto* edit = new QLineEdit;
    io.SetTerminal(edit);
    EXPECT_EQ(io.Terminal(), edit);
    delete edit;
    EXPECT_EQ(io.Terminal(), nullptr);
    const std::uint8_t byte = 'x';
    EXPECT_NO_THROW(io.DoReceived(&byte, 1));
}

TEST(BaseIO, AbstractLogSinkRaisesAndSinkFatalErrorHonoursItsHandler) {
    TnrCustomLogFile abstractSink;
    EXPECT_THROW(abstractSink.Add(QStringLiteral("x")), EAbstractError);
    EXPECT_THROW(abstractSink.AddLogFmt(dlSimple, QStringLiteral("%d"), {1}), EAbstractError);

    TnrLogFile sink;
    EXPECT_THROW(sink.DoFatalError(3, 0, QStringLiteral("disk full")), ENrException);
    sink.OnFatalError = [](QObject*, std::uint32_t, std::uint32_t, const QString&, bool& raise) { raise = false; };
    EXPECT_NO_THROW(sink.Save()); // no file name: reported through the handler, which clears it
}

TEST(BaseIO, DeviceListInsertKeepsOrderIndexAndRejectsDuplicates) {
    TTestIO io;
    auto make = [](int data) {
        auto* d = new TnrDevice;
        d->Data = data;
        d->NameFriendly = QStringLiteral("COM%1").arg(data);
        return d;
    };
    EXPECT_EQ(io.InsertDevice(make(3)), 0);
    EXPECT_EQ(io.InsertDevice(make(1)), 0);
    EXPECT_EQ(io.InsertDevice(make(2)), 1);
    TnrDevice* duplicate = make(2);
    EXPECT_EQ(io.InsertDevice(duplicate), -1);
    delete duplicate; // not added: still the caller's
    ASSERT_EQ(io.DeviceCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(io.Device(i)->Data, i + 1);
        EXPECT_EQ(io.Device(i)->Index(), i);
        EXPECT_EQ(io.Device(i)->Parent(), &io);
    }
    EXPECT_EQ(io.Device(3), nullptr);
    EXPECT_EQ(io.Device(-1), nullptr);
    EXPECT_EQ(io.IndexOfData(2), 1);
    EXPECT_EQ(io.IndexOfData(9), -1);
    EXPECT_EQ(io.IndexOfDevice(io.Device(2)), 2);

    TnrDeviceList copy;
    io.GetDeviceList(&copy);
    EXPECT_EQ(io.deviceListLoads, 0); // a filled list is copied, not reloaded
    ASSERT_EQ(copy.size(), 3);
    EXPECT_EQ(copy[0].Text, QStringLiteral("COM1"));
    EXPECT_EQ(copy[0].Device, io.Device(0));

    // A list that does not own its records leaves them alive when cleared.
    TnrDevice* kept = io.Device(0);
    io.flClearDeviceListWithFree = false;
    io.ClearDeviceList();
    EXPECT_EQ(io.DeviceCount(), 0);
    EXPECT_EQ(kept->Data, 1);
    for (const auto& entry : copy)
        delete entry.Device;
    io.GetDeviceList(nullptr);
    EXPECT_EQ(io.deviceListLoads, 1); // an empty list is loaded on demand
}

TEST(BaseIO, DeviceChangeMessagesReloadOnlyForPorts) {
    TTestIO io;
    int notices = 0;
    io.NotifyAdd([&](QObject*, int code) { notices += code == NOTIFY_DEVICE_CHANGED; });
    TDevBroadcastHeader volume{12, 2, 0}, port{12, DBT_DEVTYP_PORT, 0};
    TMessage arrival{WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<std::intptr_t>(&volume), 0};
    EXPECT_FALSE(io.WMDeviceChange(arrival));
    arrival.LParam = reinterpret_cast<std::intptr_t>(&port);
    EXPECT_TRUE(io.WMDeviceChange(arrival));
    TMessage nodes{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
    EXPECT_TRUE(io.WMDeviceChange(nodes)); // lParam not looked at
    TMessage other{WM_DEVICECHANGE, 0x8006, 0, 0};
    EXPECT_FALSE(io.WMDeviceChange(other));
    TMessage timer{WM_TIMER, DBT_DEVNODES_CHANGED, 0, 0};
    EXPECT_FALSE(io.WMDeviceChange(timer));
    EXPECT_EQ(notices, 2);
}
