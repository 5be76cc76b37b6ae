// The device monitor turns device events into device-change messages; the events come
// through a real pipe and the Qt event loop, as udev's would through its socket.
#include "listcomponent.h"
#include "machine.h"
#include "nrcommbox.h"
#include "nrdevicemonitor.h"
#include "pipeeventsource.h"
#include "testenv.h"

#include <QTextStream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct TSeen {
    std::uint32_t msg;
    std::uintptr_t change;
    std::uint32_t type;
    QString name;
};

} // namespace

TEST(DeviceMonitor, TtyArrivalsAndRemovalsBecomePortMessages) {
    TnrDeviceMonitor monitor;
    auto source = std::make_unique<TPipeEventSource>();
    const TPipeEventSource* events = source.get();
    monitor.SetSource(std::move(source));
    QList<TSeen> seen;
    monitor.OnDeviceChange = [&](QObject* sender, TMessage& msg) {
        EXPECT_EQ(sender, &monitor);
        const auto* port = reinterpret_cast<const TDevBroadcastPort*>(msg.LParam);
        seen.append({msg.Msg, msg.WParam, port->Header.dbch_devicetype,
                     QString::fromStdU16String(std::u16string(port->Name))});
    };
    monitor.SetActive(true);
    ASSERT_TRUE(monitor.Active());

    events->Send("add tty ttyUSB0 /dev/ttyUSB0");
    events->Send("change tty ttyUSB0 /dev/ttyUSB0");  // not an arrival or removal
    events->Send("add usb 1-2 /dev/bus/usb/001/004"); // not a tty
    events->Send("remove tty ttyUSB0 /dev/ttyUSB0");
    ASSERT_TRUE(WaitUntil([&] { return seen.size() == 2; }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].msg, WM_DEVICECHANGE);
    EXPECT_EQ(seen[0].change, DBT_DEVICEARRIVAL);
    EXPECT_EQ(seen[0].type, DBT_DEVTYP_PORT);
    EXPECT_EQ(seen[0].name, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(seen[1].change, DBT_DEVICEREMOVECOMPLETE);

    monitor.SetActive(false);
    events->Send("add tty ttyUSB1 /dev/ttyUSB1");
    ProcessEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(seen.size(), 2);
    monitor.SetActive(true); // what waited meanwhile is delivered now
    EXPECT_TRUE(WaitUntil([&] { return seen.size() == 3; }));
}

TEST(DeviceMonitor, AHostHookReloadsTheComponentAndItsBox) {
    TRecordedMachine machine(false);
    machine.WriteMap({QStringLiteral("COM1 = /dev/pts/11")});
    TListComponent io;
    TnrDeviceBox box;
    box.SetnrComm(&io);
    ASSERT_EQ(box.count(), 1);

    TnrDeviceMonitor monitor;
    auto source = std::make_unique<TPipeEventSource>();
    const TPipeEventSource* events = source.get();
    monitor.SetSource(std::move(source));
    int reloaded = 0;
    monitor.OnDeviceChange = [&](QObject*, TMessage& msg) { reloaded += io.WMDeviceChange(msg) ? 1 : 0; };
    monitor.SetActive(true);

    machine.WriteMap({QStringLiteral("COM1 = /dev/pts/11"), QStringLiteral("COM33 = /dev/ttyUSB0")});
    events->Send("add tty ttyUSB0 /dev/ttyUSB0");
    ASSERT_TRUE(WaitUntil([&] { return reloaded == 1; }));
    EXPECT_EQ(box.count(), 2);
    EXPECT_EQ(box.itemText(1), QStringLiteral("COM33"));
}

TEST(DeviceMonitor, UdevSourceWhereTheSystemOffersIt) {
    std::unique_ptr<TDeviceEventSource> source = CreateUdevEventSource();
    if (!source) GTEST_SKIP() << "no libudev monitor on this machine";
    EXPECT_GE(source->Descriptor(), 0);
    TnrDeviceMonitor monitor;
    monitor.SetSource(std::move(source));
    monitor.SetActive(true);
    EXPECT_TRUE(monitor.Active());
    ProcessEventsFor(std::chrono::milliseconds(20)); // nothing arrives here; nothing breaks
}
