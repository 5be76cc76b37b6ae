// The port selection box on real offscreen widgets, linked to components whose device
// lists come from map files.
#include "listcomponent.h"
#include "machine.h"
#include "nrapplication.h"
#include "nrcommbox.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

QStringList Entries(const QComboBox& box) {
    QStringList result;
    for (int i = 0; i < box.count(); ++i)
        result << box.itemText(i);
    return result;
}

// The user presses the down key on the closed box: the next entry is picked.
void PickNext(QComboBox& box) {
    QTest::keyClick(&box, Qt::Key_Down);
}

class DeviceBox : public testing::Test {
protected:
    DeviceBox() {
        machine.WriteMap({QStringLiteral("COM1 = /dev/pts/11"), QStringLiteral("COM3 = /dev/pts/13"),
                          QStringLiteral("COM4 = /dev/serial/by-id/usb-Prolific-if00-port0")});
    }
    TRecordedMachine machine{false};
};

} // namespace

TEST_F(DeviceBox, LinkingShowsTheListSelectsThePortAndTellsTheDevicePath) {
    TListComponent io;
    io.PortNo = 3;
    TnrDeviceBox box;
    box.SetResetOnChanged(true);
    box.SetnrComm(&io);
    EXPECT_EQ(Entries(box), (QStringList{"COM1", "COM3", "COM4"}));
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(box.currentText(), QStringLiteral("COM3"));
    EXPECT_EQ(box.itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/pts/11"));
    EXPECT_EQ(box.itemData(2, Qt::ToolTipRole).toString(),
              QStringLiteral("/dev/serial/by-id/usb-Prolific-if00-port0"));
    EXPECT_EQ(box.EntryDevice(2), io.Device(2));
    EXPECT_EQ(box.nrComm(), &io);
    EXPECT_TRUE(box.ResetOnChanged());
    EXPECT_FALSE(box.isEditable());
    EXPECT_EQ(box.maxVisibleItems(), 8);
    EXPECT_EQ(io.ListenerCount(), 1);

    // A port the list does not hold: every entry, nothing selected, no text.
    TListComponent other;
    other.PortNo = 7;
    box.SetnrComm(&other);
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_TRUE(box.currentText().isEmpty());
}

TEST_F(DeviceBox, PickingSetsThePortBeforeOnChangeAndCodeSelectionsAreNoPicks) {
    TListComponent io;
    io.PortNo = 3;
    TnrDeviceBox box;
    box.SetnrComm(&io);
    QList<std::int32_t> portAtChange;
    box.OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &box);
        portAtChange << io.PortNo;
    };
    PickNext(box);
    EXPECT_EQ(portAtChange, (QList<std::int32_t>{4}));
    EXPECT_EQ(io.PortNo, 4);
    EXPECT_EQ(box.currentIndex(), 2);

    box.setCurrentIndex(0); // from code: no pick
    EXPECT_EQ(io.PortNo, 4);
    EXPECT_EQ(portAtChange.size(), 1);

    // A handler that puts the old port back: the box follows through notification 3.
    box.setCurrentIndex(2);
    box.OnChange = [&](QObject*) { io.SetDeviceIndex(io.IndexOfData(1)); };
    QTest::keyClick(&box, Qt::Key_Up); // picks COM3
    EXPECT_EQ(io.PortNo, 1);
    EXPECT_EQ(box.currentIndex(), 0);
}

TEST_F(DeviceBox, AFailingPickIsShownOnceAndSkipsOnChange) {
    QStringList shown;
    auto previous =
        SetUserMessageHandler([&](TUserMessageKind, const QString& text, const QString&) { shown << text; });
    TListComponent io;
    io.PortNo = 1;
    TnrDeviceBox box;
    box.SetnrComm(&io);
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };
    io.FailSelection = QStringLiteral("COM3: Permission denied");
    PickNext(box);
    SetUserMessageHandler(previous);
    EXPECT_EQ(shown, QStringList{"COM3: Permission denied"});
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(box.currentIndex(), 0); // what the component still holds
}

TEST_F(DeviceBox, ReloadsOnPortChangesOnlyAndFollowsOnlyTheLinkedComponent) {
    TListComponent gps, ais;
    gps.PortNo = 1;
    ais.PortNo = 4;
    TnrDeviceBox box;
    box.SetnrComm(&gps);
    const int requests = gps.ListRequests;
    gps.DoNotify(NOTIFY_CLOSED);
    gps.DoNotify(NOTIFY_OPENED);
    EXPECT_EQ(gps.ListRequests, requests); // open and close rebuild nothing
    gps.PortNo = 3;
    gps.DoNotify(NOTIFY_DEVICE_CHANGED);
    EXPECT_EQ(gps.ListRequests, requests + 1);
    EXPECT_EQ(box.currentIndex(), 1);

    box.SetnrComm(&ais);
    EXPECT_EQ(gps.ListenerCount(), 0);
    EXPECT_EQ(ais.ListenerCount(), 1);
    EXPECT_EQ(box.currentIndex(), 2);
    const int aisRequests = ais.ListRequests;
    gps.DoNotify(NOTIFY_DEVICE_CHANGED);
    EXPECT_EQ(ais.ListRequests, aisRequests);

    box.SetnrComm(nullptr);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(ais.ListenerCount(), 0);
    EXPECT_EQ(box.nrComm(), nullptr);
}

TEST_F(DeviceBox, TheComponentGoingAwayLeavesAnUnlinkedBox) {
    auto io = std::make_unique<TListComponent>();
    io->PortNo = 3;
    TnrDeviceBox box;
    box.SetnrComm(io.get());
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };
    io.reset();
    EXPECT_EQ(box.nrComm(), nullptr);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.count(), 3); // the stale entries stay, unused
    EXPECT_EQ(box.EntryDevice(0), nullptr);
    PickNext(box);
    EXPECT_EQ(changes, 0);
    TMessage nodes{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
    EXPECT_FALSE(box.WMDeviceChange(nodes));
}

TEST_F(DeviceBox, ABoxGoingAwayUnregistersItself) {
    TListComponent io;
    auto box = std::make_unique<TnrDeviceBox>();
    box->SetnrComm(&io);
    EXPECT_EQ(io.ListenerCount(), 1);
    box.reset();
    EXPECT_EQ(io.ListenerCount(), 0);
    io.Update(); // no listener left to reach a freed box

    // A reload whose enumeration raises leaves the box neither linked nor registered.
    box = std::make_unique<TnrDeviceBox>();
    box->SetnrComm(&io);
    io.ClearDeviceList();
    io.FailLoad = QStringLiteral("udev: Input/output error");
    EXPECT_THROW(box->Reload(), ENrException);
    EXPECT_EQ(box->nrComm(), nullptr);
    EXPECT_EQ(io.ListenerCount(), 0);
    box.reset();
    io.FailLoad.clear();
    io.Update();
}

TEST_F(DeviceBox, TwoBoxesOnOneComponentBothFollowIt) {
    TListComponent io;
    io.PortNo = 1;
    TnrDeviceBox first, second;
    first.SetnrComm(&io);
    second.SetnrComm(&io);
    // Listeners are told apart by routine and object: both boxes are registered.
    EXPECT_EQ(io.ListenerCount(), 2);
    PickNext(first);
    EXPECT_EQ(io.PortNo, 3);
    EXPECT_EQ(second.currentIndex(), 1);

    first.SetnrComm(nullptr);
    EXPECT_EQ(io.ListenerCount(), 1);
    io.SetDeviceIndex(2);
    EXPECT_EQ(second.currentIndex(), 2);
    EXPECT_EQ(first.count(), 0);
}

TEST_F(DeviceBox, DeviceChangeMessagesReachTheComponentAndRefreshTheBox) {
    TListComponent io;
    TnrDeviceBox box;
    TMessage nodes{WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, 0};
    EXPECT_FALSE(box.WMDeviceChange(nodes)); // unlinked
    box.SetnrComm(&io);
    machine.WriteMap({QStringLiteral("COM1 = /dev/pts/11"), QStringLiteral("COM9 = /dev/pts/19")});
    EXPECT_EQ(box.count(), 3); // the list is kept until told
    EXPECT_TRUE(box.WMDeviceChange(nodes));
    EXPECT_EQ(Entries(box), (QStringList{"COM1", "COM9"}));
    EXPECT_EQ(box.itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/pts/19"));
}
