// The selection box with port threads: notifications from a port's own thread, and a
// pick that moves an open port to another pseudo-terminal.
#include "listcomponent.h"
#include "machine.h"
#include "nrcommbox.h"
#include "ptypair.h"
#include "testenv.h"

#include <QTest>
#include <gtest/gtest.h>
#include <thread>

TEST(DeviceBoxThreads, ACloseFromAPortThreadIsIgnoredAndAChangeIsPassedToTheBoxThread) {
    TRecordedMachine machine(false);
    machine.WriteMap({QStringLiteral("COM1 = /dev/pts/11"), QStringLiteral("COM2 = /dev/pts/12")});
    TListComponent io;
    io.PortNo = 1;
    TnrDeviceBox box;
    box.SetnrComm(&io);
    const int requests = io.ListRequests;

    std::thread closer([&] { box.CommNotify(&io, NOTIFY_CLOSED); });
    closer.join();
    ProcessEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(io.ListRequests, requests);

    io.PortNo = 2; // as the component's own thread would have left it
    std::thread changer([&] { box.CommNotify(&io, NOTIFY_DEVICE_CHANGED); });
    changer.join();
    EXPECT_EQ(io.ListRequests, requests); // not on the port's thread
    EXPECT_TRUE(WaitUntil([&] { return box.currentIndex() == 1; }));
    EXPECT_EQ(io.ListRequests, requests + 1);
}

TEST(DeviceBoxThreads, PickingAnotherPortReopensAnOpenPortOnIt) {
    TPtyPair gps, spare;
    TRecordedMachine machine(false);
    machine.WriteMap(
        {QStringLiteral("COM5 = ") + gps.SlavePath(), QStringLiteral("COM6 = ") + spare.SlavePath()});
    TnrComm com;
    com.SetUseMainThread(true);
    QByteArray received;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* d, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(d), n);
    };
    com.SetComPortNo(5);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());

    TnrDeviceBox box;
    box.SetnrComm(&com);
    ASSERT_EQ(box.currentIndex(), 0);
    EXPECT_EQ(box.itemData(1, Qt::ToolTipRole).toString(), spare.SlavePath());
    bool openAtChange = false;
    std::uint16_t portAtChange = 0;
    box.OnChange = [&](QObject*) {
        openAtChange = com.Active();
        portAtChange = com.ComPortNo();
    };
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(portAtChange, 6);
    EXPECT_TRUE(openAtChange);
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(com.ComName(), QStringLiteral("COM6"));

    // The component now listens on the spare line, and no longer on the first.
    gps.Write("$GPGGA\r");
    spare.Write("!AIVDM\r");
    EXPECT_TRUE(WaitUntil([&] { return received.contains("!AIVDM\r"); }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(received, QByteArray("!AIVDM\r"));
    com.SetActive(false);
}
